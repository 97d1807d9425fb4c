// Writing and reading the system's date-time text forms. The accepted layouts of each reader
// are listed here and nowhere else.
#include "platform/date_text.hpp"

#include <array>
#include <chrono>
#include <cstdio>
#include <span>

#include "platform/failure.hpp"

namespace talvex {

namespace {

// Layouts: Y, M, D, h, m, s stand for one digit of their field, every other character for
// itself.
constexpr std::array<std::string_view, 2> kTextLayouts = {"YYYY-MM-DD", "YYYY-MM-DD hh:mm:ss"};
constexpr std::array<std::string_view, 5> kParameterLayouts = {
    "YYYY-MM-DD", "YYYY-MM-DD hh:mm", "YYYY-MM-DDThh:mm", "YYYY-MM-DD hh:mm:ss",
    "YYYY-MM-DDThh:mm:ss"};

struct Reading {
  std::span<const std::string_view> layouts;
  int firstYear;
  int lastSecond;  // 60: a leap second of the right/ zones, which the formatter may write
};

Reading ReadingOf(DateReading reading) {
  if (reading == DateReading::kParameter) return {kParameterLayouts, 1, 59};
  return {kTextLayouts, 0, 60};
}

// The field that a layout letter fills, or nullptr for a literal character.
int* FieldOf(LocalDateTime& value, char letter) {
  switch (letter) {
    case 'Y':
      return &value.year;
    case 'M':
      return &value.month;
    case 'D':
      return &value.day;
    case 'h':
      return &value.hour;
    case 'm':
      return &value.minute;
    case 's':
      return &value.second;
    default:
      return nullptr;
  }
}

std::optional<LocalDateTime> ReadLayout(std::string_view text, std::string_view layout) {
  if (text.size() != layout.size()) return std::nullopt;
  LocalDateTime value;
  for (std::size_t i = 0; i < layout.size(); ++i) {
    int* field = FieldOf(value, layout[i]);
    if (!field) {
      if (text[i] != layout[i]) return std::nullopt;
    } else if (text[i] >= '0' && text[i] <= '9') {
      *field = *field * 10 + (text[i] - '0');
    } else {
      return std::nullopt;
    }
  }
  return value;
}

bool Exists(const LocalDateTime& value, const Reading& reading) {
  using namespace std::chrono;
  const year_month_day date{year{value.year}, month{static_cast<unsigned>(value.month)},
                            day{static_cast<unsigned>(value.day)}};
  return date.ok() && value.year >= reading.firstYear && value.hour <= 23 && value.minute <= 59 &&
         value.second <= reading.lastSecond;
}

}  // namespace

std::string FormatDateTimeText(const LocalDateTime& value) {
  char text[80];  // room for any int, as the compiler cannot know the fields' ranges
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", value.year, value.month,
                value.day, value.hour, value.minute, value.second);
  return text;
}

std::string FormatDateTimeText(std::time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) RaiseRuntime(ErrorNumber::kOverflow);
  return FormatDateTimeText(LocalDateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                                          local.tm_hour, local.tm_min, local.tm_sec});
}

std::string NowText() {
  return FormatDateTimeText(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

std::optional<LocalDateTime> ReadDateTime(std::string_view text, DateReading reading) {
  const Reading rules = ReadingOf(reading);
  for (const std::string_view layout : rules.layouts) {
    const auto value = ReadLayout(text, layout);
    if (value) return Exists(*value, rules) ? value : std::nullopt;
  }
  return std::nullopt;
}

LocalDateTime ParseDateTimeText(std::string_view text) {
  const auto value = ReadDateTime(text, DateReading::kTextForm);
  if (!value) RaiseRuntime(ErrorNumber::kTypeMismatch);
  return *value;
}

}  // namespace talvex
