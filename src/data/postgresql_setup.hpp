// Setting up a connection of the PostgreSQL backend before its first procedure runs: the
// database must hold UTF-8 (the wire sizes count characters), the session's time zone becomes
// this process's so that "the local time" in a procedure is the program's, and the schema and
// its functions are brought to this program's version.
#pragma once

#include <string>

#include "data/postgresql_connection.hpp"

namespace talvex::data {

// The steps one by one: the encoding (known from the connection's start, no round trip), the
// statement that gives a connection this process's time zone, and the schema, which is the
// database's and so needs preparing once per process rather than once per connection.
void CheckEncoding(const pg::Connection& connection);
std::string SessionSettingsSql();
void PrepareSchema(pg::Connection& connection);

// All of them, in order. Raises pg::Error when a step fails or the schema is newer than this
// program's.
void PreparePostgresqlConnection(pg::Connection& connection);

}  // namespace talvex::data
