// Line assembly from received chunks.
#include "session/line_assembler.hpp"

#include <utility>

namespace talvex {

namespace {

constexpr std::string_view kCrLf = "\r\n";
// While a long line is dropped, this many of its last characters are kept: enough to see a CR
// at the end of one chunk meet an LF at the start of the next.
constexpr std::size_t kTailWindow = 5;

}  // namespace

std::optional<std::string> LineAssembler::Feed(std::string_view chunk) {
  if (!discarding_) {
    buffer_.append(chunk);
    if (buffer_.size() <= kMaxLineLength) {
      if (!buffer_.ends_with(kCrLf)) return std::nullopt;
      std::string line = std::move(buffer_);
      buffer_.clear();
      line.resize(line.size() - kCrLf.size());
      return line;
    }
    discarding_ = true;
    tail_ = buffer_;  // the whole text so far: its CR may sit just inside the limit
    buffer_.resize(kMaxLineLength);
  } else {
    tail_.append(chunk);
  }
  const bool ended = tail_.ends_with(kCrLf);
  if (tail_.size() > kTailWindow) tail_.erase(0, tail_.size() - kTailWindow);
  if (!ended) return std::nullopt;
  discarding_ = false;
  tail_.clear();
  return std::exchange(buffer_, std::string());
}

}  // namespace talvex
