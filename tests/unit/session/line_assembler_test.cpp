// Command lines assembled from the chunks a client sends, fed directly: where lines end, what
// a too long line keeps, and how its end is still found.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "session/line_assembler.hpp"

namespace talvex {
namespace {

// The line each chunk completes, or nullopt, fed in order to one assembler.
std::vector<std::optional<std::string>> Feed(const std::vector<std::string>& chunks) {
  LineAssembler lines;
  std::vector<std::optional<std::string>> out;
  for (const auto& chunk : chunks) out.push_back(lines.Feed(chunk));
  return out;
}

using Lines = std::vector<std::optional<std::string>>;
const std::nullopt_t kNone = std::nullopt;

TEST(LineAssembler, LinesEndOnlyWhereAChunkEndsWithCrLf) {
  EXPECT_EQ(Feed({"NO", "OP", "\r\n"}), (Lines{kNone, kNone, "NOOP"}));
  // LF alone ends nothing; the line then keeps it.
  EXPECT_EQ(Feed({"NOOP\n", "\r\n"}), (Lines{kNone, "NOOP\n"}));
  // CR and LF in separate chunks: only the chunk ending in CR LF ends a line.
  EXPECT_EQ(Feed({"NOOP\r", "\n"}), (Lines{kNone, "NOOP"}));
  // Two commands in one chunk are one line.
  EXPECT_EQ(Feed({"NOOP\r\nSTAT\r\n"}), (Lines{"NOOP\r\nSTAT"}));
  EXPECT_EQ(Feed({"\r\n", "STAT\r\n"}), (Lines{"", "STAT"}));
}

TEST(LineAssembler, LongLinesKeepTheirFirst4096Characters) {
  const std::string head(LineAssembler::kMaxLineLength, 'a');
  // One chunk of 5000 characters, then a normal line.
  EXPECT_EQ(Feed({head + std::string(904, 'b') + "\r\n", "STAT\r\n"}), (Lines{head, "STAT"}));
  // Exactly 4096 characters and CR LF.
  EXPECT_EQ(Feed({head + "\r\n"}), (Lines{head}));
  // Text and CR fill the limit; the LF in the next chunk ends the line at once.
  const std::string cr = std::string(4095, 'c') + "\r";
  EXPECT_EQ(Feed({cr, "\n"}), (Lines{kNone, cr}));
  // While a long line is dropped, CR and LF in separate chunks still end it, and chunks that
  // only grow it are not kept.
  EXPECT_EQ(Feed({std::string(5000, 'd'), std::string(100000, 'e'), "e\r", "\n", "NOOP\r\n"}),
            (Lines{kNone, kNone, kNone, std::string(4096, 'd'), "NOOP"}));
}

}  // namespace
}  // namespace talvex
