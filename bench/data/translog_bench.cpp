// Transaction-log writes with encryption on (the default), 1 KiB bodies, on the embedded
// database: WriteTransLog as a whole (encryption, one committed transaction per record), and
// EncryptText alone, which shows how much of a write is the cipher's.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "data/data_handler.hpp"
#include "data/trans_crypt.hpp"

namespace {

using namespace talvex;

std::filesystem::path MakeTempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "talvex-bench-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

const std::string kBody1KiB(1024, 'x');

// Texts are appended to the empty fields: assigning a literal to a std::string draws GCC 12's
// false -Wrestrict at -O3.
TransLogEntry Entry(std::int64_t n) {
  TransLogEntry entry;
  entry.messageId.append("MSG").append(std::to_string(n));
  entry.toAddress = Variant(std::string("bob@example.org"));
  entry.subject.append("Delivery report");
  entry.body = kBody1KiB;
  entry.direction.push_back('O');
  return entry;
}

void BM_WriteTransLogEncrypted(benchmark::State& state) {
  const std::filesystem::path dir = MakeTempDir();
  {
    DataHandler handler(Environment{dir, ""});
    std::int64_t n = 0;
    for (auto _ : state) {
      TransLogEntry entry = Entry(++n);
      if (!handler.WriteTransLog(entry)) state.SkipWithError("WriteTransLog failed");
    }
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_WriteTransLogEncrypted)->Unit(benchmark::kMicrosecond);

void BM_EncryptText1KiB(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(EncryptText(kBody1KiB, "MSG1"));
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_EncryptText1KiB)->Unit(benchmark::kMicrosecond);

}  // namespace
