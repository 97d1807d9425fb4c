// Writing and reading the system's date-time text form.
#include "platform/date_text.hpp"

#include <charconv>
#include <chrono>
#include <cstdio>

#include "platform/failure.hpp"

namespace talvex {

namespace {

constexpr std::size_t kDateLength = 10;      // YYYY-MM-DD
constexpr std::size_t kDateTimeLength = 19;  // YYYY-MM-DD HH:MM:SS

// The decimal number in text[pos, pos + width); digits only, no sign.
int ReadField(std::string_view text, std::size_t pos, std::size_t width) {
  const char* first = text.data() + pos;
  const char* last = first + width;
  int value = 0;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (ec != std::errc() || end != last || *first < '0' || *first > '9') {
    RaiseRuntime(ErrorNumber::kTypeMismatch);
  }
  return value;
}

void ExpectSeparator(std::string_view text, std::size_t pos, char separator) {
  if (text[pos] != separator) RaiseRuntime(ErrorNumber::kTypeMismatch);
}

}  // namespace

std::string FormatDateTimeText(std::time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) RaiseRuntime(ErrorNumber::kOverflow);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900,
                local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return text;
}

std::string NowText() {
  return FormatDateTimeText(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

LocalDateTime ParseDateTimeText(std::string_view text) {
  if (text.size() != kDateLength && text.size() != kDateTimeLength) {
    RaiseRuntime(ErrorNumber::kTypeMismatch);
  }
  LocalDateTime value;
  value.year = ReadField(text, 0, 4);
  ExpectSeparator(text, 4, '-');
  value.month = ReadField(text, 5, 2);
  ExpectSeparator(text, 7, '-');
  value.day = ReadField(text, 8, 2);
  if (text.size() == kDateTimeLength) {
    ExpectSeparator(text, 10, ' ');
    value.hour = ReadField(text, 11, 2);
    ExpectSeparator(text, 13, ':');
    value.minute = ReadField(text, 14, 2);
    ExpectSeparator(text, 16, ':');
    value.second = ReadField(text, 17, 2);
  }
  using namespace std::chrono;
  const year_month_day date{year{value.year}, month{static_cast<unsigned>(value.month)},
                            day{static_cast<unsigned>(value.day)}};
  if (!date.ok() || value.hour > 23 || value.minute > 59 ||
      value.second > 60) {  // 60: a leap second of the right/ zones
    RaiseRuntime(ErrorNumber::kTypeMismatch);
  }
  return value;
}

}  // namespace talvex
