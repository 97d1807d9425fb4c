// The system's own text form of a local date and time, "YYYY-MM-DD HH:MM:SS" (24-hour clock,
// local time of the process's zone, TZ honoured). Log lines carry it as their DateTime, the
// data layer stores it, and the mail date reads it back; this header is the one place that
// writes and reads the form, and reads the date parameters of stored procedures.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace talvex {

// A calendar date and wall-clock time, as read from the text form; always a valid date.
struct LocalDateTime {
  int year = 0;
  int month = 0;  // 1 to 12
  int day = 0;    // 1 to the month's last day
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const LocalDateTime&) const = default;
};

// The local date and time of a moment in the text form, and a read value in it.
std::string FormatDateTimeText(std::time_t moment);
std::string FormatDateTimeText(const LocalDateTime& value);

// The current local date and time in the text form.
std::string NowText();

// Which texts a reader accepts. kTextForm: "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS", a second of
// 60 included. kParameter (a date parameter of a stored procedure): "YYYY-MM-DD", optionally
// followed by " " or "T" and "HH:MM" or "HH:MM:SS", from year 1 on, seconds up to 59.
enum class DateReading { kTextForm, kParameter };

// The date and time of a text of one of the reading's forms, or nullopt when the text has none
// of them or names a date or time that does not exist.
std::optional<LocalDateTime> ReadDateTime(std::string_view text, DateReading reading);

// Reads the text form back. A date alone ("YYYY-MM-DD") means midnight of that day. Any
// other text, or a date or time that does not exist, raises the type-mismatch Failure.
LocalDateTime ParseDateTimeText(std::string_view text);

}  // namespace talvex
