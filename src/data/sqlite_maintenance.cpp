// The online copy and the integrity check of the embedded database.
#include "data/sqlite_maintenance.hpp"

#include <chrono>
#include <system_error>
#include <thread>

#include "platform/sqlite.hpp"

namespace talvex::data {

namespace {

// Pages per step: a step holds the target's write lock and no more than this many pages of
// memory, and the progress moves often enough to be seen.
constexpr int kPagesPerStep = 1024;
// How long a step waits before trying again when the source or the target is busy.
constexpr std::chrono::milliseconds kBusyPause{20};

bool Busy(const sqlite::Error& error) {
  const int primary = error.Code() & 0xff;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

// The source's connection reads one state from the first step to the last: a transaction
// begun by a read, ended when the copy is done.
class ReadSnapshot {
 public:
  explicit ReadSnapshot(sqlite::Database& db) : db_(db) {
    db_.Run(sqlite::Database::Control::kBegin);
    sqlite::Statement(db_, "SELECT count(*) FROM sqlite_schema").Step();
  }
  ~ReadSnapshot() {
    try {
      db_.Run(sqlite::Database::Control::kRollback);
    } catch (const sqlite::Error&) {
      // Closing the connection ends the transaction anyway.
    }
  }
  ReadSnapshot(const ReadSnapshot&) = delete;
  ReadSnapshot& operator=(const ReadSnapshot&) = delete;

 private:
  sqlite::Database& db_;
};

void CopyPages(sqlite::Database& target, sqlite::Database& source,
               const std::function<void(const CopyProgress&)>& progress) {
  const ReadSnapshot snapshot(source);
  sqlite::Backup backup(target, source);
  int copied = 0;
  for (;;) {
    try {
      if (!backup.Step(kPagesPerStep)) break;
    } catch (const sqlite::Error& error) {
      if (!Busy(error)) throw;
      std::this_thread::sleep_for(kBusyPause);
      continue;
    }
    const CopyProgress now{backup.PageCount() - backup.Remaining(), backup.PageCount()};
    // A copy that starts over would, under steady writes, start over for ever; the snapshot
    // rules that out, and this turns a lost snapshot into an error rather than a hang.
    if (now.pagesCopied <= copied) {
      throw sqlite::Error(SQLITE_INTERNAL, "the database changed under the copy");
    }
    copied = now.pagesCopied;
    progress(now);
  }
  progress({backup.PageCount(), backup.PageCount()});
}

// The copy's mail-drop locks belong to sessions that can never reach it. Without them a server
// started on the copy serves every drop at once: its listing claims the items those sessions
// held or marked, as after a stale takeover, so nothing they had not removed is lost.
void ReleaseSessionLocks(sqlite::Database& copy) {
  sqlite::Statement table(
      copy, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = 'MailDropLocks'");
  if (table.Step()) copy.Exec("DELETE FROM MailDropLocks");
}

}  // namespace

void CopyDatabase(const std::filesystem::path& source, const std::filesystem::path& target,
                  const std::function<void(const CopyProgress&)>& progress) {
  if (!std::filesystem::is_regular_file(source)) {
    throw sqlite::Error(SQLITE_CANTOPEN, "no database file '" + source.string() + "'");
  }
  std::filesystem::path partial = target;
  partial += ".partial";
  std::filesystem::remove(partial);
  try {
    {
      sqlite::Database from(source, sqlite::Database::Mode::kReadWrite);
      sqlite::Database to(partial, sqlite::Database::Mode::kReadWriteCreate);
      CopyPages(to, from, progress);
      ReleaseSessionLocks(to);
    }
    if (const auto problems = CheckDatabase(partial); !problems.empty()) {
      throw sqlite::Error(SQLITE_CORRUPT,
                          "the copy fails the integrity check: " + problems.front());
    }
  } catch (...) {
    std::filesystem::remove(partial);
    throw;
  }
  std::error_code error;
  std::filesystem::rename(partial, target, error);
  if (error) {
    throw sqlite::Error(SQLITE_CANTOPEN, "cannot rename '" + partial.string() + "' to '" +
                                             target.string() + "': " + error.message());
  }
}

std::vector<std::string> CheckDatabase(const std::filesystem::path& file) {
  if (!std::filesystem::is_regular_file(file)) {
    throw sqlite::Error(SQLITE_CANTOPEN, "no database file '" + file.string() + "'");
  }
  sqlite::Database db(file, sqlite::Database::Mode::kReadWrite);
  std::vector<std::string> problems;
  try {
    sqlite::Statement check(db, "PRAGMA integrity_check(100)");
    while (check.Step()) {
      std::string line = check.ColumnText(0);
      if (line != "ok") problems.push_back(std::move(line));
    }
  } catch (const sqlite::Error& error) {
    // Damage that stops the check itself, in the schema or a page it needs, is its finding.
    const int primary = error.Code() & 0xff;
    if (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB) throw;
    problems.emplace_back(error.what());
  }
  return problems;
}

std::optional<std::filesystem::path> OrphanedJournal(const std::filesystem::path& file) {
  std::error_code error;
  if (std::filesystem::exists(file, error) || error) return std::nullopt;
  for (const char* suffix : {"-wal", "-shm"}) {
    std::filesystem::path journal = file;
    journal += suffix;
    if (std::filesystem::exists(journal, error)) return journal;
  }
  return std::nullopt;
}

bool DiscardOrphanedJournal(const std::filesystem::path& file) {
  if (!OrphanedJournal(file)) return false;
  for (const char* suffix : {"-wal", "-shm"}) {
    std::filesystem::path journal = file;
    journal += suffix;
    std::filesystem::remove(journal);
  }
  return true;
}

}  // namespace talvex::data
