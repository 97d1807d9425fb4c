// Words of command lines, and the echo of an unknown one.
#include "session/command_line.hpp"

#include <algorithm>

#include "platform/ascii.hpp"

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

std::string LoggedCommandLine(std::string_view line) {
  constexpr std::string_view kPass = "PASS ";
  constexpr std::string_view kBreaks = "\r\n";
  std::string logged;
  std::size_t start = 0;
  while (start < line.size()) {
    const std::size_t end = std::min(line.find_first_of(kBreaks, start), line.size());
    const std::string_view part = line.substr(start, end - start);
    const bool hidden = start > 0 && part.size() > kPass.size() &&
                        EqualsIgnoreCase(part.substr(0, kPass.size()), kPass);
    logged.append(part.substr(0, hidden ? kPass.size() : part.size()));
    if (hidden) logged.append("***");
    const std::size_t next = line.find_first_not_of(kBreaks, end);
    logged.append(line.substr(end, std::min(next, line.size()) - end));
    start = next;
  }
  return logged;
}

}  // namespace talvex
