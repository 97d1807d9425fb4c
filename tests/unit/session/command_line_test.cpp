// Command-line words, the echo of unknown commands, and message-number arguments.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "session/command_line.hpp"

namespace talvex {
namespace {

using Words = std::vector<std::string>;

TEST(CommandLine, WordsAndCleanedLines) {
  EXPECT_EQ(SplitWords("USER  bob "), (Words{"USER", "", "bob", ""}));
  EXPECT_EQ(SplitWords("STAT"), (Words{"STAT"}));
  EXPECT_EQ(CleanCommandLine(""), "");
  EXPECT_EQ(CleanCommandLine("HELO.."), "HELO.");
  EXPECT_EQ(CleanCommandLine("\r\n\r\nHELO\r\n\r\n."), "HELO");
  EXPECT_EQ(CleanCommandLine("HELO.\r\n"), "HELO.");
  EXPECT_EQ(CleanCommandLine("\rHELO\n"), "\rHELO\n");
}

TEST(CommandLine, MessageNumbers) {
  const std::pair<const char*, double> numeric[] = {{"+2", 2},   {"-3", -3},  {" 7 ", 7},
                                                    {"1e1", 10}, {".5", 0.5}, {"007", 7}};
  for (const auto& [text, value] : numeric) EXPECT_EQ(NumericValue(text), value) << text;
  for (const char* text : {"", " ", ".", "1x", "0x10", "inf", "nan", "1e", "--1", "1 2"}) {
    EXPECT_EQ(NumericValue(text), std::nullopt) << text;
  }
  // Halves round to even; the range is that of a 32-bit integer after rounding.
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  const std::pair<double, std::int32_t> rounded[] = {
      {0.5, 0}, {2.5, 2}, {-2.5, -2}, {2.6, 3}, {2147483647.4, 2147483647}, {-2147483648.5, kMin}};
  for (const auto& [value, integer] : rounded) EXPECT_EQ(RoundToInt32(value), integer) << value;
  for (const double value : {2147483647.5, -2147483649.0, 1e10}) {
    EXPECT_EQ(RoundToInt32(value), std::nullopt) << value;
  }
}

}  // namespace
}  // namespace talvex
