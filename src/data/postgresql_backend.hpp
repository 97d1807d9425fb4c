// The scale-out backend: one PostgreSQL connection, opened at the first call, on which each
// procedure is a function of the same name, so that a call is one statement: one round trip,
// atomic by itself.
#pragma once

#include <memory>
#include <string>

#include "data/backend.hpp"

namespace talvex::data {

// `uri` is a libpq connection URI ("postgresql://..."); nothing is contacted until the first
// call.
std::unique_ptr<Backend> MakePostgresqlBackend(std::string uri);

}  // namespace talvex::data
