// RunPostedSteps: the steps of a listing (one per message) with a turn of the event loop between
// any two, as one asynchronous operation. A listing must let every other event run after each
// of its items; awaiting a post for that resumes the listing's coroutine once per item, and a
// coroutine's resumption costs several times the step itself. Here each step is a plain
// handler posted to the loop, and the coroutine resumes once, when the run ends.
#pragma once

#include <asio/any_io_executor.hpp>
#include <asio/awaitable.hpp>
#include <cstddef>
#include <functional>

namespace talvex {

using ListingStep = std::function<void(std::size_t)>;
using StopCheck = std::function<bool()>;

// Lets every handler that is ready on the loop run, then runs step(from), step(from + 1), ...
// up to step(count - 1), each in a handler of its own posted after the one before, so that
// other events run between any two. Before each step, `stop` may end the run. Gives the index
// of the first step not run (count when all ran), or raises what a step raised. Both functions
// must outlive the run.
asio::awaitable<std::size_t> RunPostedSteps(asio::any_io_executor executor, std::size_t from,
                                            std::size_t count, const ListingStep& step,
                                            const StopCheck& stop);

}  // namespace talvex
