// Test support: a fresh directory under the system temp dir, removed with everything in it
// when the object goes.
#pragma once

#include <filesystem>

namespace talvex::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

}  // namespace talvex::testing
