// The registry file store on SQLite.
#include "platform/registry_store.hpp"

#include <optional>

#include "platform/sqlite.hpp"

namespace talvex {

namespace {

constexpr std::string_view kSchema = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE IF NOT EXISTS reg_keys (
  root TEXT NOT NULL,
  path TEXT NOT NULL COLLATE NOCASE,
  PRIMARY KEY (root, path)
);
CREATE TABLE IF NOT EXISTS reg_values (
  root TEXT NOT NULL,
  path TEXT NOT NULL COLLATE NOCASE,
  name TEXT NOT NULL COLLATE NOCASE,
  type INTEGER NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY (root, path, name)
);
)sql";

// Key paths are kept without leading or trailing separators and with single ones between
// the parts, so "A\\B\\" and "A\\B" name the same key.
std::string NormalisePath(std::string_view path) {
  std::string out;
  bool pendingSeparator = false;
  for (const char c : path) {
    if (c == '\\') {
      pendingSeparator = !out.empty();
      continue;
    }
    if (pendingSeparator) out += '\\';
    pendingSeparator = false;
    out += c;
  }
  return out;
}

std::optional<sqlite::Database> Open(const std::filesystem::path& file, bool create) {
  try {
    if (!create && !std::filesystem::exists(file)) return std::nullopt;
    sqlite::Database db(file, sqlite::Database::Mode::kReadWriteCreate);
    db.Exec(kSchema);
    return db;
  } catch (const sqlite::Error&) {
    return std::nullopt;
  }
}

bool KeyExists(const sqlite::Database& db, std::string_view root, const std::string& path) {
  if (path.empty()) return true;
  sqlite::Statement query(db, "SELECT 1 FROM reg_keys WHERE root = ?1 AND path = ?2");
  query.Bind(1, root).Bind(2, path);
  return query.Step();
}

bool FileMissing(const std::filesystem::path& file) {
  std::error_code ec;
  return !std::filesystem::exists(file, ec);
}

}  // namespace

RegStatus RegistryStore::OpenKey(std::string_view root, std::string_view path) const {
  const std::string key = NormalisePath(path);
  if (FileMissing(file_)) return key.empty() ? RegStatus::kSuccess : RegStatus::kNotFound;
  auto db = Open(file_, false);
  if (!db) return RegStatus::kIoFailed;
  try {
    return KeyExists(*db, root, key) ? RegStatus::kSuccess : RegStatus::kNotFound;
  } catch (const sqlite::Error&) {
    return RegStatus::kIoFailed;
  }
}

RegStatus RegistryStore::CreateKey(std::string_view root, std::string_view path) const {
  auto db = Open(file_, true);
  if (!db) return RegStatus::kIoFailed;
  try {
    sqlite::Transaction tx(*db);
    sqlite::Statement insert(*db, "INSERT OR IGNORE INTO reg_keys (root, path) VALUES (?1, ?2)");
    const std::string key = NormalisePath(path);
    for (std::size_t at = 0; at <= key.size(); ++at) {
      if (at == key.size() || key[at] == '\\') {
        if (at == 0) continue;
        insert.Reset();
        insert.Bind(1, root).Bind(2, std::string_view(key).substr(0, at));
        insert.Step();
      }
    }
    tx.Commit();
    return RegStatus::kSuccess;
  } catch (const sqlite::Error&) {
    return RegStatus::kIoFailed;
  }
}

RegistryStore::Value RegistryStore::QueryValue(std::string_view root, std::string_view path,
                                               std::string_view name) const {
  Value result;
  if (FileMissing(file_)) return result;
  auto db = Open(file_, false);
  if (!db) {
    result.status = RegStatus::kIoFailed;
    return result;
  }
  try {
    sqlite::Statement query(
        *db, "SELECT type, data FROM reg_values WHERE root = ?1 AND path = ?2 AND name = ?3");
    query.Bind(1, root).Bind(2, NormalisePath(path)).Bind(3, name);
    if (query.Step()) {
      result.status = RegStatus::kSuccess;
      result.type = static_cast<RegType>(query.ColumnInt(0));
      result.data = query.ColumnBlob(1);
    }
  } catch (const sqlite::Error&) {
    result.status = RegStatus::kIoFailed;
  }
  return result;
}

RegStatus RegistryStore::SetValue(std::string_view root, std::string_view path,
                                  std::string_view name, RegType type,
                                  std::string_view data) const {
  auto db = Open(file_, true);
  if (!db) return RegStatus::kIoFailed;
  try {
    const std::string key = NormalisePath(path);
    if (!KeyExists(*db, root, key)) return RegStatus::kNotFound;
    sqlite::Statement upsert(*db,
                             "INSERT INTO reg_values (root, path, name, type, data) "
                             "VALUES (?1, ?2, ?3, ?4, ?5) ON CONFLICT (root, path, name) "
                             "DO UPDATE SET type = excluded.type, data = excluded.data");
    upsert.Bind(1, root)
        .Bind(2, key)
        .Bind(3, name)
        .Bind(4, std::int64_t{static_cast<std::int32_t>(type)})
        .BindBlob(5, data);
    upsert.Step();
    return RegStatus::kSuccess;
  } catch (const sqlite::Error&) {
    return RegStatus::kIoFailed;
  }
}

RegStatus RegistryStore::DeleteValue(std::string_view root, std::string_view path,
                                     std::string_view name) const {
  if (FileMissing(file_)) return RegStatus::kNotFound;
  auto db = Open(file_, false);
  if (!db) return RegStatus::kIoFailed;
  try {
    const std::string key = NormalisePath(path);
    if (!KeyExists(*db, root, key)) return RegStatus::kNotFound;
    sqlite::Statement remove(*db,
                             "DELETE FROM reg_values WHERE root = ?1 AND path = ?2 AND name = ?3");
    remove.Bind(1, root).Bind(2, key).Bind(3, name);
    remove.Step();
    return db->Changes() > 0 ? RegStatus::kSuccess : RegStatus::kNotFound;
  } catch (const sqlite::Error&) {
    return RegStatus::kIoFailed;
  }
}

RegStatus RegistryStore::DeleteKey(std::string_view root, std::string_view path,
                                   std::string_view name) const {
  if (FileMissing(file_)) return RegStatus::kNotFound;
  auto db = Open(file_, false);
  if (!db) return RegStatus::kIoFailed;
  try {
    const std::string parent = NormalisePath(path);
    const std::string key = NormalisePath(parent + "\\" + std::string(name));
    if (!KeyExists(*db, root, parent) || key == parent || !KeyExists(*db, root, key)) {
      return RegStatus::kNotFound;
    }
    sqlite::Statement children(*db,
                               "SELECT 1 FROM reg_keys WHERE root = ?1 AND path LIKE ?2 "
                               "ESCAPE '!' LIMIT 1");
    std::string pattern;
    for (const char c : key + "\\") {
      if (c == '%' || c == '_' || c == '!') pattern += '!';
      pattern += c;
    }
    children.Bind(1, root).Bind(2, pattern + "%");
    if (children.Step()) return RegStatus::kAccessDenied;
    sqlite::Transaction tx(*db);
    sqlite::Statement values(*db, "DELETE FROM reg_values WHERE root = ?1 AND path = ?2");
    values.Bind(1, root).Bind(2, key);
    values.Step();
    sqlite::Statement keys(*db, "DELETE FROM reg_keys WHERE root = ?1 AND path = ?2");
    keys.Bind(1, root).Bind(2, key);
    keys.Step();
    tx.Commit();
    return RegStatus::kSuccess;
  } catch (const sqlite::Error&) {
    return RegStatus::kIoFailed;
  }
}

}  // namespace talvex
