// The single-owner rules of the platform: the decimal grammar and integer narrowing, the
// date-time readers, ASCII case, hexadecimal digits, new identifiers and peer addresses.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <limits>
#include <set>
#include <string>

#include "platform/ascii.hpp"
#include "platform/date_text.hpp"
#include "platform/guid.hpp"
#include "platform/hex.hpp"
#include "platform/net.hpp"
#include "platform/numbers.hpp"

namespace talvex {
namespace {

TEST(Addresses, IPv4PeersOfEitherListenerAppearPlain) {
  const std::pair<const char*, const char*> cases[] = {{"127.0.0.1", "127.0.0.1"},
                                                       {"0.0.0.0", "0.0.0.0"},
                                                       {"255.255.255.255", "255.255.255.255"},
                                                       {"10.20.0.9", "10.20.0.9"},
                                                       {"::ffff:192.168.100.7", "192.168.100.7"},
                                                       {"::1", "::1"},
                                                       {"2001:db8::5", "2001:db8::5"}};
  for (const auto& [peer, shown] : cases) {
    EXPECT_EQ(AddressText(asio::ip::make_address(peer)), shown) << peer;
  }
}

TEST(Numbers, OneDecimalGrammar) {
  const std::pair<const char*, double> numeric[] = {{"+2", 2},   {"-3", -3},  {" 7 ", 7},
                                                    {"1e1", 10}, {".5", 0.5}, {"007", 7}};
  for (const auto& [text, value] : numeric) EXPECT_EQ(ParseDecimal(text), value) << text;
  for (const char* text :
       {"", " ", ".", "1x", "0x10", "inf", "nan", "1e", "--1", "1 2", "\t1", "1e999"}) {
    EXPECT_EQ(ParseDecimal(text), std::nullopt) << text;
  }
}

TEST(Numbers, HalvesRoundToEvenWithinTheIntegerRange) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::pair<double, std::int32_t> rounded[] = {
      {0.5, 0}, {2.5, 2}, {-2.5, -2}, {2.6, 3}, {2147483647.4, 2147483647}, {-2147483648.5, kMin}};
  for (const auto& [value, integer] : rounded) EXPECT_EQ(RoundToInt32(value), integer) << value;
  for (const double value : {2147483647.5, -2147483649.0, 1e10}) {
    EXPECT_EQ(RoundToInt32(value), std::nullopt) << value;
  }
  EXPECT_EQ(RoundToInteger<std::int64_t>(9223372036854775808.0), std::nullopt);
  EXPECT_EQ(RoundToInteger<std::int16_t>(-32768.4), std::int16_t{-32768});
  EXPECT_EQ(NarrowInteger<std::int16_t>(32768), std::nullopt);
}

TEST(DateText, EachReaderAcceptsItsFormsOfRealDates) {
  const LocalDateTime noon{2024, 2, 29, 12, 5, 0};
  EXPECT_EQ(ReadDateTime("2024-02-29 12:05:00", DateReading::kTextForm), noon);
  EXPECT_EQ(ReadDateTime("2024-02-29T12:05", DateReading::kParameter), noon);
  EXPECT_EQ(ReadDateTime("2024-02-29", DateReading::kTextForm), (LocalDateTime{2024, 2, 29}));
  EXPECT_EQ(FormatDateTimeText(noon), "2024-02-29 12:05:00");
  // Only the text form has a leap second and a year 0; only parameters have the short forms.
  EXPECT_TRUE(ReadDateTime("2016-12-31 23:59:60", DateReading::kTextForm));
  EXPECT_FALSE(ReadDateTime("2016-12-31 23:59:60", DateReading::kParameter));
  EXPECT_FALSE(ReadDateTime("0000-01-01", DateReading::kParameter));
  EXPECT_FALSE(ReadDateTime("2024-02-29T12:05", DateReading::kTextForm));
  for (const char* text :
       {"2023-02-29", "2024-13-01", "2024-01-01 24:00:00", "2024-01-01 09:60:00", "2024-1-01",
        "+024-01-01", "2024-01-01 12:00:0x", "2024-01-01 12:00:00Z"}) {
    EXPECT_FALSE(ReadDateTime(text, DateReading::kParameter)) << text;
    EXPECT_FALSE(ReadDateTime(text, DateReading::kTextForm)) << text;
  }
}

TEST(Ascii, OnlyAsciiLettersChangeCase) {
  EXPECT_TRUE(EqualsIgnoreCase("LogonName", "LOGONNAME"));
  EXPECT_FALSE(EqualsIgnoreCase("Logon", "LogonName"));
  EXPECT_FALSE(EqualsIgnoreCase("\xC3\xA9", "\xC3\x89"));  // é and É stay apart
  EXPECT_EQ(ToUpper("hkcu-z{"), "HKCU-Z{");
}

TEST(Identifiers, HexDigits) {
  std::string out;
  hex::AppendByte(out, 0x0F);
  hex::AppendByte(out, 0xA0);
  EXPECT_EQ(out, "0FA0");
  EXPECT_EQ(hex::DigitValue('f'), 15);
  EXPECT_EQ(hex::DigitValue('G'), -1);
}

// New identifiers, made one at a time or by a source across the refills of its batch of random
// bytes, are version 4 identifiers in hexadecimal, each one new.
TEST(Identifiers, NewIdentifiersAreVersion4AndEachOneNew) {
  IdentifierSource source;
  const std::pair<const char*, std::function<std::string()>> makers[] = {
      {"one at a time", &NewHexIdentifier}, {"from a source", [&] { return source.Next(); }}};
  for (const auto& [name, make] : makers) {
    SCOPED_TRACE(name);
    std::set<std::string> seen;
    for (int i = 0; i < 100; ++i) {
      const std::string id = make();
      ASSERT_EQ(id.size(), 32U);
      EXPECT_EQ(id.find_first_not_of(hex::kDigits), std::string::npos) << id;
      EXPECT_EQ(id[12], '4') << id;
      EXPECT_NE(std::string("89AB").find(id[16]), std::string::npos) << id;  // the RFC 4122 variant
      seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 100U);
  }
}

}  // namespace
}  // namespace talvex
