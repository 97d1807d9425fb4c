// Mail dates: the RFC 822 date-time text with the local zone offset that message headers
// carry ("Tue, 4 Dec 2007 09:05:07 -0500"), the offset itself, and the English day and
// month names, which never follow the locale.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace talvex {

// "Sunday" for 1 to "Saturday" for 7; empty for any other number.
std::string_view GetDayName(std::int16_t day);

// "January" for 1 to "December" for 12; empty for any other number.
std::string_view GetMonthName(std::int16_t month);

// Minutes east of UTC in force at the moment (daylight saving time included), from the
// zone of the process (TZ honoured). An offset beyond 16 bits raises the overflow Failure;
// a moment the platform cannot convert gives 0.
std::int16_t GetZoneOffset(std::time_t moment);
// The offset in force now.
std::int16_t GetZoneOffset();

// An offset as a sign and four digits, hours then minutes: 330 gives "+0530", -45 "-0045",
// 0 "+0000".
std::string ZoneOffsetText(std::int16_t offset);
// The text of the offset in force at the moment, or now.
std::string FormatZoneOffset(std::time_t moment);
std::string FormatZoneOffset();

// The mail date of dateText, a date-time in the system's text form (platform/date_text.hpp); an
// empty dateText means the current local date and time. The zone offset is always the one in
// force now, also when dateText names a day in the other half of a daylight-saving year:
// messages are dated as the server sees its clock when it composes them. An unreadable
// dateText raises the type-mismatch Failure.
std::string FormatMailDate(std::string_view dateText);
// As above with `now` standing for the current moment (both for an empty dateText and for
// the offset), so that one moment is used throughout.
std::string FormatMailDate(std::string_view dateText, std::time_t now);

}  // namespace talvex
