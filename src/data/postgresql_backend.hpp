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
// for a round trip, so with a distant database the pool bounds how many sessions make progress
// at once: 32 lets as many sessions as a busy front-end serves at a time wait no longer than
// one. Connections are opened only as calls need them, and every front-end of an installation
// opens its own: the database's connection limit (100 by default) bounds their sum, so sites
// with many front-ends lower this (--db-connections) or raise that.
inline constexpr std::size_t kPooledConnections = 32;

// `uri` is a libpq connection URI ("postgresql://..."); nothing is contacted until the first
// call.
std::unique_ptr<Backend> MakePostgresqlBackend(std::string uri,
                                               std::size_t connections = kPooledConnections);

}  // namespace talvex::data
