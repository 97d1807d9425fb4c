// Mapping of Linux socket errors to the socket layer's numbers.
#include "platform/socket_errors.hpp"

#include <array>
#include <cerrno>
#include <string_view>
#include <utility>

namespace talvex {

namespace {

constexpr std::array<std::pair<int, std::int32_t>, 20> kSocketNumbers = {{
    {EINTR, 10004},       {EBADF, 10009},        {EACCES, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},      {EMFILE, 10024},       {EWOULDBLOCK, 10035},   {EINPROGRESS, 10036},
    {ENOTSOCK, 10038},    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},
    {ENETUNREACH, 10051}, {ECONNABORTED, 10053}, {ECONNRESET, 10054},    {ENOBUFS, 10055},
    {ENOTCONN, 10057},    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061},  {EHOSTUNREACH, 10065},
}};

}  // namespace

std::int32_t SocketErrorNumber(const std::error_code& ec) {
  // Errors of the OS, whether reported through the standard library or the socket library.
  const std::string_view category = ec.category().name();
  if (category == "system" || category == "generic" || category == "asio.system") {
    for (const auto& [error, number] : kSocketNumbers) {
      if (ec.value() == error) return number;
    }
  }
  return ec.value();
}

std::string SocketErrorDescription(const std::error_code& ec) {
  return ec.message();
}

}  // namespace talvex
