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

TEST(CommandLine, LoggedLineHidesPasswordsAfterLineBreaks) {
  EXPECT_EQ(LoggedCommandLine("USER bob\r\nPASS secret"), "USER bob\r\nPASS ***");
  EXPECT_EQ(LoggedCommandLine("USER bob\npass s1\rPaSs s2\r\nNOOP"),
            "USER bob\npass ***\rPaSs ***\r\nNOOP");
  EXPECT_EQ(LoggedCommandLine("NOOP PASS x"), "NOOP PASS x");      // not after a break
  EXPECT_EQ(LoggedCommandLine("\r\nPASS \r\n"), "\r\nPASS \r\n");  // nothing to hide
  EXPECT_EQ(LoggedCommandLine("USER bob\r\n\r\n"), "USER bob\r\n\r\n");
}

}  // namespace
}  // namespace talvex
