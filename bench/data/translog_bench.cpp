// Transaction-log writes of 1 KiB bodies on the embedded database: WriteTransLog as a whole
// (encryption, one committed transaction per record) with encryption on (the default) and off,
// EncryptText alone, which shows how much of a write is the cipher's, and a durable commit of
// one small row on a connection set up as the server's, the floor under any write that must
// reach the disk before it returns.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/data_handler.hpp"
#include "data/sqlite_setup.hpp"
#include "data/trans_crypt.hpp"
#include "platform/reglib.hpp"
#include "platform/resources.hpp"
#include "platform/sqlite.hpp"

namespace {

using namespace talvex;

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvex-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

const std::string kBody1KiB(1024, 'x');

// Texts are appended to the empty fields: assigning a literal to a std::string draws GCC 12's
// false -Wrestrict at -O3.
TransLogEntry Entry(std::int64_t n) {
  TransLogEntry entry;
  entry.messageId.append("MSG").append(std::to_string(n));
  entry.toAddress = Variant(std::string("bob@example.org"));
  entry.subject.append("Delivery report");
  entry.body = kBody1KiB;
  entry.direction.push_back('O');
  return entry;
}

void WriteTransLogs(benchmark::State& state, bool encrypted) {
  const std::filesystem::path dir = MakeTempDir();
  {
    const Environment env{dir, ""};
    if (!encrypted) {
      RegLib(env).WriteRegValue(RegRoot::kLocalMachine, resources::DatabaseSettingsKey(),
                                "EncryptTrans", RegValueType::kText, Variant(std::string("0")));
    }
    DataHandler handler(env);
    std::int64_t n = 0;
    for (auto _ : state) {
      TransLogEntry entry = Entry(++n);
      if (!handler.WriteTransLog(entry)) state.SkipWithError("WriteTransLog failed");
    }
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(dir);
}

void BM_WriteTransLogEncrypted(benchmark::State& state) {
  WriteTransLogs(state, true);
}
BENCHMARK(BM_WriteTransLogEncrypted)->Unit(benchmark::kMicrosecond);

void BM_WriteTransLogPlain(benchmark::State& state) {
  WriteTransLogs(state, false);
}
BENCHMARK(BM_WriteTransLogPlain)->Unit(benchmark::kMicrosecond);

void NoRaise(sqlite3_context*, int, sqlite3_value**) {}

// One committed row of a few bytes per iteration, with the server's pragmas (WAL, synchronous
// FULL): what the file system and the disk charge for each durable commit.
void BM_DurableCommitOfOneSmallRow(benchmark::State& state) {
  const std::filesystem::path dir = MakeTempDir();
  {
    sqlite::Database db(dir / "commit.db", sqlite::Database::Mode::kReadWriteCreate);
    data::ConfigureConnection(db, NoRaise, nullptr);
    db.Exec("CREATE TABLE Rows (Id INTEGER PRIMARY KEY, Value INTEGER)");
    sqlite::Statement insert(db, "INSERT INTO Rows (Value) VALUES (?1)");
    std::int64_t n = 0;
    for (auto _ : state) {
      sqlite::Transaction transaction(db);
      insert.Bind(1, ++n).Step();
      insert.Reset();
      transaction.Commit();
    }
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DurableCommitOfOneSmallRow)->Unit(benchmark::kMicrosecond);

void BM_EncryptText1KiB(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EncryptText(kBody1KiB, "MSG1"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncryptText1KiB)->Unit(benchmark::kMicrosecond);

}  // namespace
