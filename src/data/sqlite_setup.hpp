// Setting up a connection of the embedded backend before its first procedure runs. Two SQL
// functions exist on every connection: ansi_length(text), the octets of the text in
// Windows-1252 as the POP3 wire carries it, and raise_error(text), by which a procedure refuses
// a call. The pragmas make every returned write durable and let readers of other processes go
// on while one writes; the schema is brought to this program's version.
#pragma once

#include <sqlite3.h>

#include "platform/sqlite.hpp"

namespace talvex::data {

using SqlFunction = void (*)(sqlite3_context*, int, sqlite3_value**);

// Registers the two functions (raise_error calls `raiseError` with `raiseContext` as its user
// data) and sets the pragmas. Raises sqlite::Error when a step fails.
void ConfigureConnection(sqlite::Database& db, SqlFunction raiseError, void* raiseContext);

// Brings the schema to the latest version of the catalog's migrations; raises sqlite::Error
// for a schema newer than this program's.
void MigrateSchema(sqlite::Database& db);

}  // namespace talvex::data
