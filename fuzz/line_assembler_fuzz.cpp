// The line assembler fed the client's text cut into chunks at points the fuzzer chooses, with
// runs repeated so that lines past the length limit are reached. A simple model of what it
// promises checks every answer: a line ends exactly where the text received so far ends with
// CR LF at the end of a chunk; the line is that text without its CR LF when the whole fits
// the limit, else its first kMaxLineLength characters; nothing of one line reaches the next.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_check.hpp"
#include "session/line_assembler.hpp"

namespace {

using talvex::LineAssembler;
using talvex::fuzz::Check;

constexpr std::size_t kMaxChunkPiece = 64;
constexpr unsigned kMaxRepeat = 1500;  // 64 x 1500 passes the 4096 limit many times over

std::string NextChunk(FuzzedDataProvider& input) {
  const std::string piece = input.ConsumeRandomLengthString(kMaxChunkPiece);
  const unsigned repeat = input.ConsumeBool() ? input.ConsumeIntegralInRange(1U, kMaxRepeat) : 1;
  std::string chunk;
  chunk.reserve(piece.size() * repeat);
  for (unsigned i = 0; i < repeat; ++i) chunk.append(piece);
  return chunk;
}

// The line that the model expects once `received` (which ends with CR LF) completes it.
std::string ExpectedLine(const std::string& received) {
  if (received.size() <= LineAssembler::kMaxLineLength) {
    return received.substr(0, received.size() - 2);
  }
  return received.substr(0, LineAssembler::kMaxLineLength);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  LineAssembler lines;
  std::string received;  // everything since the last line ended, as the model sees it
  while (input.remaining_bytes() > 0) {
    const std::string chunk = NextChunk(input);
    received.append(chunk);
    const auto line = lines.Feed(chunk);
    const bool ends = received.ends_with("\r\n");
    Check(line.has_value() == ends, "a line ends exactly where the text received ends in CR LF");
    if (!line) continue;
    Check(line->size() <= LineAssembler::kMaxLineLength, "no line is longer than the limit");
    Check(*line == ExpectedLine(received), "a line is its text, or the first 4096 characters");
    received.clear();
  }
  return 0;
}
