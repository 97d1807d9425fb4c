// What the session's connection does with its socket: a peer's reset, and the connection
// time limit. Line assembly is tested without sockets.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "loopback.hpp"
#include "session/session.hpp"

namespace talvex {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

TEST(Frame, ResetConnectionIsASocketError) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(2));
  testing::Client client(host.Port());
  ASSERT_THAT(client.ReadLine(), HasSubstr("ready."));
  client.Abort();
  ASSERT_TRUE(host.WaitForMessage("POP3 server socket 0 destroyed"));
  EXPECT_THAT(host.Messages(),
              ::testing::Contains("Socket 0 Error: 10054. Connection reset by peer"));
}

TEST(FrameTimeLimit, SessionEndsAtTheTenthTickWhateverTheClientDoes) {
  testing::ServerThread host(SessionTiming{std::chrono::milliseconds(30)});
  ASSERT_TRUE(host.Start(1));
  testing::Client client(host.Port());
  ASSERT_THAT(client.ReadLine(), HasSubstr("ready."));
  const auto start = std::chrono::steady_clock::now();
  bool closed = false;
  while (!closed && std::chrono::steady_clock::now() - start < 5s) {
    try {
      client.Send("CAPA\r\n");
    } catch (const std::runtime_error&) {
      break;
    }
    closed = client.WaitClosed(20ms);
  }
  EXPECT_TRUE(host.WaitForMessage("POP3 server socket 0 destroyed"));
  // Ten ticks, not fewer: at least nine intervals passed before the close.
  EXPECT_GE(std::chrono::steady_clock::now() - start, 270ms);
}

}  // namespace
}  // namespace talvex
