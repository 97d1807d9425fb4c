// Mail dates and zone offsets from the platform's local time.
#include "text/mail_date.hpp"

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "platform/date_text.hpp"
#include "platform/failure.hpp"

namespace talvex {

namespace {

constexpr std::array<std::string_view, 7> kDayNames = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                                       "Thursday", "Friday", "Saturday"};

constexpr std::array<std::string_view, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

constexpr int kMinutesPerDay = 24 * 60;

template <std::size_t N>
std::string_view NameAt(const std::array<std::string_view, N>& names, std::int16_t number) {
  if (number < 1 || static_cast<std::size_t>(number) > N) return {};
  return names[static_cast<std::size_t>(number - 1)];
}

std::time_t CurrentMoment() {
  return std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
}

// 1 for Sunday to 7 for Saturday.
std::int16_t WeekdayNumber(const LocalDateTime& date) {
  using namespace std::chrono;
  const year_month_day ymd{year{date.year}, month{static_cast<unsigned>(date.month)},
                           day{static_cast<unsigned>(date.day)}};
  return static_cast<std::int16_t>(weekday{sys_days{ymd}}.c_encoding() + 1);
}

}  // namespace

std::string_view GetDayName(std::int16_t day) {
  return NameAt(kDayNames, day);
}

std::string_view GetMonthName(std::int16_t month) {
  return NameAt(kMonthNames, month);
}

std::int16_t GetZoneOffset(std::time_t moment) {
  std::tm local{};
  if (localtime_r(&moment, &local) == nullptr) return 0;
  // tm_gmtoff already holds the daylight-saving shift when it is in force at that moment.
  const long minutes = local.tm_gmtoff / 60;
  if (minutes < std::numeric_limits<std::int16_t>::min() ||
      minutes > std::numeric_limits<std::int16_t>::max()) {
    RaiseRuntime(ErrorNumber::kOverflow);
  }
  return static_cast<std::int16_t>(minutes);
}

std::int16_t GetZoneOffset() {
  return GetZoneOffset(CurrentMoment());
}

std::string ZoneOffsetText(std::int16_t offset) {
  // Written as a time of day, so an offset of a day or more wraps round (no zone has one).
  const int magnitude = std::abs(int{offset}) % kMinutesPerDay;
  char text[8];
  std::snprintf(text, sizeof text, "%c%02d%02d", offset < 0 ? '-' : '+', magnitude / 60,
                magnitude % 60);
  return text;
}

std::string FormatZoneOffset(std::time_t moment) {
  return ZoneOffsetText(GetZoneOffset(moment));
}

std::string FormatZoneOffset() {
  return FormatZoneOffset(CurrentMoment());
}

std::string FormatMailDate(std::string_view dateText) {
  return FormatMailDate(dateText, CurrentMoment());
}

std::string FormatMailDate(std::string_view dateText, std::time_t now) {
  const LocalDateTime date =
      dateText.empty() ? ParseDateTimeText(FormatDateTimeText(now)) : ParseDateTimeText(dateText);
  const std::string offset = FormatZoneOffset(now);
  char text[64];
  std::snprintf(text, sizeof text, "%.3s, %d %.3s %04d %02d:%02d:%02d %s",
                GetDayName(WeekdayNumber(date)).data(), date.day,
                GetMonthName(static_cast<std::int16_t>(date.month)).data(), date.year, date.hour,
                date.minute, date.second, offset.c_str());
  return text;
}

}  // namespace talvex
