// The libpq layer. Until the event loop watches the socket, Execute waits for it with poll():
// the same steps an asynchronous caller takes, with the waiting done here.
#include "data/postgresql_connection.hpp"

#include <poll.h>

#include <cerrno>
#include <vector>

namespace talvex::data::pg {

namespace {

// libpq's messages end in a newline; ours are one line.
std::string OneLine(const char* message) {
  std::string text = message ? message : "";
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text.empty() ? "unknown PostgreSQL error" : text;
}

}  // namespace

void Result::Check() const {
  const ExecStatusType status = PQresultStatus(result_.get());
  if (status != PGRES_FATAL_ERROR && status != PGRES_BAD_RESPONSE &&
      status != PGRES_NONFATAL_ERROR) {
    return;
  }
  const char* sqlState = PQresultErrorField(result_.get(), PG_DIAG_SQLSTATE);
  const char* primary = PQresultErrorField(result_.get(), PG_DIAG_MESSAGE_PRIMARY);
  throw Error(sqlState ? sqlState : "",
              OneLine(primary ? primary : PQresultErrorMessage(result_.get())));
}

Connection::Connection(const std::string& conninfo) {
  // The encoding is a connection option so that no extra round trip sets it.
  const char* const keywords[] = {"dbname", "client_encoding", nullptr};
  const char* const values[] = {conninfo.c_str(), "UTF8", nullptr};
  conn_.reset(PQconnectdbParams(keywords, values, 1));
  if (!conn_) throw Error("", "out of memory for a PostgreSQL connection");
  if (PQstatus(conn_.get()) != CONNECTION_OK) Fail("cannot connect");
  // Notices ("relation already exists, skipping") are the server talking to itself; libpq
  // would print them on stderr.
  PQsetNoticeProcessor(
      conn_.get(), [](void*, const char*) {}, nullptr);
}

void Connection::Fail(std::string_view what) const {
  throw Error("", std::string(what) + ": " + OneLine(PQerrorMessage(conn_.get())));
}

void Connection::Send(std::string_view sql, std::span<const Parameter> parameters) {
  const std::string text(sql);
  std::vector<const char*> values;
  values.reserve(parameters.size());
  for (const Parameter& parameter : parameters) {
    values.push_back(parameter ? parameter->c_str() : nullptr);
  }
  if (PQsendQueryParams(conn_.get(), text.c_str(), static_cast<int>(values.size()), nullptr,
                        values.data(), nullptr, nullptr, 0) == 0) {
    Fail("cannot send the query");
  }
}

void Connection::SendScript(std::string_view sql) {
  const std::string text(sql);
  if (PQsendQuery(conn_.get(), text.c_str()) == 0) Fail("cannot send the query");
}

void Connection::ConsumeInput() {
  if (PQconsumeInput(conn_.get()) == 0) Fail("lost the connection");
}

std::optional<Result> Connection::NextResult() {
  PGresult* result = PQgetResult(conn_.get());
  if (!result) return std::nullopt;
  return Result(result);
}

void Connection::WaitReadable() const {
  pollfd watched{Socket(), POLLIN, 0};
  while (poll(&watched, 1, -1) < 0) {
    if (errno != EINTR) Fail("cannot wait for the server");
  }
}

// Reads every result of the query, so that the connection is ready for the next one, and
// throws for the first that failed.
Result Connection::Collect() {
  while (IsBusy()) {
    WaitReadable();
    ConsumeInput();
  }
  std::optional<Result> last;
  std::optional<Error> failure;
  while (auto result = NextResult()) {
    try {
      result->Check();
    } catch (const Error& error) {
      if (!failure) failure = error;
    }
    last = std::move(result);
    while (IsBusy()) {
      WaitReadable();
      ConsumeInput();
    }
  }
  if (failure) throw *failure;
  if (!last) Fail("no result");
  return std::move(*last);
}

Result Connection::Execute(std::string_view sql, std::span<const Parameter> parameters) {
  Send(sql, parameters);
  return Collect();
}

Result Connection::ExecuteScript(std::string_view sql) {
  SendScript(sql);
  return Collect();
}

std::string_view Connection::ParameterStatus(const char* name) const {
  const char* value = PQparameterStatus(conn_.get(), name);
  return value ? value : "";
}

}  // namespace talvex::data::pg
