// Local date-time text.
#include "platform/clock.hpp"

#include <array>

namespace talvex {

std::string LocalDateTimeText(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  std::array<char, 32> buffer{};
  const std::size_t n = std::strftime(buffer.data(), buffer.size(), "%Y-%m-%d %H:%M:%S", &local);
  return std::string(buffer.data(), n);
}

std::string LocalDateTimeText() {
  return LocalDateTimeText(std::time(nullptr));
}

}  // namespace talvex
