// Names of fields, parameters and columns compare without regard to ASCII case, as the
// database compares them.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace talvex::data {

inline bool SameName(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) ==
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace talvex::data
