// Addresses and names as the component shows them: IPv4 peers of the dual-stack listener
// appear as plain IPv4 ("127.0.0.1", not "::ffff:127.0.0.1"); the local host name is the
// system's, looked up at most once a second by a server that names every connection with it.
// Also the socket options Asio leaves out (SO_REUSEPORT, TCP_QUICKACK) and the socket's send
// queue.
#pragma once

#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <asio/detail/socket_option.hpp>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <charconv>
#include <chrono>
#include <optional>
#include <string>

namespace talvex {

// Lets several processes bind one port; the kernel spreads new connections among them.
using ReusePortOption = asio::detail::socket_option::boolean<SOL_SOCKET, SO_REUSEPORT>;
// Switched off, a connection delays its acknowledgements so that they ride on its replies.
using QuickAckOption = asio::detail::socket_option::boolean<IPPROTO_TCP, TCP_QUICKACK>;

inline std::string AddressText(asio::ip::address address) {
  if (address.is_v6() && address.to_v6().is_v4_mapped()) {
    address = asio::ip::make_address_v4(asio::ip::v4_mapped, address.to_v6());
  }
  if (!address.is_v4()) return address.to_string();
  // Written here: the library's text goes through a formatted print, and every accepted
  // connection is named.
  std::string text;
  for (const unsigned octet : address.to_v4().to_bytes()) {
    if (!text.empty()) text.push_back('.');
    std::array<char, 3> digits{};
    const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), octet).ptr;
    text.append(digits.data(), end);
  }
  return text;
}

// The octets the kernel holds for the peer that it has not acknowledged yet: a client that is
// still reading a long reply makes this shrink. 0 when the socket cannot tell.
inline std::size_t UnsentOctets(asio::ip::tcp::socket& socket) {
  int octets = 0;
  if (ioctl(socket.native_handle(), SIOCOUTQ, &octets) != 0 || octets < 0) return 0;
  return static_cast<std::size_t>(octets);
}

// The local host name, "localhost" when the system has none to give.
inline std::string LocalHostName() {
  std::array<char, 256> name{};
  if (gethostname(name.data(), name.size() - 1) != 0) return "localhost";
  return name.data();
}

// LocalHostName, asked of the system again only once `maxAge` has passed since the last time.
class HostNameCache {
 public:
  explicit HostNameCache(std::chrono::steady_clock::duration maxAge = std::chrono::seconds(1))
      : maxAge_(maxAge) {}

  const std::string& Get() {
    const auto now = std::chrono::steady_clock::now();
    if (!lookedUp_ || now - *lookedUp_ >= maxAge_) {
      name_ = LocalHostName();
      lookedUp_ = now;
    }
    return name_;
  }

 private:
  std::chrono::steady_clock::duration maxAge_;
  std::optional<std::chrono::steady_clock::time_point> lookedUp_;
  std::string name_;
};

}  // namespace talvex
