// HashText throughput on a 4 KiB text (the size of a typical header block plus body start),
// and the same digest through a CryptoAPI whose providers are loaded afresh, which is what
// sharing the loaded providers saves on every call.
#include <benchmark/benchmark.h>

#include <string>

#include "crypto/crypto_api.hpp"
#include "crypto/hash_text.hpp"

namespace {

std::string SampleText() {
  std::string text;
  while (text.size() < 4096)
    text += "Subject: quarterly figures, line " + std::to_string(text.size());
  text.resize(4096);
  return text;
}

void BM_HashText4KiB(benchmark::State& state) {
  const std::string text = SampleText();
  for (auto _ : state) benchmark::DoNotOptimize(talvex::HashText(text));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_HashText4KiB);

// The generated Message-ID's input: a date, a name and two addresses.
void BM_HashTextShort(benchmark::State& state) {
  const std::string text =
      "Mon, 1 Jan 2024 10:00:00 +0100Zoe Zeta<zoe@example.org>bob.builder@example.org";
  for (auto _ : state) benchmark::DoNotOptimize(talvex::HashText(text));
}
BENCHMARK(BM_HashTextShort);

void BM_CreateHashFreshProviders4KiB(benchmark::State& state) {
  const std::string text = SampleText();
  for (auto _ : state) {
    talvex::CryptoAPI api(talvex::crypto::Providers::Load);
    benchmark::DoNotOptimize(api.CreateHash(text, 1, true));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_CreateHashFreshProviders4KiB);

}  // namespace
