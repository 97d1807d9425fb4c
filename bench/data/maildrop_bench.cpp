// Item reads of a 10 000-item mail drop on the embedded database, as a session makes them:
// STAT, LIST and UIDL read the statistics rows and header fields of the session's messages,
// one by one or all in one call, RETR reads a whole 4 KiB item with its body. One DataHandler,
// one connection, one thread. The session's own reads (MailDropStore) of the same rows are
// measured as well, into their structs, and so is the database's whole share of a log-in.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "data/data_handler.hpp"
#include "data/maildrop_store.hpp"
#include "data/sqlite_setup.hpp"
#include "platform/ansi.hpp"
#include "platform/sqlite.hpp"

namespace {

using namespace talvex;

constexpr int kItems = 10000;
const std::string kSession(32, 'B');
constexpr const char* kHeaderFields[] = {"MessageID", "DTReceived",  "Subject",  "Content",
                                         "FromName",  "FromAddress", "ToAddress"};

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvex-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

std::string Body4KiB() {
  std::string body;
  while (body.size() + 66 <= 4096) body += std::string(64, 'x') + "\r\n";
  return body + std::string(4096 - body.size(), 'y');
}

constexpr int kLogInItems = 100;
const std::string kLogInAddress = "login@example.com";

// A drop of kItems stored items, locked and listed by one session, and a user with a drop of
// kLogInItems for the log-ins.
struct Drop {
  Drop() : dir(MakeTempDir()), env{dir, ""}, handler(env) {
    handler.GetP3UserDetails("");  // creates the database
    const std::string body = Body4KiB();
    sqlite::Database db(env.EmbeddedDatabasePath(), sqlite::Database::Mode::kReadWrite);
    data::ConfigureConnection(db, nullptr, nullptr);  // fields_digest, for the digests below
    sqlite::Transaction transaction(db);
    sqlite::Statement insert(
        db,
        "INSERT INTO GatewayItems (DTReceived, MessageID, Content, FromAddress, FromName, "
        "ToAddress, Subject, BodyLength, Direction) VALUES ('Mon, 1 Jan 2024 10:00:00 "
        "+0000', '', 'text/plain; charset=\"Windows-1252\"', 'sender@example.org', 'Sender', "
        "?3, 'Item ' || ?1, ?2, 'O')");
    sqlite::Statement insertBody(
        db, "INSERT INTO GatewayBodies (GWQID, Body) VALUES (last_insert_rowid(), ?1)");
    for (int i = 0; i < kItems + kLogInItems; ++i) {
      insert.Reset();
      insert.Bind(1, std::int64_t{i});
      insert.Bind(2, static_cast<std::int64_t>(ansi::EncodedLength(body)));
      insert.Bind(3, std::string_view(i < kItems ? "user@example.com" : kLogInAddress));
      insert.Step();
      insertBody.Reset();
      insertBody.Bind(1, std::string_view(body));
      insertBody.Step();
    }
    // The digest of the listed fields, which WriteGWItem stores with every item.
    sqlite::Statement(db,
                      "UPDATE GatewayItems SET FieldsDigest = fields_digest(MessageID, DTReceived, "
                      "Subject, Content, FromName, FromAddress, ToAddress, BodyLength)")
        .Step();
    transaction.Commit();
    UserRecord user;
    user.userId = "login";
    user.userName = user.logonName = "login";
    user.email = kLogInAddress;
    user.userPassword = "digest";
    user.pop3User = "1";
    if (!handler.WriteUser(user)) throw std::runtime_error("user");
    if (!handler.LockP3MailDrop("user@example.com", kSession)) throw std::runtime_error("lock");
    Recordset list = handler.GetP3MailDrop("user@example.com", kSession);
    for (; !list.Eof(); list.MoveNext()) ids.push_back(list.Fields("GWQID").ToText());
    if (ids.size() != kItems) throw std::runtime_error("listing");
  }
  ~Drop() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::filesystem::path dir;
  Environment env;
  DataHandler handler;
  std::vector<std::string> ids;
};

Drop& TheDrop() {
  static Drop drop;
  return drop;
}

void BM_ItemStatsWithHeaderFields(benchmark::State& state) {
  Drop& drop = TheDrop();
  std::size_t next = 0, octets = 0;
  for (auto _ : state) {
    const Recordset stats = drop.handler.GetP3ItemStats(drop.ids[next++ % drop.ids.size()]);
    for (const char* field : kHeaderFields) octets += stats.Fields(field).TextOrEmpty().size();
    octets += static_cast<std::size_t>(stats.Fields("BodyLength").ToInt32());
  }
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ItemStatsWithHeaderFields);

// The same rows for a session's 100 messages in one call, as STAT, LIST and UIDL read them:
// per item, against BM_ItemStatsWithHeaderFields.
void BM_DropStatsOf100Items(benchmark::State& state) {
  Drop& drop = TheDrop();
  constexpr std::size_t kBatch = 100;
  std::size_t next = 0, octets = 0;
  for (auto _ : state) {
    std::string list;
    for (std::size_t i = 0; i < kBatch; ++i) {
      if (i > 0) list += ',';
      list += drop.ids[(next + i) % drop.ids.size()];
    }
    next += kBatch;
    Recordset stats = drop.handler.GetP3DropStats(list);
    for (stats.MoveFirst(); !stats.Eof(); stats.MoveNext()) {
      for (const char* field : kHeaderFields) octets += stats.Fields(field).TextOrEmpty().size();
      octets += static_cast<std::size_t>(stats.Fields("BodyLength").ToInt32());
    }
  }
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kBatch));
}
BENCHMARK(BM_DropStatsOf100Items);

void BM_MailItem4KiB(benchmark::State& state) {
  Drop& drop = TheDrop();
  std::size_t next = 0, octets = 0;
  for (auto _ : state) {
    const Recordset item = drop.handler.GetP3MailItem(drop.ids[next++ % drop.ids.size()]);
    for (const char* field : kHeaderFields) octets += item.Fields(field).TextOrEmpty().size();
    octets += item.Fields("Body").ToText().size();
  }
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_MailItem4KiB);

// What LIST and RETR read of one item in a session: its statistics row, then the whole item.
asio::awaitable<void> ReadItems(benchmark::State& state, data::MailDropStore& store,
                                const std::vector<std::int64_t>& ids, std::size_t& octets) {
  std::size_t next = 0;
  for (auto _ : state) {
    const std::int64_t id = ids[next++ % ids.size()];
    const auto stats = co_await store.Stats(id);
    const auto item = co_await store.Load(id, std::int64_t{1} << 20);
    octets += static_cast<std::size_t>(stats.value().bodyLength.value_or(0)) +
              item.value().body.value_or("").size() + item->header.subject.value_or("").size();
  }
}

void BM_SessionItemStatsThenItem4KiB(benchmark::State& state) {
  Drop& drop = TheDrop();
  data::MailDropStore store(drop.env, nullptr, [](Severity, std::string_view, std::string_view) {});
  std::vector<std::int64_t> ids;
  for (const std::string& id : drop.ids) ids.push_back(std::stoll(id));
  std::size_t octets = 0;
  // The embedded engine answers at once, so the whole loop runs within this one run().
  asio::io_context io;
  asio::co_spawn(io, ReadItems(state, store, ids, octets), [](const std::exception_ptr& error) {
    if (error) std::rethrow_exception(error);
  });
  io.run();
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_SessionItemStatsThenItem4KiB);

// The data layer's share of a log-in with STAT over a remembered 100-message drop, then QUIT:
// the user record, the lock, the listing, the drop's version (or the digests, should it
// differ), the removal of what was deleted (none) and the release. Each iteration is one
// session, with a session identifier of its own.
asio::awaitable<void> LogIns(benchmark::State& state, data::MailDropStore& store,
                             std::size_t& items) {
  std::size_t session = 0;
  for (auto _ : state) {
    std::string id = std::to_string(++session);
    id.insert(0, 32 - id.size(), 'L');
    const auto user = co_await store.FindUser("login");
    if (!user) throw std::runtime_error("no user");
    const data::DropLock lock = co_await store.LockWithOutcome(kLogInAddress, id);
    if (lock.outcome != LockOutcome::kLocked) throw std::runtime_error("lock");
    const data::DropListing listing = co_await store.ListItems(kLogInAddress, id);
    items += listing.ids.size();
    // STAT takes the listing's digests while the drop's version stays the same.
    const auto changes = co_await store.DropChanges(kLogInAddress, id);
    if (changes && changes == listing.changes) {
      items += listing.digests.size();
    } else {
      items += (co_await store.DigestsOf(kLogInAddress)).size();
    }
    co_await store.RemoveDeleted(id);
    co_await store.SetSessionStatus(id, data::ItemStatus::kWaiting, true);
  }
}

void BM_LogInCycle(benchmark::State& state) {
  Drop& drop = TheDrop();
  data::MailDropStore store(drop.env, nullptr, [](Severity, std::string_view, std::string_view) {});
  std::size_t items = 0;
  asio::io_context io;
  asio::co_spawn(io, LogIns(state, store, items), [](const std::exception_ptr& error) {
    if (error) std::rethrow_exception(error);
  });
  io.run();
  if (items != static_cast<std::size_t>(state.iterations()) * 2 * kLogInItems)
    state.SkipWithError("a listing lost items");
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogInCycle);

}  // namespace
