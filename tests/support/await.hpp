// Runs a coroutine to its end on an event loop of its own, for tests that call the
// asynchronous interfaces from plain test code.
#pragma once

#include <asio/awaitable.hpp>
#include <asio/co_spawn.hpp>
#include <asio/io_context.hpp>
#include <exception>
#include <optional>
#include <utility>

namespace talvex::test {

// The coroutine's result; its failure is rethrown.
template <typename T>
T Await(asio::awaitable<T> call) {
  asio::io_context io;
  std::optional<T> value;
  std::exception_ptr failure;
  asio::co_spawn(io, std::move(call), [&](const std::exception_ptr& error, T result) {
    failure = error;
    if (!error) value = std::move(result);
  });
  io.run();
  if (failure) std::rethrow_exception(failure);
  return std::move(*value);
}

}  // namespace talvex::test
