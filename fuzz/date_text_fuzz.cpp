// The readers of the date-time text form on arbitrary text. What a reader accepts is a date
// that exists (checked here against the Gregorian rules, written out independently) and a time
// within the reading's ranges; written back in the text form it reads back the same; the text
// form's reader accepts exactly the text form or its date alone; ParseDateTimeText raises
// exactly when that reader refuses.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.hpp"
#include "platform/date_text.hpp"
#include "platform/failure.hpp"

namespace {

using talvex::DateReading;
using talvex::LocalDateTime;
using talvex::fuzz::Check;

bool LeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

bool Valid(const LocalDateTime& value, int firstYear, int lastSecond) {
  return value.year >= firstYear && value.year <= 9999 && value.month >= 1 && value.month <= 12 &&
         value.day >= 1 && value.day <= DaysInMonth(value.year, value.month) && value.hour >= 0 &&
         value.hour <= 23 && value.minute >= 0 && value.minute <= 59 && value.second >= 0 &&
         value.second <= lastSecond;
}

void CheckTextForm(std::string_view text) {
  const auto value = talvex::ReadDateTime(text, DateReading::kTextForm);
  bool raised = false;
  try {
    const LocalDateTime parsed = talvex::ParseDateTimeText(text);
    Check(value && parsed == *value, "ParseDateTimeText reads what ReadDateTime reads");
  } catch (const talvex::Failure&) {
    raised = true;
  }
  Check(raised == !value, "ParseDateTimeText raises exactly when the text is refused");
  if (!value) return;
  Check(Valid(*value, 0, 60), "the text form names an existing date and time");
  const std::string written = talvex::FormatDateTimeText(*value);
  Check(text == written || text == written.substr(0, 10), "only the text form is read");
  Check(talvex::ReadDateTime(written, DateReading::kTextForm) == value, "written, read back");
}

void CheckParameter(std::string_view text) {
  const auto value = talvex::ReadDateTime(text, DateReading::kParameter);
  if (!value) return;
  Check(Valid(*value, 1, 59), "a parameter names an existing date and time from year 1");
  const std::string written = talvex::FormatDateTimeText(*value);
  Check(talvex::ReadDateTime(written, DateReading::kParameter) == value, "written, read back");
  Check(text.substr(0, 10) == written.substr(0, 10), "the date is read as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckTextForm(text);
  CheckParameter(text);
  return 0;
}
