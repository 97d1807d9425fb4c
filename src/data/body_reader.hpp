// BodyReader: one item's stored body read a piece at a time, so that a large message is never
// held whole in memory, neither by the server nor, for the embedded engine, by the engine.
// The reader owns whatever its engine needs for the reading (a connection of its own for the
// embedded database) and keeps no read open longer than it must.
#pragma once

#include <asio/awaitable.hpp>
#include <cstddef>
#include <string>

namespace talvex::data {

class BodyReader {
 public:
  BodyReader() = default;
  BodyReader(const BodyReader&) = delete;
  BodyReader& operator=(const BodyReader&) = delete;
  virtual ~BodyReader() = default;

  // Appends the body's next octets to `out`: about `octets` of them, more when the engine
  // reads whole characters. False, with nothing appended, once the body has been read to its
  // end. Raises Failure (a data-access number) when the body cannot be read, or was changed or
  // removed since the reading began: a partial message must not pass for a whole one.
  virtual asio::awaitable<bool> ReadNext(std::string& out, std::size_t octets) = 0;
};

}  // namespace talvex::data
