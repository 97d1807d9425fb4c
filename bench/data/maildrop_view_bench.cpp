// A listing of a session's 100 messages as STAT, LIST and UIDL make it on the embedded
// database: each message's size and identifier, either from the view with the server's memory
// (the drop's digests in one query, the answers remembered once seen) or worked out from the
// fields, read in one query, every time.
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

// A drop of kMessages items without stored identifiers, opened by one session's view, which
// remembers what it works out when given `facts`.
struct OpenDrop {
  explicit OpenDrop(std::shared_ptr<MessageFacts> facts) : dir(MakeTempDir()), env{dir, ""} {
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
        std::string(32, 'L'), std::move(facts));
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

OpenDrop& RememberingDrop() {
  static OpenDrop drop(std::make_shared<MessageFacts>());
  return drop;
}

OpenDrop& ForgetfulDrop() {
  static OpenDrop drop(nullptr);
  return drop;
}

// STAT's or LIST's sizes, then UIDL's identifiers.
std::size_t List(MailDropView& view) {
  std::size_t octets = 0;
  const MailDropView::Shown sizes = Await(view.AllStats(MailDropView::Need::kSize, kHost));
  for (const auto& item : sizes) octets += static_cast<std::size_t>(view.Size(*item, kHost));
  const MailDropView::Shown ids = Await(view.AllStats(MailDropView::Need::kUniqueId, kHost));
  for (const auto& item : ids) octets += view.UniqueId(*item, kHost).size();
  return octets;
}

void BM_ListingRemembered(benchmark::State& state) {
  MailDropView& view = *RememberingDrop().view;
  std::size_t octets = 0;
  for (auto _ : state) octets += List(view);
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ListingRemembered);

void BM_ListingRecomputed(benchmark::State& state) {
  MailDropView& view = *ForgetfulDrop().view;
  std::size_t octets = 0;
  for (auto _ : state) octets += List(view);
  benchmark::DoNotOptimize(octets);
  state.SetItemsProcessed(state.iterations() * kMessages);
}
BENCHMARK(BM_ListingRecomputed);

}  // namespace
