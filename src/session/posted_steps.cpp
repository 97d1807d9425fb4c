// The run of posted steps; see posted_steps.hpp.
#include "session/posted_steps.hpp"

#include <asio/async_result.hpp>
#include <asio/dispatch.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/use_awaitable.hpp>
#include <exception>
#include <memory>
#include <utility>

namespace talvex {

namespace {

// One run, owned by whichever handler is pending; it owns the awaiting coroutine's handler.
template <class Executor, class Handler>
struct Run {
  Executor executor;
  std::size_t next;
  std::size_t count;
  const ListingStep& step;
  const StopCheck& stop;
  Handler done;
};

template <class Executor, class Handler>
void Finish(std::unique_ptr<Run<Executor, Handler>> run, std::exception_ptr error) {
  const auto handlerExecutor = asio::get_associated_executor(run->done, run->executor);
  asio::dispatch(handlerExecutor, [done = std::move(run->done), error, next = run->next]() mutable {
    std::move(done)(error, next);
  });
}

template <class Executor, class Handler>
void Continue(std::unique_ptr<Run<Executor, Handler>> run) {
  if (run->next == run->count || run->stop()) {
    Finish(std::move(run), nullptr);
    return;
  }
  try {
    run->step(run->next);
  } catch (...) {
    Finish(std::move(run), std::current_exception());
    return;
  }
  ++run->next;
  const Executor executor = run->executor;
  asio::post(executor, [run = std::move(run)]() mutable { Continue(std::move(run)); });
}

template <class Executor, class Handler>
void Start(const Executor& executor, std::size_t from, std::size_t count, const ListingStep& step,
           const StopCheck& stop, Handler&& done) {
  auto run =
      std::make_unique<Run<Executor, std::decay_t<Handler>>>(Run<Executor, std::decay_t<Handler>>{
          executor, from, count, step, stop, std::forward<Handler>(done)});
  asio::post(executor, [run = std::move(run)]() mutable { Continue(std::move(run)); });
}

}  // namespace

asio::awaitable<std::size_t> RunPostedSteps(asio::any_io_executor executor, std::size_t from,
                                            std::size_t count, const ListingStep& step,
                                            const StopCheck& stop) {
  co_return co_await asio::async_initiate<const asio::use_awaitable_t<>&,
                                          void(std::exception_ptr, std::size_t)>(
      [&](auto done) {
        // The loop's own executor posts without the type-erased one's indirections, which
        // cost more than a step.
        if (const auto* loop = executor.target<asio::io_context::executor_type>()) {
          Start(*loop, from, count, step, stop, std::move(done));
        } else {
          Start(executor, from, count, step, stop, std::move(done));
        }
      },
      asio::use_awaitable);
}

}  // namespace talvex
