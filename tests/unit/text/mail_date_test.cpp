// Mail dates, zone offsets and the date-time text form, under fixed zones and moments.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>

#include "platform/date_text.hpp"
#include "platform/failure.hpp"
#include "text/mail_date.hpp"

namespace talvex {
namespace {

using namespace std::chrono;

// Sets TZ for the life of the object and puts the previous value back afterwards.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) previous_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    previous_ ? setenv("TZ", previous_->c_str(), 1) : unsetenv("TZ");
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

const std::time_t kJanuary = system_clock::to_time_t(sys_days{2026y / January / 15} + 12h);
const std::time_t kJuly = system_clock::to_time_t(sys_days{2026y / July / 15} + 12h);

TEST(ZoneOffset, FollowsZoneAndDaylightTimeOfTheMoment) {
  struct Case {
    const char* zone;
    int january, july;
    const char *januaryText, *julyText;
  };
  for (const Case& c :
       {Case{"UTC", 0, 0, "+0000", "+0000"}, Case{"America/New_York", -300, -240, "-0500", "-0400"},
        Case{"Asia/Kathmandu", 345, 345, "+0545", "+0545"},
        Case{"America/St_Johns", -210, -150, "-0330", "-0230"},
        Case{"Europe/Berlin", 60, 120, "+0100", "+0200"}}) {
    SCOPED_TRACE(c.zone);
    ASSERT_TRUE(std::filesystem::exists(std::string("/usr/share/zoneinfo/") + c.zone));
    const ScopedZone zone(c.zone);
    EXPECT_EQ(GetZoneOffset(kJanuary), c.january);
    EXPECT_EQ(GetZoneOffset(kJuly), c.july);
    EXPECT_EQ(FormatZoneOffset(kJanuary), c.januaryText);
    EXPECT_EQ(FormatZoneOffset(kJuly), c.julyText);
  }
  EXPECT_EQ(ZoneOffsetText(-45), "-0045");
}

TEST(MailDate, FormatsDateTextWithTheOffsetOfTheMomentOfComposing) {
  const ScopedZone zone("America/New_York");
  EXPECT_EQ(FormatMailDate("2007-12-04 09:05:07", kJanuary), "Tue, 4 Dec 2007 09:05:07 -0500");
  EXPECT_EQ(FormatMailDate("2024-02-29", kJanuary), "Thu, 29 Feb 2024 00:00:00 -0500");
  EXPECT_EQ(FormatMailDate("2026-12-05 01:27:37", kJuly), "Sat, 5 Dec 2026 01:27:37 -0400");
  EXPECT_EQ(GetDayName(7), "Saturday");
  EXPECT_EQ(GetMonthName(12), "December");
  EXPECT_TRUE(GetDayName(8).empty() && GetMonthName(0).empty());
  // The text grammar is tested with its reader (rules_test.cpp); a text it refuses raises
  // the type mismatch callers see.
  for (const char* text : {"garbage", "2007-12-04 09:05"}) {
    try {
      FormatMailDate(text, kJanuary);
      ADD_FAILURE() << text;
    } catch (const Failure& failure) {
      EXPECT_TRUE(failure.Is(ErrorNumber::kTypeMismatch)) << text;
    }
  }
}

TEST(MailDate, EmptyTextMeansNowInLocalTime) {
  {
    const ScopedZone zone("Europe/Berlin");
    EXPECT_EQ(FormatMailDate("", kJuly), "Wed, 15 Jul 2026 14:00:00 +0200");
  }
  const ScopedZone zone("Asia/Kathmandu");
  const std::string now = FormatMailDate("");
  EXPECT_TRUE(std::regex_match(now, std::regex(R"(\w{3}, [1-9]\d? \w{3} \d{4} [\d:]{8} \+0545)")))
      << now;
}

TEST(DateTimeText, RoundTripsTheLocalTimeOfAMoment) {
  const ScopedZone zone("Asia/Kolkata");
  EXPECT_EQ(FormatDateTimeText(kJanuary), "2026-01-15 17:30:00");
  EXPECT_EQ(ParseDateTimeText(FormatDateTimeText(kJanuary)),
            (LocalDateTime{2026, 1, 15, 17, 30, 0}));
  EXPECT_NO_THROW(ParseDateTimeText(NowText()));
}

}  // namespace
}  // namespace talvex
