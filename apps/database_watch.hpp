// DatabaseWatch: notices that the embedded database file at its path is no longer the file the
// server opened. SQLite keeps serving a deleted or replaced file from the descriptor it holds,
// so such a server would go on with data that nothing else can see while the suite's other
// programs write into the new file; stopping lets a supervisor restart it on the right one.
#pragma once

#include <sys/stat.h>

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace talvex::apps {

class DatabaseWatch {
 public:
  // `lost` gets the reason once, when the file at `file` is gone or another file.
  DatabaseWatch(asio::io_context& io, std::filesystem::path file,
                std::function<void(const std::string&)> lost)
      : timer_(io), file_(std::move(file)), lost_(std::move(lost)) {}

  void Start() {
    timer_.expires_after(kInterval);
    timer_.async_wait([this](const std::error_code& ec) {
      if (!ec) Check();
    });
  }

 private:
  struct Identity {
    dev_t device;
    ino_t inode;
    bool operator==(const Identity&) const = default;
  };

  // Until the server has opened the database, there is nothing to compare; from then on the
  // file at the path must stay the one it holds open.
  void Check() {
    if (!seen_) seen_ = OpenedByThisProcess();
    const std::optional<Identity> now = Identify();
    if (seen_ && now != seen_) {
      lost_("The database file '" + file_.string() + "' was " + (now ? "replaced" : "deleted") +
            " while the server used it; stopping, so that a restart opens the file now there");
      return;
    }
    Start();
  }

  // The file behind this process's descriptor of the path, if it has one: the kernel names a
  // descriptor of a deleted file by its path and " (deleted)".
  std::optional<Identity> OpenedByThisProcess() const {
    const std::string path = std::filesystem::absolute(file_).lexically_normal().string();
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", ec)) {
      std::error_code linkError;
      const std::string target = std::filesystem::read_symlink(entry.path(), linkError).string();
      if (linkError || (target != path && target != path + " (deleted)")) continue;
      struct stat status {};
      if (::stat(entry.path().c_str(), &status) == 0) {
        return Identity{status.st_dev, status.st_ino};
      }
    }
    return std::nullopt;
  }

  std::optional<Identity> Identify() const {
    struct stat status {};
    if (::stat(file_.c_str(), &status) != 0) return std::nullopt;
    return Identity{status.st_dev, status.st_ino};
  }

  static constexpr std::chrono::seconds kInterval{2};

  asio::steady_timer timer_;
  std::filesystem::path file_;
  std::function<void(const std::string&)> lost_;
  std::optional<Identity> seen_;
};

}  // namespace talvex::apps
