// A listing of a session's 100 messages as STAT, LIST and UIDL make it on the embedded
// database: the drop's fields in one query, then each message's size and identifier, either
// from the view (remembered once seen) or worked out from the fields every time.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>

#include "session/maildrop_view.hpp"
#include "session/message_composer.hpp"

namespace {

using namespace talvex;

constexpr int kMessages = 100;
constexpr std::string_view kHost = "pop.example.com";
const std::string kDrop = "listing@example.com";

template <typename T>
T Await(asio::awaitable<T> call) {
  asio::io_context io;
  std::optional<T> value;
  asio::co_spawn(io, std::move(call), [&](const std::exception_ptr& error, T result) {
    if (error) std::rethrow_exception(error);
    value = std::move(result);
  });
  io.run();
  return std::move(*value);
}

std::filesystem::path MakeTempDir() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "talvex-bench-view-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

// A drop of kMessages items without stored identifiers, opened by one session's view.
struct OpenDrop {
  OpenDrop() : dir(MakeTempDir()), env{dir, ""} {
    DataHandler writer(env);
    for (int i = 0; i < kMessages; ++i) {
      std::string messageId, subject = "Message " + std::to_string(i), id;
      std::string body(2000, 'x');
      Variant content = "Windows-1252";
      writer.WriteGWItem("Mon, 1 Jan 2024 10:00:00 +0000", "bench", messageId, content,
                         "sender@example.org", "Sender", kDrop, subject, body, "O", "", "", &id);
    }
    view.emplace(
        data::MailDropStore(env, nullptr, [](Severity, std::string_view, std::string_view) {}),
        std::string(32, 'L'));
    Await([](MailDropView& v) -> asio::awaitable<bool> {
      co_await v.Open(kDrop);
      co_return true;
    }(*view));
    if (view->Count() != kMessages) throw std::runtime_error("listing");
  }
  ~OpenDrop() {
    view.reset();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::filesystem::path dir;
  Environment env;
  std::optional<MailDropView> view;
};

OpenDrop& TheDrop() {
  static OpenDrop drop;
  return drop;
}

void BM_ListingRemembered(benchmark::State& state) {
  MailDropView& view = *TheDrop().view;
  std::size_t octets = 0;
  for (auto _ : state) {
    const MailDropView::Shown shown = Await(view.AllStats());
    for (std::size_t n = 1; n <= shown.size(); ++n) {
      octets += static_cast<std::size_t>(view.Size(n, *shown[n - 1], kHost));
      octets += view.UniqueId(n, *shown[n - 1], kHost).size();
    }
  }
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ListingRemembered);

void BM_ListingRecomputed(benchmark::State& state) {
  MailDropView& view = *TheDrop().view;
  std::size_t octets = 0;
  for (auto _ : state) {
    const MailDropView::Shown shown = Await(view.AllStats());
    for (const auto& item : shown) {
      octets += static_cast<std::size_t>(MessageSize(*item, kHost));
      octets += UniqueIdentifier(item->header, kHost).size();
    }
  }
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ListingRecomputed);

}  // namespace
