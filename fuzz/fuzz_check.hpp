// Check: how a fuzz target reports a broken property. It aborts, so that libFuzzer saves the
// input that broke it as a crash artifact, and says which property it was.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace talvex::fuzz {

inline void Check(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "property broken: %s\n", property);
  std::abort();
}

}  // namespace talvex::fuzz
