// The heartbeat loop: one coroutine per start, which beats, waits, and after the stop removes
// the row. Beats and the removal run one after the other in it, so a beat in flight at the stop
// can never bring the row back after its removal.
#include "host/instance_heartbeat.hpp"

#include <unistd.h>

#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/post.hpp>
#include <asio/redirect_error.hpp>
#include <asio/steady_timer.hpp>
#include <asio/use_awaitable.hpp>
#include <optional>
#include <utility>

#include "data/data_handler.hpp"
#include "platform/failure.hpp"
#include "platform/guid.hpp"
#include "platform/net.hpp"

namespace talvex {

namespace {

constexpr std::string_view kSource = "ServerHandler Class";

}  // namespace

struct InstanceHeartbeat::State {
  State(asio::io_context& io, Environment environment, std::shared_ptr<data::BackendPool> backends,
        LogSink sink, std::chrono::milliseconds interval)
      : executor(io.get_executor()),
        timer(io),
        env(std::move(environment)),
        pool(std::move(backends)),
        log(std::move(sink)),
        period(interval) {}

  void Log(Severity severity, std::string_view message) const {
    if (log) log(severity, kSource, message);
  }

  void CancelTimer() noexcept {
    try {
      timer.cancel();
    } catch (const std::exception&) {  // NOLINT(bugprone-empty-catch)
      // The wait then ends at its time instead, and the loop sees the stop there.
    }
  }

  // Runs a continuation once, later on the loop, never inside the caller's own call.
  void Later(std::function<void()>& continuation) {
    if (auto once = std::exchange(continuation, {})) asio::post(executor, std::move(once));
  }
  void Finish() { Later(done); }

  asio::any_io_executor executor;
  asio::steady_timer timer;
  Environment env;
  std::shared_ptr<data::BackendPool> pool;
  LogSink log;
  std::chrono::milliseconds period;
  std::optional<DataHandler> handler;
  ServerInstance instance;
  bool registered = false;
  bool running = false;
  bool stopping = false;
  std::function<void()> firstBeat;
  std::function<void()> done;
};

namespace {

using SharedState = std::shared_ptr<InstanceHeartbeat::State>;

asio::awaitable<void> Beat(SharedState state) {
  try {
    const bool beaten = co_await state->handler->BeatP3InstanceAsync(state->instance);
    if (beaten) state->registered = true;
  } catch (const std::exception& error) {
    state->Log(Severity::kFailure, ErrorLine(ToFailure(error)));
  }
}

asio::awaitable<void> Remove(SharedState state) {
  try {
    co_await state->handler->RemoveP3InstanceAsync(state->instance.instanceId);
  } catch (const std::exception& error) {
    state->Log(Severity::kFailure, ErrorLine(ToFailure(error)));
  }
}

asio::awaitable<void> Run(SharedState state) {
  while (!state->stopping) {
    co_await Beat(state);
    state->Later(state->firstBeat);
    if (state->stopping) break;
    state->timer.expires_after(state->period);
    std::error_code ignored;  // a cancelled wait is the stop, seen at the loop's head
    co_await state->timer.async_wait(asio::redirect_error(asio::use_awaitable, ignored));
  }
  if (state->registered) co_await Remove(state);
  state->registered = false;
  state->running = false;
  state->Finish();
}

}  // namespace

InstanceHeartbeat::InstanceHeartbeat(asio::io_context& io, Environment env,
                                     std::shared_ptr<data::BackendPool> pool, LogSink log,
                                     std::chrono::milliseconds period)
    : state_(std::make_shared<State>(io, std::move(env), std::move(pool), std::move(log), period)) {
}

InstanceHeartbeat::~InstanceHeartbeat() {
  state_->stopping = true;
  state_->registered = false;  // the loop, should it run again, leaves the row as it is
  state_->done = {};
  state_->firstBeat = {};
  state_->CancelTimer();
}

void InstanceHeartbeat::Start(std::function<void()> firstBeat) {
  state_->firstBeat = std::move(firstBeat);
  if (state_->running) {
    // A start during a stop carries on beating under the same identifier; the stop's
    // continuation runs all the same.
    state_->stopping = false;
    state_->Finish();
    state_->Later(state_->firstBeat);
    return;
  }
  try {
    if (!state_->handler) {
      state_->handler.emplace(state_->env, state_->pool);
      state_->handler->SetEventLog(state_->log);
    }
  } catch (const std::exception& error) {
    // Without a heartbeat the sessions' locks go stale by their age alone, as before.
    state_->Log(Severity::kFailure, ErrorLine(ToFailure(error)));
    state_->Later(state_->firstBeat);
    return;
  }
  state_->instance = {NewHexIdentifier(), LocalHostName(), static_cast<std::int32_t>(getpid())};
  state_->registered = false;
  state_->stopping = false;
  state_->running = true;
  asio::co_spawn(state_->executor, Run(state_), asio::detached);
}

std::string InstanceHeartbeat::InstanceId() const {
  return state_->registered ? state_->instance.instanceId : std::string();
}

void InstanceHeartbeat::Stop(std::function<void()> done) {
  state_->done = std::move(done);
  if (!state_->running) {
    state_->Finish();
    return;
  }
  state_->stopping = true;
  state_->CancelTimer();
}

}  // namespace talvex
