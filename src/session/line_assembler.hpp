// LineAssembler: turns the chunks a client sends into command lines. A line ends only where a
// received chunk ends with CR LF, so text that arrives in one chunk with several CR LF inside
// is one line, and CR or LF alone ends nothing. A line keeps its first 4096 characters; the
// rest of it is dropped while only a window of its last characters is kept to see where it
// ends, so that a client cannot grow the buffer without bound. How long a command may be is
// the commands' setting (Conformance::MaxCommandLength), well within this. Pure: no socket, no
// clock.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace talvex {

class LineAssembler {
 public:
  // The most characters of a line that reach the commands.
  static constexpr std::size_t kMaxLineLength = 4096;

  // Takes one received chunk; returns the command line it completes, without its CR LF.
  std::optional<std::string> Feed(std::string_view chunk);

 private:
  std::string buffer_;       // the line being received, at most kMaxLineLength characters
  bool discarding_ = false;  // the line has grown past the limit; its rest is dropped
  std::string tail_;         // while discarding: the last characters received
};

}  // namespace talvex
