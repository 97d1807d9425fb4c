// Local date and time as text, the form that log lines and stored items carry
// ("2026-12-05 19:06:57"). Follows the process time zone (TZ).
#pragma once

#include <ctime>
#include <string>

namespace talvex {

std::string LocalDateTimeText(std::time_t when);
std::string LocalDateTimeText();  // now

}  // namespace talvex
