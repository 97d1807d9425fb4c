// Setting up a connection of the PostgreSQL backend before its first procedure runs: the
// database must hold UTF-8 (the wire sizes count characters), the session's time zone becomes
// this process's so that "the local time" in a procedure is the program's, and the schema and
// its functions are brought to this program's version.
#pragma once

#include "data/postgresql_connection.hpp"

namespace talvex::data {

// Raises pg::Error when a step fails or the schema is newer than this program's.
void PreparePostgresqlConnection(pg::Connection& connection);

}  // namespace talvex::data
