// The libpq layer. Execute waits for the socket with poll(): the same steps an asynchronous
// caller takes, with the waiting done here.
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

void Answer::Add(Result result) {
  try {
    result.Check();
  } catch (const Error& error) {
    if (!failure_) failure_ = error;
  }
  last_ = std::move(result);
}

Result Answer::Finish() {
  if (failure_) throw *failure_;
  if (!last_) throw Error("", "no result");
  return std::move(*last_);
}

// The encoding is a connection option so that no extra round trip sets it.
constexpr const char* kKeywords[] = {"dbname", "client_encoding", nullptr};

Connection::Connection(const std::string& conninfo) {
  const char* const values[] = {conninfo.c_str(), "UTF8", nullptr};
  Adopt(PQconnectdbParams(kKeywords, values, 1));
  if (PQstatus(conn_.get()) != CONNECTION_OK) Fail("cannot connect");
}

Connection::Connection(PGconn* conn) {
  Adopt(conn);
}

void Connection::Adopt(PGconn* conn) {
  conn_.reset(conn);
  if (!conn_) throw Error("", "out of memory for a PostgreSQL connection");
  // Notices ("relation already exists, skipping") are the server talking to itself; libpq
  // would print them on stderr.
  PQsetNoticeProcessor(
      conn_.get(), [](void*, const char*) {}, nullptr);
}

Connection Connection::Start(const std::string& conninfo) {
  const char* const values[] = {conninfo.c_str(), "UTF8", nullptr};
  Connection connection(PQconnectStartParams(kKeywords, values, 1));
  if (PQstatus(connection.conn_.get()) == CONNECTION_BAD) connection.Fail("cannot connect");
  return connection;
}

PostgresPollingStatusType Connection::PollConnect() {
  const PostgresPollingStatusType status = PQconnectPoll(conn_.get());
  if (status == PGRES_POLLING_FAILED) Fail("cannot connect");
  return status;
}

void Connection::SetNonBlocking() {
  if (PQsetnonblocking(conn_.get(), 1) != 0) Fail("cannot switch to non-blocking sends");
}

bool Connection::Flush() {
  const int status = PQflush(conn_.get());
  if (status < 0) Fail("cannot send the query");
  return status == 1;
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
  Answer answer;
  for (;;) {
    while (IsBusy()) {
      WaitReadable();
      ConsumeInput();
    }
    auto result = NextResult();
    if (!result) break;
    answer.Add(std::move(*result));
  }
  return answer.Finish();
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
