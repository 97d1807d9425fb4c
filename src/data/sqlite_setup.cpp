// Setting up connections of the embedded backend: the SQL functions, the pragmas and the
// schema migrations.
#include "data/sqlite_setup.hpp"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "data/sql_catalog.hpp"
#include "platform/ansi.hpp"

namespace talvex::data {

namespace {

void AnsiLength(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
    sqlite3_result_null(context);
    return;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
  const auto size = static_cast<std::size_t>(sqlite3_value_bytes(argv[0]));
  sqlite3_result_int64(
      context, static_cast<sqlite3_int64>(ansi::EncodedLength(std::string_view(text, size))));
}

// A 64-bit digest of the arguments' texts, each with its length or marked null (see
// SMS_GetP3DropDigests). splitmix64's finalising step mixes each word into the running value.
std::uint64_t Mix(std::uint64_t hash, std::uint64_t value) {
  std::uint64_t z = hash + value + 0x9e3779b97f4a7c15ULL;
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
  return z ^ (z >> 31);
}

void FieldsDigest(sqlite3_context* context, int argc, sqlite3_value** argv) {
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (int i = 0; i < argc; ++i) {
    if (sqlite3_value_type(argv[i]) == SQLITE_NULL) {
      hash = Mix(hash, 0);
      continue;
    }
    const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
    const auto size = static_cast<std::size_t>(sqlite3_value_bytes(argv[i]));
    hash = Mix(Mix(hash, size + 1), std::hash<std::string_view>{}(std::string_view(text, size)));
  }
  sqlite3_result_int64(context, static_cast<sqlite3_int64>(hash));
}

int SchemaVersion(const sqlite::Database& db) {
  sqlite::Statement exists(
      db, "SELECT 1 FROM sqlite_schema WHERE type = 'table' AND name = 'SchemaVersion'");
  if (!exists.Step()) return 0;
  sqlite::Statement version(db, "SELECT coalesce(max(Version), 0) FROM SchemaVersion");
  version.Step();
  return static_cast<int>(version.ColumnInt(0));
}

}  // namespace

void ConfigureConnection(sqlite::Database& db, SqlFunction raiseError, void* raiseContext) {
  const auto check = [&](int rc) {
    if (rc != SQLITE_OK) throw sqlite::Error(rc, sqlite3_errmsg(db.Handle()));
  };
  check(sqlite3_create_function_v2(db.Handle(), "ansi_length", 1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   AnsiLength, nullptr, nullptr, nullptr));
  check(sqlite3_create_function_v2(db.Handle(), "fields_digest", -1,
                                   SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                                   FieldsDigest, nullptr, nullptr, nullptr));
  check(sqlite3_create_function_v2(db.Handle(), "raise_error", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY,
                                   raiseContext, raiseError, nullptr, nullptr, nullptr));
  db.Exec("PRAGMA foreign_keys = ON");
  // Pages are read from a mapping of the file instead of copied out of the kernel's cache by
  // a read call each: a message body is copied once on its way to the reply, not twice. The mapping
  // is read-only (writes still go through the file), and the library caps its size (2 GiB on
  // 64-bit builds); pages beyond it are read as before. The server's resident size counts the
  // mapped pages it touched, which the kernel's cache holds anyway.
  db.Exec("PRAGMA mmap_size = 2147418112");
  // A commit that returned has reached the disk, power loss included: a stored item must not
  // vanish after its writer was told it is stored. The backend's connection runs at NORMAL
  // instead and syncs the log itself after each call that must be durable.
  db.Exec("PRAGMA synchronous = FULL");
  // Readers of other processes go on while one writes; the mode stays with the file.
  sqlite::Statement journal(db, "PRAGMA journal_mode = WAL");
  journal.Step();
  const std::string mode = journal.ColumnText(0);
  if (mode != "wal") throw sqlite::Error(SQLITE_ERROR, "cannot use WAL mode (" + mode + ")");
}

// Brings the schema to the latest version. The common case only reads; a migration runs in
// one write transaction, so that of several processes opening a new file one migrates and
// the others find it done.
void MigrateSchema(sqlite::Database& db) {
  const SqlCatalog& catalog = SqlCatalog::Sqlite();
  const auto current = [&] {
    const int version = SchemaVersion(db);
    if (version > catalog.LatestVersion()) {
      throw sqlite::Error(SQLITE_ERROR, "schema version " + std::to_string(version) +
                                            " is newer than this program's (" +
                                            std::to_string(catalog.LatestVersion()) + ")");
    }
    return version;
  };
  if (current() == catalog.LatestVersion()) return;
  sqlite::Transaction transaction(db);
  const int from = current();
  db.Exec(
      "CREATE TABLE IF NOT EXISTS SchemaVersion (Version INTEGER PRIMARY KEY, "
      "Applied TEXT NOT NULL DEFAULT CURRENT_TIMESTAMP)");
  for (const Migration& migration : catalog.Migrations()) {
    if (migration.version <= from) continue;
    db.Exec(migration.sql);
    sqlite::Statement record(db, "INSERT INTO SchemaVersion (Version) VALUES (?1)");
    record.Bind(1, std::int64_t{migration.version});
    record.Step();
  }
  transaction.Commit();
}

}  // namespace talvex::data
