// ASCII case rules. Names of fields, parameters, registry roots and users compare without
// regard to ASCII case, and only ASCII letters change case: the component never applies a
// locale's case rules to a name.
#pragma once

#include <algorithm>
#include <string>
#include <string_view>

namespace talvex {

constexpr char ToUpper(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string ToUpper(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) { return ToUpper(c); });
  return out;
}

constexpr bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return ToUpper(x) == ToUpper(y); });
}

}  // namespace talvex
