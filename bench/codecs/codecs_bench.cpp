// Throughput of the content encoders on 1 MiB bodies: mail-like text (mostly ASCII with some
// accented and other characters), arbitrary binary bytes for the byte encoders, and plain
// ASCII and all-CJK text for the UTF-8 encoder's two paths.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "platform/ansi.hpp"
#include "text/codecs.hpp"

namespace talvex {
namespace {

constexpr std::size_t kBodySize = 1 << 20;

// UTF-8 text of about kBodySize bytes: lines of prose with a few non-ASCII words.
std::string MailText() {
  const std::string line =
      "Dear customer, your parcel no. 4711 has left the depot at 09:05 and will arrive "
      "tomorrow. Caf\xC3\xA9 cr\xC3\xA8me, 5\xE2\x82\xAC, \xE9\xA9\xAC\xE5\x8A\x9B. Thank you!\r\n";
  std::string text;
  text.reserve(kBodySize + line.size());
  while (text.size() < kBodySize) text += line;
  text.resize(kBodySize - (kBodySize % line.size()));  // whole lines only
  return text;
}

std::string BinaryBytes() {
  std::mt19937 generator(42);
  std::string bytes(kBodySize, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

template <typename Encoder>
void Run(benchmark::State& state, const std::string& input, Encoder encode) {
  for (auto _ : state) {
    std::string out = encode(input);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}

void BM_EncodeBase64_Binary(benchmark::State& state) {
  Run(state, BinaryBytes(), [](const std::string& in) { return EncodeBase64(in); });
}
void BM_EncodeBase64_Text(benchmark::State& state) {
  Run(state, ansi::Encode(MailText()), [](const std::string& in) { return EncodeBase64(in); });
}
void BM_EncodeQuotedPrintable_Text(benchmark::State& state) {
  Run(state, ansi::Encode(MailText()),
      [](const std::string& in) { return EncodeQuotedPrintable(in); });
}
void BM_EncodeQuotedPrintable_Binary(benchmark::State& state) {
  Run(state, BinaryBytes(), [](const std::string& in) { return EncodeQuotedPrintable(in); });
}
void BM_EncodeUTF8_Text(benchmark::State& state) {
  Run(state, MailText(), [](const std::string& in) { return EncodeUTF8(in); });
}
void BM_EncodeUTF8_Ascii(benchmark::State& state) {
  Run(state, std::string(kBodySize, 'a'), [](const std::string& in) { return EncodeUTF8(in); });
}
void BM_EncodeUTF8_Cjk(benchmark::State& state) {
  std::string text;
  while (text.size() + 3 <= kBodySize) text += "\xE9\xA9\xAC";  // U+9A6C
  Run(state, text, [](const std::string& in) { return EncodeUTF8(in); });
}

BENCHMARK(BM_EncodeBase64_Binary);
BENCHMARK(BM_EncodeBase64_Text);
BENCHMARK(BM_EncodeQuotedPrintable_Text);
BENCHMARK(BM_EncodeQuotedPrintable_Binary);
BENCHMARK(BM_EncodeUTF8_Text);
BENCHMARK(BM_EncodeUTF8_Ascii);
BENCHMARK(BM_EncodeUTF8_Cjk);

}  // namespace
}  // namespace talvex
