// The public class and the session pool over real loopback sockets: start and stop failures,
// a change of the log filter while listening, slot allocation, and the listener's restart after
// its socket fails. The programs' end-to-end
// tests cover the greeting, a port in use and the filter's modes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <sys/socket.h>
#include <asio/ip/tcp.hpp>
#include <atomic>
#include <thread>

#include "data/data_handler.hpp"
#include "loopback.hpp"

namespace talvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kOwnSource = "POP3 Server: (POP3Server Class)";
const std::string kHandlerSource = "POP3 Server: (ServerHandler Class)";

TEST(POP3Server, StartAndStopFailuresRaiseOneOwnLine) {
  testing::ServerThread host;
  auto& server = host.Server();
  server.LoggingMode(5);  // the class's own error lines are never filtered

  // MaxConnections still 0: no session table, nothing listens. (A port beyond 16 bits, which
  // overflows, is proven end to end.)
  EXPECT_FALSE(server.StartListening(110));
  // Nothing to stop.
  EXPECT_FALSE(server.StopListening());
  auto lines = host.Lines();
  ASSERT_EQ(lines.size(), 2U);
  EXPECT_EQ(lines[0].Message, "SMS_POP3Server: 9. Subscript out of range");
  EXPECT_EQ(lines[1].Message, "SMS_POP3Server: 91. Object variable or With block variable not set");

  // Started, it stops once; the second stop fails alike.
  ASSERT_TRUE(host.Start(2, 0));
  bool first = false;
  bool second = true;
  host.Run([&] {
    first = server.StopListening();
    second = server.StopListening();
  });
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  lines = host.Lines();
  ASSERT_EQ(lines.size(), 3U);
  for (const auto& line : lines) {
    EXPECT_EQ(line.MessageType, 3);
    EXPECT_EQ(line.Source, kOwnSource);
  }
}

TEST(POP3Server, LoggingModeFiltersFromTheNextLine) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(2, 1));
  // Mode 1: the listening line, none of the session detail.
  EXPECT_THAT(host.Messages(),
              ElementsAre("POP3 server listening on port " + std::to_string(host.Port())));
  host.Run([&] { host.Server().LoggingMode(2); });
  {
    testing::Client client(host.Port());
    EXPECT_THAT(client.ReadLine(), HasSubstr("ready."));
  }
  ASSERT_TRUE(host.WaitForMessage("POP3 server socket 0 destroyed"));
  const auto lines = host.Lines();
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[1].Message, "POP3 server socket 0 created");
  EXPECT_EQ(lines[2].Message, "127.0.0.1 Connected");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].MessageType, 7);
    EXPECT_EQ(lines[i].Source, kHandlerSource);
  }
}

// A client beyond a full table waits, unlogged, until a slot frees; it is then served in that
// slot, and the table is full again.
TEST(ServerHandler, FullTableLeavesTheNextClientWaitingUnloggedUntilASlotIsFreed) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(3));
  std::vector<std::unique_ptr<testing::Client>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<testing::Client>(host.Port()));
    EXPECT_THAT(clients.back()->ReadLine(), HasSubstr("ready."));
  }
  testing::Client waiting(host.Port());
  EXPECT_TRUE(waiting.Silent(300ms));
  const auto messages = host.Messages();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.ends_with(" created"); }),
            3);
  EXPECT_EQ(host.CountMessage("127.0.0.1 Connected"), 3U);

  clients[1].reset();  // the middle one leaves: the waiting one is served in slot 1
  EXPECT_THAT(waiting.ReadLine(), HasSubstr("ready."));
  EXPECT_EQ(host.CountMessage("POP3 server socket 1 created"), 2U);
  EXPECT_EQ(host.CountMessage("POP3 server socket 1 destroyed"), 1U);
  testing::Client fifth(host.Port());
  EXPECT_TRUE(fifth.Silent(300ms));
}

// The process's socket bound to `port` that listens, or that serves a connection, found among
// its descriptors; -1 when there is none.
int SocketOnPort(std::uint16_t port, bool wantListening) {
  for (int fd = 3; fd < 1024; ++fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    int listening = 0;
    socklen_t size = sizeof listening;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) continue;
    if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &size) != 0) continue;
    if ((listening != 0) != wantListening) continue;
    if (address.ss_family != AF_INET && address.ss_family != AF_INET6) continue;
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    const std::uint16_t bound = ntohs(address.ss_family == AF_INET6 ? v6->sin6_port : v4->sin_port);
    if (bound == port) return fd;
  }
  return -1;
}

// The options of a served connection come from the listener: replies leave without waiting for
// the acknowledgement of the one before, and acknowledgements wait to ride on the replies.
TEST(ServerHandler, ServedConnectionsSendAtOnceAndDelayTheirAcknowledgements) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(1));
  testing::Client client(host.Port());
  EXPECT_THAT(client.ReadLine(), HasSubstr("ready."));
  const int served = SocketOnPort(host.Port(), false);
  ASSERT_GE(served, 0);
  int value = -1;
  socklen_t size = sizeof value;
  ASSERT_EQ(getsockopt(served, IPPROTO_TCP, TCP_NODELAY, &value, &size), 0);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(getsockopt(served, IPPROTO_TCP, TCP_QUICKACK, &value, &size), 0);
  EXPECT_EQ(value, 0);
}

// A port that nothing holds, below 32768: the port number is a 16-bit signed property, and a
// restart listens on it again (port 0 would pick another).
std::uint16_t FreePort() {
  for (std::uint16_t port = 20000 + static_cast<std::uint16_t>(getpid() % 5000); port < 32000;
       port += 7) {
    asio::io_context io;
    asio::ip::tcp::acceptor probe(io);
    std::error_code ec;
    probe.open(asio::ip::tcp::v4(), ec);
    if (!ec) probe.bind({asio::ip::tcp::v4(), port}, ec);
    if (!ec) return port;
  }
  return 0;
}

// A listening socket that fails is the listener error: listening starts again on the same
// port, and the sessions being served go on. Here the socket is shut down under the server
// while its slots are taken, so that the next accept, once a client leaves, meets the failed
// socket.
TEST(ServerHandler, FailedListeningSocketIsRestartedOnItsPort) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(2, 2, FreePort()));
  testing::Client kept(host.Port());
  EXPECT_THAT(kept.ReadLine(), HasSubstr("ready."));
  auto before = std::make_unique<testing::Client>(host.Port());
  EXPECT_THAT(before->ReadLine(), HasSubstr("ready."));
  int fd = -1;
  host.Run([&] { fd = SocketOnPort(host.Port(), true); });
  ASSERT_GE(fd, 0);
  ASSERT_EQ(shutdown(fd, SHUT_RDWR), 0);
  before.reset();
  const std::string listening = "POP3 server listening on port " + std::to_string(host.Port());
  for (int i = 0; i < 500 && host.CountMessage(listening) < 2; ++i)
    std::this_thread::sleep_for(10ms);
  ASSERT_EQ(host.CountMessage(listening), 2U);
  const auto messages = host.Messages();
  EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                          [](const std::string& m) { return m.starts_with("Listener Error: "); }),
            1);
  testing::Client after(host.Port());
  EXPECT_THAT(after.ReadLine(), HasSubstr("ready."));
  kept.Send("NOOP\r\n");
  EXPECT_EQ(kept.ReadLine(), "-ERR Command is not valid in this state.\r\n");
  EXPECT_EQ(host.CountMessage("POP3 server socket 0 destroyed"), 0U);
}

// The rows of the process registrations, read on a connection of the test's own.
std::int64_t Registrations(const Environment& env, const std::string& where = "1 = 1") {
  DataHandler data(env);
  const Recordset rows = data.EvaluateSQL("SELECT count(*) AS n FROM P3Instances WHERE " + where);
  return rows.Fields("n").ToInt64();
}

// The process is registered before its first session is served, and an orderly stop ends the
// sessions first and then takes the registration out, before it reports that it is done.
TEST(POP3Server, StopEndsTheSessionsThenRemovesTheProcessRegistration) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(2));
  testing::Client a(host.Port());
  testing::Client b(host.Port());
  EXPECT_THAT(a.ReadLine(), HasSubstr("ready."));
  EXPECT_THAT(b.ReadLine(), HasSubstr("ready."));
  EXPECT_EQ(Registrations(host.Env(), "ProcessID = " + std::to_string(getpid())), 1);
  const std::string first = DataHandler(host.Env())
                                .EvaluateSQL("SELECT InstanceID FROM P3Instances")
                                .Fields("InstanceID")
                                .ToText();
  std::atomic<int> done = 0;
  std::atomic<std::size_t> destroyedWhenDone = 0;
  host.Run([&] {
    EXPECT_TRUE(host.Server().StopListening());
    host.Server().AfterStop(5s, [&] {
      destroyedWhenDone = host.CountMessage("POP3 server socket 0 destroyed") +
                          host.CountMessage("POP3 server socket 1 destroyed");
      ++done;
    });
  });
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(b.WaitClosed());
  for (int i = 0; i < 500 && done == 0; ++i) std::this_thread::sleep_for(10ms);
  ASSERT_EQ(done, 1);
  EXPECT_EQ(destroyedWhenDone, 2U);
  EXPECT_EQ(host.CountMessage("Unexpected POP3 server shutdown has occurred"), 0U);
  EXPECT_EQ(Registrations(host.Env()), 0);
  // Started again, the same object registers under a new identifier.
  bool restarted = false;
  host.Run([&] { restarted = host.Server().StartListening(0); });
  ASSERT_TRUE(restarted);
  for (int i = 0; i < 500 && Registrations(host.Env()) == 0; ++i) std::this_thread::sleep_for(10ms);
  EXPECT_EQ(Registrations(host.Env()), 1);
  EXPECT_EQ(Registrations(host.Env(), "InstanceID = '" + first + "'"), 0);
}

}  // namespace
}  // namespace talvex
