// Words of command lines, and the echo of an unknown one.
#include "session/command_line.hpp"

namespace talvex {

std::vector<std::string> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    words.emplace_back(line.substr(start, space - start));
    if (space == std::string_view::npos) break;
    start = space + 1;
  }
  return words;
}

std::string CleanCommandLine(std::string text) {
  if (text.empty()) return text;
  if (text.back() == '.') text.pop_back();
  while (text.starts_with("\r\n")) text.erase(0, 2);
  while (text.ends_with("\r\n")) text.erase(text.size() - 2);
  return text;
}

}  // namespace talvex
