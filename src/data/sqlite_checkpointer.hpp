// SqliteCheckpointer: copies the write-ahead log of the embedded database back into the
// database file on a thread of its own, through a connection of its own, so that the event
// loop's connection never waits for the disk. A commit at synchronous NORMAL only appends to
// the log; the copy back (a checkpoint) writes the pages again and flushes both files, which
// took milliseconds on the loop and held up every session meanwhile.
//
// The loop's connection asks for a checkpoint from its log hook once the log has grown past
// a threshold; a request costs an atomic increment and a wake-up. The thread shares nothing
// else with the loop: SQLite itself keeps the two connections apart.
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <thread>

namespace talvex::data {

class SqliteCheckpointer {
 public:
  // Log frames after which the loop's connection asks for a checkpoint; SQLite's own default.
  // Each request is served by a pass that copies the log back without holding anyone up, then
  // copies what that pass missed while holding writers back and starts the log again from its
  // beginning. A copy that runs while the loop goes on committing never catches up with the
  // log's end, and only a writer that finds every frame copied starts the log again by itself.
  // The start-over is what keeps a log-in cheap: SQLite's index of the log files each frame
  // under its page number by open addressing, so the pages every log-in rewrites (the lock
  // rows) pile up runs that each commit and each page read through the mapping walk, and those
  // runs last until the log starts over. A log of about this length costs those walks little
  // and the copies and flushes of its passes little per log-in.
  static constexpr int kRequestFrames = 1000;
  // Log frames after which the loop's connection checkpoints by itself, should the thread be
  // unable to keep up (or its connection fail), so that the log stays bounded.
  static constexpr int kFallbackFrames = 20 * kRequestFrames;

  explicit SqliteCheckpointer(std::filesystem::path file);
  SqliteCheckpointer(const SqliteCheckpointer&) = delete;
  SqliteCheckpointer& operator=(const SqliteCheckpointer&) = delete;
  ~SqliteCheckpointer();

  // Takes over the checkpoints of `db`, the loop's connection to the same file.
  void Serve(sqlite3* db);
  // Checkpoints run so far (for tests).
  std::uint32_t Completed() const { return completed_.load(); }

 private:
  static int OnCommit(void* self, sqlite3* db, const char* schema, int frames);
  void Request();
  void Run(const std::stop_token& stop);

  const std::filesystem::path file_;
  std::atomic<std::uint32_t> requests_{0};
  std::atomic<std::uint32_t> completed_{0};
  std::jthread thread_;  // last: stopped and joined before the members it uses go
};

}  // namespace talvex::data
