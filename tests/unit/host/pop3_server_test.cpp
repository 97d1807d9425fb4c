// The public class and the session pool over real loopback sockets: start and stop failures,
// a change of the log filter while listening, and slot allocation. The programs' end-to-end
// tests cover the greeting, a port in use and the filter's modes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

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
