// A thin RAII layer over libpq: one pg::Connection owns one PGconn, one pg::Result one
// PGresult. A query is sent, its answer read from the socket as it arrives and its results
// collected, in separate steps, so that a caller can wait for the socket in an event loop; the
// Execute calls do those steps in order and wait for the socket here. A connection can also be
// opened in steps (Start, then PollConnect as its socket allows) and switched to non-blocking
// sends, for callers that wait in an event loop. Errors throw pg::Error with the server's
// SQLSTATE and primary message.
#pragma once

#include <libpq-fe.h>

#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace talvex::data::pg {

// SQLSTATE of what a PL/pgSQL RAISE EXCEPTION raises without naming one: a procedure's own
// refusal of the call.
inline constexpr std::string_view kRaiseException = "P0001";

class Error : public std::runtime_error {
 public:
  Error(std::string sqlState, const std::string& message)
      : std::runtime_error(message), sqlState_(std::move(sqlState)) {}
  // Five characters; empty when the failure came from libpq or the connection, not the server.
  const std::string& SqlState() const { return sqlState_; }

 private:
  std::string sqlState_;
};

// A text parameter; nothing is SQL NULL. The server converts the text to the type that the
// statement gives the parameter.
using Parameter = std::optional<std::string>;

class Result {
 public:
  explicit Result(PGresult* result) : result_(result) {}

  int Rows() const { return PQntuples(result_.get()); }
  int Columns() const { return PQnfields(result_.get()); }
  std::string_view ColumnName(int column) const { return PQfname(result_.get(), column); }
  Oid ColumnType(int column) const { return PQftype(result_.get(), column); }
  bool IsNull(int row, int column) const { return PQgetisnull(result_.get(), row, column) != 0; }
  std::string_view Value(int row, int column) const {
    return {PQgetvalue(result_.get(), row, column),
            static_cast<std::size_t>(PQgetlength(result_.get(), row, column))};
  }

  // Throws pg::Error when the result reports a failure.
  void Check() const;

 private:
  struct Clear {
    void operator()(PGresult* result) const { PQclear(result); }
  };
  std::unique_ptr<PGresult, Clear> result_;
};

// The results of one query in turn: the last one is the query's answer, and the first that
// failed is thrown once all have been read, so that the connection is ready for the next query.
class Answer {
 public:
  void Add(Result result);
  // Throws the first failure, or a failure when there was no result at all.
  Result Finish();

 private:
  std::optional<Result> last_;
  std::optional<Error> failure_;
};

class Connection {
 public:
  // Opens the connection of a libpq URI or key=value string, with UTF-8 as the client encoding.
  // Throws pg::Error when it cannot.
  explicit Connection(const std::string& conninfo);

  // Begins opening a connection without waiting: the caller waits for the socket to become
  // writable, then calls PollConnect and waits as it says until it gives PGRES_POLLING_OK.
  // Throws pg::Error when the attempt fails at once.
  static Connection Start(const std::string& conninfo);
  // The next step of opening; throws pg::Error when the attempt has failed.
  PostgresPollingStatusType PollConnect();

  // With non-blocking on, Send queues what the socket cannot take yet and Flush sends it:
  // true while some remains (wait for writability and call again).
  void SetNonBlocking();
  bool Flush();
  // Reads what has arrived on an idle connection, so that a connection the server has closed
  // meanwhile shows as no longer open.
  void Refresh() { PQconsumeInput(conn_.get()); }

  // The steps of one query. Send hands over one statement with $1... parameters, or with
  // `script` several statements without any (the simple protocol); ConsumeInput reads what the
  // socket holds; while IsBusy the answer is incomplete; NextResult gives each result of the
  // query in turn and nothing once the query is done.
  void Send(std::string_view sql, std::span<const Parameter> parameters);
  void SendScript(std::string_view sql);
  int Socket() const { return PQsocket(conn_.get()); }
  void ConsumeInput();
  bool IsBusy() const { return PQisBusy(conn_.get()) != 0; }
  std::optional<Result> NextResult();

  // Sends the statement and waits for its result; throws pg::Error when it fails.
  Result Execute(std::string_view sql, std::span<const Parameter> parameters = {});
  // Runs several statements without parameters; the result of the last one.
  Result ExecuteScript(std::string_view sql);

  // False once the connection is lost: a new one is needed.
  bool IsOpen() const { return PQstatus(conn_.get()) == CONNECTION_OK; }
  // A setting that the server reports (e.g. "server_encoding"); empty when it reports none.
  std::string_view ParameterStatus(const char* name) const;

 private:
  [[noreturn]] void Fail(std::string_view what) const;
  explicit Connection(PGconn* conn);
  void Adopt(PGconn* conn);
  void WaitReadable() const;
  Result Collect();

  struct Finish {
    void operator()(PGconn* conn) const { PQfinish(conn); }
  };
  std::unique_ptr<PGconn, Finish> conn_;
};

}  // namespace talvex::data::pg
