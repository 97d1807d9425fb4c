// The public class and the session pool over real loopback sockets: start and stop failures,
// the log filter, slot allocation and the greeting.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "loopback.hpp"
#include "platform/reglib.hpp"
#include "platform/resources.hpp"

namespace talvex {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kOwnSource = "POP3 Server: (POP3Server Class)";
const std::string kHandlerSource = "POP3 Server: (ServerHandler Class)";

std::string HostName() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

TEST(LoggingMode, PassesByMessageType) {
  for (std::int32_t type = 3; type <= 7; ++type) {
    EXPECT_EQ(LoggingModePasses(0, type), type < 5) << type;
    EXPECT_EQ(LoggingModePasses(1, type), type < 7) << type;
    EXPECT_TRUE(LoggingModePasses(2, type));
    EXPECT_FALSE(LoggingModePasses(5, type));
    EXPECT_FALSE(LoggingModePasses(-1, type));
  }
}

TEST(POP3Server, StartAndStopFailuresRaiseOneOwnLine) {
  testing::ServerThread host;
  auto& server = host.Server();
  server.LoggingMode(5);  // the class's own error lines are never filtered

  // MaxConnections still 0: no session table, nothing listens.
  EXPECT_FALSE(server.StartListening(110));
  // Ports beyond 16 bits overflow before the handler is touched.
  server.MaxConnections(2);
  EXPECT_FALSE(server.StartListening(70000));
  // Nothing to stop.
  EXPECT_FALSE(server.StopListening());

  const auto lines = host.Lines();
  ASSERT_EQ(lines.size(), 3U);
  for (const auto& line : lines) {
    EXPECT_EQ(line.MessageType, 3);
    EXPECT_EQ(line.Source, kOwnSource);
  }
  EXPECT_EQ(lines[0].Message, "SMS_POP3Server: 9. Subscript out of range");
  EXPECT_EQ(lines[1].Message, "SMS_POP3Server: 6. Overflow");
  EXPECT_EQ(lines[2].Message, "SMS_POP3Server: 91. Object variable or With block variable not set");
}

TEST(POP3Server, StopTwiceFailsTheSecondTime) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(2, 0));
  bool first = false;
  bool second = true;
  host.Run([&] {
    first = host.Server().StopListening();
    second = host.Server().StopListening();
  });
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  ASSERT_EQ(host.Lines().size(), 1U);
  EXPECT_EQ(host.Lines()[0].Source, kOwnSource);
}

// A port below the 16-bit limit that something else holds.
class BusyPort {
 public:
  BusyPort() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    for (port_ = 20000; port_ < 32000; port_ += 37) {
      sockaddr_in addr{};
      addr.sin_family = AF_INET;
      addr.sin_port = htons(static_cast<std::uint16_t>(port_));
      if (::bind(fd_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 &&
          ::listen(fd_, 1) == 0) {
        return;
      }
    }
    port_ = -1;
  }
  ~BusyPort() { ::close(fd_); }
  BusyPort(const BusyPort&) = delete;
  BusyPort& operator=(const BusyPort&) = delete;
  int Port() const { return port_; }

 private:
  int fd_;
  int port_;
};

TEST(POP3Server, PortInUseIsReportedByTheHandler) {
  const BusyPort busy;
  ASSERT_GT(busy.Port(), 0);
  testing::ServerThread host;
  host.Server().MaxConnections(1);
  host.Server().LoggingMode(0);
  EXPECT_FALSE(host.Server().StartListening(busy.Port()));
  ASSERT_EQ(host.Lines().size(), 1U);
  EXPECT_EQ(host.Lines()[0].MessageType, 3);
  EXPECT_EQ(host.Lines()[0].Source, kHandlerSource);
  EXPECT_EQ(host.Lines()[0].Message, "Cannot start POP3 server. Port number " +
                                         std::to_string(busy.Port()) + " is currently in use");
}

TEST(POP3Server, GreetsAndLogsBySeverity) {
  testing::ServerThread host;
  host.Server().MyDomain("example.org");
  ASSERT_TRUE(host.Start(2, 1));
  // Mode 1: the listening line, none of the session detail.
  EXPECT_THAT(host.Messages(),
              ElementsAre("POP3 server listening on port " + std::to_string(host.Port())));
  host.Run([&] { host.Server().LoggingMode(2); });  // takes effect at the next line
  {
    testing::Client client(host.Port());
    EXPECT_EQ(client.ReadLine(),
              "+OK Talvex POP3 service version 2.3.1 (" + HostName() + ".example.org) ready.\r\n");
  }
  ASSERT_TRUE(host.WaitForMessage("POP3 server socket 0 destroyed"));
  const auto lines = host.Lines();
  ASSERT_EQ(lines.size(), 4U);
  EXPECT_EQ(lines[1].Message, "POP3 server socket 0 created");
  EXPECT_EQ(lines[2].Message, "127.0.0.1 Connected");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].MessageType, 7);
    EXPECT_EQ(lines[i].Source, kHandlerSource);
    EXPECT_EQ(lines[i].DateTime.size(), 19U);
  }
  // Every start records the host name.
  Variant recorded;
  RegLib(host.Env())
      .ReadRegValue(RegRoot::kLocalMachine, resources::GatewayServiceKey(), "LocalHostName",
                    RegValueType::kText, "", recorded);
  EXPECT_EQ(recorded, Variant(HostName()));
}

TEST(ServerHandler, FullTableLeavesTheNextClientWaitingUnlogged) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(1));
  auto first = std::make_unique<testing::Client>(host.Port());
  EXPECT_THAT(first->ReadLine(), HasSubstr("ready."));
  testing::Client second(host.Port());
  EXPECT_TRUE(second.Silent(300ms));
  EXPECT_EQ(host.CountMessage("POP3 server socket 0 created"), 1U);
  EXPECT_EQ(host.CountMessage("127.0.0.1 Connected"), 1U);

  first.reset();  // the first client leaves: the waiting one is served in slot 0
  EXPECT_THAT(second.ReadLine(), HasSubstr("ready."));
  EXPECT_EQ(host.CountMessage("POP3 server socket 0 created"), 2U);
  EXPECT_EQ(host.CountMessage("POP3 server socket 0 destroyed"), 1U);
}

TEST(ServerHandler, FreedMiddleSlotIsReusedFirst) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(3));
  std::vector<std::unique_ptr<testing::Client>> clients;
  for (int i = 0; i < 3; ++i) {
    clients.push_back(std::make_unique<testing::Client>(host.Port()));
    EXPECT_THAT(clients.back()->ReadLine(), HasSubstr("ready."));
  }
  clients[1].reset();
  ASSERT_TRUE(host.WaitForMessage("POP3 server socket 1 destroyed"));
  testing::Client fourth(host.Port());
  EXPECT_THAT(fourth.ReadLine(), HasSubstr("ready."));
  EXPECT_EQ(host.CountMessage("POP3 server socket 1 created"), 2U);
  testing::Client fifth(host.Port());
  EXPECT_TRUE(fifth.Silent(300ms));
}

TEST(ServerHandler, StopUnloadsEverySessionAndForgetsTheListener) {
  testing::ServerThread host;
  ASSERT_TRUE(host.Start(4));
  testing::Client a(host.Port());
  testing::Client b(host.Port());
  EXPECT_THAT(a.ReadLine(), HasSubstr("ready."));
  EXPECT_THAT(b.ReadLine(), HasSubstr("ready."));
  bool stopped = false;
  host.Run([&] { stopped = host.Server().StopListening(); });
  EXPECT_TRUE(stopped);
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(b.WaitClosed());
  EXPECT_EQ(host.CountMessage("POP3 server socket 0 destroyed"), 1U);
  EXPECT_EQ(host.CountMessage("POP3 server socket 1 destroyed"), 1U);
  EXPECT_EQ(host.CountMessage("Unexpected POP3 server shutdown has occurred"), 0U);
  // The same object starts again.
  bool restarted = false;
  host.Run([&] { restarted = host.Server().StartListening(0); });
  EXPECT_TRUE(restarted);
}

}  // namespace
}  // namespace talvex
