// RunEventLoop: runs the server's event loop until it is stopped, optionally polling for a
// short while before it sleeps.
//
// Between a reply and the client's next command a loaded server's loop is idle for a few tens
// of microseconds. Sleeping through that gap is expensive on virtual machines: the idle CPU
// halts and is woken again by an interrupt, which costs about as much as serving the command
// itself, and a client that speaks one command at a time pays it on every round trip. Polling
// the loop for a bounded time after each piece of work lets the next command be taken without
// a wake-up. The cost is bounded too: at most `busyPoll` of CPU after each burst of events, so
// a quiet server sleeps as before and a busy one never gets to poll.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>

namespace talvex {

// Runs `io` until it is stopped or runs out of work. `busyPoll` zero: a plain run.
void RunEventLoop(asio::io_context& io, std::chrono::microseconds busyPoll);

}  // namespace talvex
