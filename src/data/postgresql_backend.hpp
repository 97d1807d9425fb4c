// The scale-out backend: PostgreSQL connections, opened when calls need them, on which each
// procedure is a function of the same name, so that a call is one statement: one round trip,
// atomic by itself.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "data/backend.hpp"

namespace talvex::data {

// How many connections the awaited calls of one backend share at most. Each call holds one
// for a round trip; a few keep up with many sessions, and every front-end of an installation
// opens its own, so the database's connection limit bounds their sum.
inline constexpr std::size_t kPooledConnections = 8;

// `uri` is a libpq connection URI ("postgresql://..."); nothing is contacted until the first
// call.
std::unique_ptr<Backend> MakePostgresqlBackend(std::string uri,
                                               std::size_t connections = kPooledConnections);

}  // namespace talvex::data
