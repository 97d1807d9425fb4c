// Calls awaited on the event loop: the connection pool's line, the awaited mail-drop operations
// against their blocking forms, and on PostgreSQL that a slow call holds up only its caller and
// that lost connections fail only the calls in flight.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <functional>

#include "await.hpp"
#include "data/connection_pool.hpp"
#include "data/data_errors.hpp"
#include "recording_backend.hpp"

namespace talvex::test {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

// --- the pool -------------------------------------------------------------------------------

struct Token {
  int number;
};
using TokenPool = data::ConnectionPool<Token>;

// Takes a slot, keeps a new connection in it (or finds the one there), records which it had,
// and holds the slot until `hold` posts have passed.
asio::awaitable<void> UseSlot(TokenPool& pool, int caller, int hold,
                              std::vector<std::string>& log) {
  auto lease = co_await pool.Acquire();
  std::unique_ptr<Token>& held = lease.Held();
  log.push_back(std::to_string(caller) + (held ? " reuses " + std::to_string(held->number)
                                               : " opens " + std::to_string(caller)));
  if (!held) held = std::make_unique<Token>(Token{caller});
  for (int i = 0; i < hold; ++i) co_await asio::post(asio::use_awaitable);
}

TEST(ConnectionPool, CallsBeyondItsSizeWaitInLineAndTakeOverTheConnectionsInOrder) {
  asio::io_context io;
  TokenPool pool(2);
  std::vector<std::string> log;
  // Callers 1 and 2 open the two connections; 3, 4 and 5 wait and get them in the order they
  // asked, each from whichever caller finished first.
  const int holds[] = {50, 1, 1, 1, 1};
  for (int caller = 1; caller <= 5; ++caller) {
    asio::co_spawn(io, UseSlot(pool, caller, holds[caller - 1], log), asio::detached);
  }
  io.run_one();
  io.run_one();
  EXPECT_EQ(pool.Leased(), 2U);
  io.run();
  EXPECT_THAT(log, ::testing::ElementsAre("1 opens 1", "2 opens 2", "3 reuses 2", "4 reuses 2",
                                          "5 reuses 2"));
  EXPECT_EQ(pool.Leased(), 0U);
  EXPECT_EQ(pool.Waiting(), 0U);
}

TEST(ConnectionPool, ABrokenConnectionThatTheCallerDropsIsReopenedByTheNext) {
  asio::io_context io;
  TokenPool pool(1);
  std::vector<std::string> log;
  asio::co_spawn(io, UseSlot(pool, 1, 0, log), asio::detached);
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        auto lease = co_await pool.Acquire();
        log.emplace_back(lease.Held() ? "2 drops 1" : "2 finds none");
        lease.Held().reset();
      },
      asio::detached);
  asio::co_spawn(io, UseSlot(pool, 3, 0, log), asio::detached);
  io.run();
  EXPECT_THAT(log, ::testing::ElementsAre("1 opens 1", "2 drops 1", "3 opens 3"));
}

// A call that cannot open a connection in its slot (caller 2) gives the slot up, to caller 3 in
// line, and takes the first connection brought back, ahead of caller 4, also in line. Alone in
// the pool, or when no connection comes back in time, the wait gives nothing.
TEST(ConnectionPool, ACallThatCannotOpenTakesTheNextConnectionBroughtBack) {
  asio::io_context io;
  std::vector<std::string> log;
  const auto cannotOpen = [&](TokenPool& pool, int caller,
                              std::chrono::milliseconds limit) -> asio::awaitable<void> {
    auto lease = co_await pool.Acquire();
    co_await asio::post(asio::use_awaitable);  // the failed attempt
    auto handed = co_await pool.AwaitConnection(std::move(lease), limit);
    log.push_back(std::to_string(caller) + (handed && handed->Held()
                                                ? " takes " + std::to_string(handed->Held()->number)
                                                : " gets none"));
  };
  TokenPool alone(2);
  asio::co_spawn(io, cannotOpen(alone, 0, 5s), asio::detached);
  io.run();

  TokenPool busy(2);
  asio::co_spawn(io, UseSlot(busy, 1, 20, log), asio::detached);
  asio::co_spawn(io, cannotOpen(busy, 2, 5s), asio::detached);
  asio::co_spawn(io, UseSlot(busy, 3, 1, log), asio::detached);
  asio::co_spawn(io, UseSlot(busy, 4, 1, log), asio::detached);
  io.restart();
  io.run();
  EXPECT_EQ(busy.Leased(), 0U);

  // Caller 6 holds the other slot without a connection and gives it back with none.
  TokenPool empty(2);
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        auto lease = co_await empty.Acquire();
        asio::steady_timer later(io, 50ms);
        co_await later.async_wait(asio::use_awaitable);
      },
      asio::detached);
  asio::co_spawn(io, cannotOpen(empty, 5, 10ms), asio::detached);
  io.restart();
  io.run();
  EXPECT_THAT(log, ::testing::ElementsAre("0 gets none", "1 opens 1", "3 opens 3", "2 takes 3",
                                          "4 reuses 3", "5 gets none"));
  EXPECT_EQ(empty.Leased(), 0U);
}

// --- awaited and blocking mail-drop operations -----------------------------------------------

std::string Outcome(const Recordset& rows) {
  return rows.IsOpen() ? "rows " + std::to_string(rows.RecordCount()) : "unopened";
}
std::string Outcome(bool flag) {
  return flag ? "true" : "false";
}

// An operation's outcome: its value, or the failure it raised.
std::string OutcomeOf(const std::function<std::string()>& call) {
  try {
    return call();
  } catch (const Failure& failure) {
    return "raised " + ErrorLine(failure);
  }
}

struct MailDropOperation {
  const char* name;
  std::function<std::string(DataHandler&)> blocking;
  std::function<std::string(DataHandler&)> awaited;
};

const std::string kSession(32, 'S');
const std::string kProcess(32, 'P');

// Each operation's two forms, called with the same arguments; the awaited one runs to its end
// on a loop of its own.
#define TALVEX_BOTH_FORMS(operation, ...)                                                     \
  MailDropOperation {                                                                         \
    .name = #operation,                                                                       \
    .blocking = [](DataHandler& h) { return Outcome(h.operation(__VA_ARGS__)); },             \
    .awaited = [](DataHandler& h) { return Outcome(Await(h.operation##Async(__VA_ARGS__))); } \
  }
const MailDropOperation kOperations[] = {
    TALVEX_BOTH_FORMS(GetP3UserDetails, "al"),
    TALVEX_BOTH_FORMS(LockP3MailDrop, "a@example.com", kSession),
    TALVEX_BOTH_FORMS(GetP3MailDrop, "a@example.com", kSession),
    TALVEX_BOTH_FORMS(GetP3MailItem, "12"),
    TALVEX_BOTH_FORMS(SetP3ItemsStatus, kSession, 0, -1),
    TALVEX_BOTH_FORMS(RemoveP3Items, kSession),
    TALVEX_BOTH_FORMS(UpdateP3ItemStatus, 12, 5),
    TALVEX_BOTH_FORMS(GetP3ItemStats, 13),
    TALVEX_BOTH_FORMS(GetP3DropStats, "13,14"),
    TALVEX_BOTH_FORMS(LockP3MailDrop, "a@example.com", kSession, kProcess),
    TALVEX_BOTH_FORMS(BeatP3Instance, ServerInstance{kProcess, "host", 77}),
    TALVEX_BOTH_FORMS(RemoveP3Instance, kProcess),
};
#undef TALVEX_BOTH_FORMS

// What a session sees of one form: the calls that reached the engine, the outcome, the log.
std::string Trace(const std::function<std::string(DataHandler&)>& form,
                  const std::optional<Failure>& engineFailure) {
  auto backend = std::make_shared<RecordingBackend>(engineFailure);
  FakeSession fake(backend);
  std::string trace = OutcomeOf([&] { return form(fake.session->data); });
  for (const RecordedCall& call : backend->calls) {
    trace.append(" | ").append(call.procedure).append(call.rows ? " rows" : " no rows");
    for (const auto& d : call.descriptors) {
      trace.append(" ").append(d.name).append("=").append(d.value.TextOrEmpty());
    }
  }
  for (const LogLine& line : fake.session->log) trace.append(" | log ").append(line.message);
  return trace;
}

TEST(AwaitedMailDropOperations, MakeTheSameCallsAndFailTheSameWayAsTheBlockingForms) {
  const std::optional<Failure> engines[] = {
      std::nullopt,
      Failure(std::string(data::kDataAccessSource), ErrorNumber::kDbProvider, "down")};
  for (const MailDropOperation& operation : kOperations) {
    for (const auto& failure : engines) {
      const std::string blocking = Trace(operation.blocking, failure);
      EXPECT_EQ(Trace(operation.awaited, failure), blocking)
          << operation.name << (failure ? " failing" : "");
      EXPECT_THAT(blocking, HasSubstr(std::string("SMS_") + operation.name));
    }
  }
}

// A descriptor that cannot be bound fails before any engine is reached, in both forms alike.
TEST(AwaitedMailDropOperations, AnUnboundableValueRaisesTheSameConversionFailure) {
  const std::string blocking =
      Trace([](DataHandler& h) { return Outcome(h.GetP3ItemStats(Variant("x"))); }, std::nullopt);
  EXPECT_THAT(blocking, HasSubstr("raised"));
  EXPECT_THAT(blocking, ::testing::Not(HasSubstr("| SMS_")));
  EXPECT_EQ(
      Trace([](DataHandler& h) { return Outcome(Await(h.GetP3ItemStatsAsync(Variant("x")))); },
            std::nullopt),
      blocking);
}

// --- PostgreSQL on the loop ------------------------------------------------------------------

class PostgresqlOnTheLoop : public OnPostgresql {};

Recordset EvaluateOnLoop(data::Backend& backend, std::string sql) {
  return Await(backend.RunAsync("SMS_EvaluateSQL", {{"SQLString", std::move(sql)}}, true));
}

asio::awaitable<void> Evaluate(data::Backend& backend, std::string sql, std::string name,
                               std::vector<std::string>& finished) {
  std::vector<data::BoundParameter> statement{{"SQLString", std::move(sql)}};
  try {
    co_await backend.RunAsync("SMS_EvaluateSQL", std::move(statement), true);
    finished.push_back(name);
  } catch (const Failure& failure) {
    finished.push_back(name + " failed: " + ErrorLine(failure));
  }
}

TEST_F(PostgresqlOnTheLoop, ASlowCallHoldsUpOnlyItsOwnCaller) {
  const auto backend = data::CreateBackend(data::ResolveConnection("", db_->Env()));
  asio::io_context io;
  std::vector<std::string> finished;
  asio::co_spawn(io, Evaluate(*backend, "SELECT pg_sleep(0.5)", "slow", finished), asio::detached);
  asio::co_spawn(io, Evaluate(*backend, "SELECT 1", "fast", finished), asio::detached);
  io.run();
  EXPECT_THAT(finished, ::testing::ElementsAre("fast", "slow"));
}

// A new process brings the schema to its version before its first call; the setup must wait
// for the database without holding up the loop, and once, for every call that came meanwhile.
TEST_F(PostgresqlOnTheLoop, TheSchemaSetupWaitsOffTheLoopAndThenServesTheCallsThatCameMeanwhile) {
  // The setup takes this lock first; holding it here keeps the setup waiting.
  const std::string lock = "hashtext('talvex schema ' || current_schema())";
  db_->Exec("SELECT pg_advisory_lock(" + lock + ")");
  // A setup that blocked the loop would wait for ever; with a lock timeout (added to the
  // connection's options, the last part of the test database's URI) it fails instead.
  Environment env = db_->Env();
  env.database += "%20-clock_timeout%3D5000";
  const auto backend = data::CreateBackend(data::ResolveConnection("", env));
  asio::io_context io;
  std::vector<std::string> finished;
  for (const char* call : {"first", "second", "third"}) {
    asio::co_spawn(io, Evaluate(*backend, "SELECT 1", call, finished), asio::detached);
  }
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        asio::steady_timer pause(io);
        pause.expires_after(200ms);
        co_await pause.async_wait(asio::use_awaitable);
        finished.emplace_back("the loop ran");
        db_->Exec("SELECT pg_advisory_unlock(" + lock + ")");
      },
      asio::detached);
  io.run();
  ASSERT_EQ(finished.size(), 4U);
  EXPECT_EQ(finished[0], "the loop ran");
  EXPECT_THAT(std::vector(finished.begin() + 1, finished.end()),
              ::testing::UnorderedElementsAre("first", "second", "third"));
}

TEST_F(PostgresqlOnTheLoop, LostConnectionsFailTheCallsInFlightOnlyAndAreLoggedOnce) {
  Environment env = db_->Env();
  const std::string name = "loop_victim_" + std::to_string(getpid());
  env.database += "&application_name=" + name;
  const auto backend = data::CreateBackend(data::ResolveConnection("", env));
  std::vector<std::string> log;
  backend->SetEventLog([&](Severity, std::string_view source, std::string_view message) {
    log.push_back(std::string(source) + ": " + std::string(message));
  });
  // One connection idles in the pool when the server drops them all, as in a restart.
  ASSERT_EQ(EvaluateOnLoop(*backend, "SELECT 1 AS one").RecordCount(), 1);

  asio::io_context io;
  std::vector<std::string> finished;
  for (const char* call : {"first", "second"}) {
    asio::co_spawn(io, Evaluate(*backend, "SELECT pg_sleep(30)", call, finished), asio::detached);
  }
  asio::co_spawn(
      io,
      [&]() -> asio::awaitable<void> {
        const std::string ours = "FROM pg_stat_activity WHERE application_name = '" + name + "'";
        asio::steady_timer pause(io);
        for (int tries = 0; tries < 1000; ++tries) {
          if (db_->QueryInt("SELECT count(*) " + ours + " AND state = 'active'") == 2) break;
          pause.expires_after(5ms);
          co_await pause.async_wait(asio::use_awaitable);
        }
        db_->Exec("SELECT pg_terminate_backend(pid) " + ours);
      },
      asio::detached);
  io.run();

  ASSERT_EQ(finished.size(), 2U);
  for (const std::string& call : finished) {
    EXPECT_THAT(call, HasSubstr("failed: SMS_Quillon: -2147220991. SMS_EvaluateSQL: "));
  }
  ASSERT_EQ(log.size(), 1U);
  EXPECT_THAT(log[0], HasSubstr("SMS_Quillon: Lost the PostgreSQL database: "));
  // The idle connection was dropped too: the next call finds that out before it sends and
  // opens a new connection instead of failing.
  EXPECT_EQ(EvaluateOnLoop(*backend, "SELECT 1 AS one").RecordCount(), 1);
  ASSERT_EQ(log.size(), 2U);
  EXPECT_EQ(log[1], "SMS_Quillon: The PostgreSQL database answers again");
}

TEST(PostgresqlUnreachable, AnUnreachableDatabaseFailsEveryCallAndIsLoggedOnce) {
  TempDir dir;
  // Nothing listens on this socket directory.
  const Environment env{dir.Path(), "postgresql://talvex@/postgres?host=" + dir.Path().string()};
  const auto backend = data::CreateBackend(data::ResolveConnection("", env));
  std::vector<std::string> log;
  backend->SetEventLog(
      [&](Severity, std::string_view, std::string_view message) { log.emplace_back(message); });
  for (int call = 0; call < 3; ++call) {
    const Failure failure = Raised([&] { EvaluateOnLoop(*backend, "SELECT 1"); });
    EXPECT_TRUE(failure.Is(ErrorNumber::kDbUnavailable)) << ErrorLine(failure);
    EXPECT_THAT(failure.Description(), HasSubstr("PostgreSQL: cannot connect"));
  }
  ASSERT_EQ(log.size(), 1U);
  EXPECT_THAT(log[0], HasSubstr("Lost the PostgreSQL database: PostgreSQL: cannot connect"));
}

}  // namespace
}  // namespace talvex::test
