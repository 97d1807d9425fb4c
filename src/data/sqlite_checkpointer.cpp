// The checkpoint thread of the embedded database.
#include "data/sqlite_checkpointer.hpp"

#include <exception>
#include <optional>
#include <stop_token>
#include <utility>

#include "platform/sqlite.hpp"

namespace talvex::data {

SqliteCheckpointer::SqliteCheckpointer(std::filesystem::path file)
    : file_(std::move(file)), thread_([this](const std::stop_token& stop) { Run(stop); }) {}

SqliteCheckpointer::~SqliteCheckpointer() {
  thread_.request_stop();
  Request();  // wakes the thread to see the stop
}

void SqliteCheckpointer::Serve(sqlite3* db) {
  // Replaces SQLite's automatic checkpoint, which would run on the committing thread.
  sqlite3_wal_hook(db, &SqliteCheckpointer::OnCommit, this);
}

int SqliteCheckpointer::OnCommit(void* self, sqlite3* db, const char* schema, int frames) {
  if (frames >= kFallbackFrames) {
    // A busy reader or writer only makes the checkpoint stop short; the next commit tries again.
    sqlite3_wal_checkpoint_v2(db, schema, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  } else if (frames >= kRequestFrames) {
    static_cast<SqliteCheckpointer*>(self)->Request();
  }
  return SQLITE_OK;
}

void SqliteCheckpointer::Request() {
  requests_.fetch_add(1);
  requests_.notify_one();
}

void SqliteCheckpointer::Run(const std::stop_token& stop) {
  std::optional<sqlite::Database> db;
  std::uint32_t seen = 0;
  while (true) {
    requests_.wait(seen);
    seen = requests_.load();
    if (stop.stop_requested()) return;
    try {
      // Opened at the first request, when the loop's connection has made the file.
      // A connection learns that the file is in WAL mode from its first read; until then a
      // checkpoint does nothing.
      // The connection waits for no lock: RESTART holds writers back while it waits for
      // readers, and a reader of an older state (a long body read keeps one for seconds) would
      // stall every write of the loop for as long. A pass that finds a lock taken ends short,
      // and the next request tries again.
      if (!db) {
        db.emplace(file_, sqlite::Database::Mode::kReadWrite, 0);
        db->Exec("PRAGMA schema_version");
      }
      // PASSIVE copies what it can without holding anyone up; RESTART then copies only what
      // that missed, and starts the log over.
      sqlite3_wal_checkpoint_v2(db->Handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
      sqlite3_wal_checkpoint_v2(db->Handle(), nullptr, SQLITE_CHECKPOINT_RESTART, nullptr, nullptr);
      completed_.fetch_add(1);
    } catch (const std::exception&) {
      // The loop's connection reports what is wrong with the file; it also checkpoints by
      // itself once the log is long, so nothing is lost by trying again later.
      db.reset();
    }
  }
}

}  // namespace talvex::data
