// The database commands of talvex-admin: its version, an online copy of the embedded database
// and its integrity check. The copy and the check work on the database file beside the
// servers that use it; for PostgreSQL they point to the engine's own tools.
#pragma once

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "admin_support.hpp"
#include "data/backend.hpp"
#include "data/data_handler.hpp"
#include "data/sqlite_maintenance.hpp"
#include "platform/environment.hpp"
#include "platform/sqlite.hpp"

namespace talvex::apps {

// A failure to read the version is raised to the program, which prints it and exits 1.
inline int DatabaseVersion(const Environment& env) {
  Data data(env);
  std::cout << data.handler.GetDatabaseVersion("") << "\n";
  return kExitOk;
}

// The embedded database's file, or nothing (with the reason printed) for PostgreSQL.
inline std::optional<std::string> EmbeddedFile(const Environment& env, const char* command) {
  const data::ConnectionTarget target = data::ResolveConnection("", env);
  if (target.engine == data::ConnectionTarget::Engine::kPostgresql) {
    Refuse(std::string("db ") + command +
           " works on the embedded database; for PostgreSQL use its own tools (pg_dump, "
           "pg_amcheck)");
    return std::nullopt;
  }
  return target.location;
}

// A one-line bar on a terminal, redrawn in place: pages, percent and the time left at the
// pace so far. Nothing when stderr is not a terminal, so that logs of scheduled copies stay
// clean.
class ProgressBar {
 public:
  ProgressBar() : shown_(isatty(STDERR_FILENO) == 1) {}

  void Show(const data::CopyProgress& progress) {
    if (!shown_ || progress.pageCount == 0) return;
    const double done = static_cast<double>(progress.pagesCopied) / progress.pageCount;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    const int filled = static_cast<int>(done * kWidth);
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kWidth - filled), '.');
    const double left = done > 0 ? elapsed * (1 - done) / done : 0;
    std::fprintf(stderr, "\r[%s] %3d%%  %d/%d pages  %.0f s left ", bar.c_str(),
                 static_cast<int>(done * 100), progress.pagesCopied, progress.pageCount, left);
    if (progress.pagesCopied == progress.pageCount) std::fputc('\n', stderr);
  }

 private:
  static constexpr int kWidth = 30;
  bool shown_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

inline int DatabaseBackup(const Environment& env, const std::string& file) {
  const auto source = EmbeddedFile(env, "backup");
  if (!source) return kExitRefused;
  ProgressBar bar;
  int pages = 0;
  const auto start = std::chrono::steady_clock::now();
  try {
    data::CopyDatabase(*source, file, [&](const data::CopyProgress& progress) {
      bar.Show(progress);
      pages = progress.pageCount;
    });
  } catch (const sqlite::Error& error) {
    return Refuse("db backup: " + std::string(error.what()));
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("db backup: %s: %d pages, checked, in %.1f s\n", file.c_str(), pages, seconds);
  return kExitOk;
}

inline int DatabaseCheck(const Environment& env) {
  const auto file = EmbeddedFile(env, "check");
  if (!file) return kExitRefused;
  try {
    const auto problems = data::CheckDatabase(*file);
    if (!problems.empty()) {
      return Refuse("db check: " + std::to_string(problems.size()) +
                    (problems.size() == 1 ? " problem" : " problems") +
                    ", the first: " + problems.front());
    }
  } catch (const sqlite::Error& error) {
    return Refuse("db check: " + std::string(error.what()));
  }
  std::cout << "db check: ok\n";
  return kExitOk;
}

// --create: the leftovers of an embedded database deleted while in use are removed, so that the
// command starts a new one; said on stderr, as it discards what the old file's log held.
inline void StartOverOrphanedDatabase(const Environment& env) {
  const data::ConnectionTarget target = data::ResolveConnection("", env);
  if (target.engine != data::ConnectionTarget::Engine::kSqlite) return;
  if (data::DiscardOrphanedJournal(target.location)) {
    std::cerr << "talvex-admin: removed the write-ahead log of the missing database '"
              << target.location << "'; a new database starts\n";
  }
}

// Adds "db version", "db backup" and "db check"; the one given sets `action`.
inline void AddDatabaseCommands(CLI::App& app, std::string& backupFile, Action& action) {
  auto* db = app.add_subcommand("db", "the database");
  db->require_subcommand(1);
  OnGiven(db->add_subcommand("version", "print the database's version (231 for release 2.3.1)"),
          action, DatabaseVersion);
  auto* backup = db->add_subcommand(
      "backup", "copy the embedded database while servers use it, and check the copy");
  backup->add_option("FILE", backupFile, "the copy (replaced only once the new one is checked)")
      ->required();
  OnGiven(backup, action,
          [&backupFile](const Environment& env) { return DatabaseBackup(env, backupFile); });
  OnGiven(db->add_subcommand("check", "run the embedded database's integrity check"), action,
          DatabaseCheck);
}

}  // namespace talvex::apps
