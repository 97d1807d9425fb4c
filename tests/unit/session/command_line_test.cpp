// Command-line words and the cleaning of received lines.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace talvex
