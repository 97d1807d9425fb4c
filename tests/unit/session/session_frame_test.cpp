// The session's connection frame, fed over a real socket: how received chunks become command
// lines, the reply path, and the connection time limit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <thread>

#include "loopback.hpp"
#include "session/session.hpp"

namespace talvex {
namespace {

using ::testing::HasSubstr;
using namespace std::chrono_literals;

const std::string kCapaReply = "+OK Capability list follows.\r\nUSER \r\nTOP \r\nUIDL\r\n.\r\n";

// One connected, greeted client per test; chunks are sent with a pause between them so that
// the server reads them one by one.
class Frame : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host_.Start(2));
    client_ = std::make_unique<testing::Client>(host_.Port());
    ASSERT_THAT(client_->ReadLine(), HasSubstr("ready."));
  }
  void SendChunks(std::initializer_list<std::string> chunks) {
    for (const auto& chunk : chunks) {
      client_->Send(chunk);
      std::this_thread::sleep_for(60ms);
    }
  }
  // The command lines that reached the dispatcher, as logged.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (const auto& message : host_.Messages()) {
      if (!message.ends_with("created") && !message.ends_with("Connected") &&
          !message.starts_with("POP3 server listening")) {
        out.push_back(message);
      }
    }
    return out;
  }

  testing::ServerThread host_;
  std::unique_ptr<testing::Client> client_;
};

TEST_F(Frame, LinesEndOnlyWhereAChunkEndsWithCrLf) {
  SendChunks({"CA", "PA", "\r\n"});
  EXPECT_EQ(client_->ReadUntil("\r\n.\r\n"), kCapaReply);

  // LF alone ends nothing; the line then keeps it.
  SendChunks({"CAPA\n"});
  EXPECT_TRUE(client_->Silent(200ms));
  SendChunks({"\r\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Unknown command 'CAPA\n'.\r\n");

  // Two commands in one chunk are one line, answered once.
  SendChunks({"CAPA\r\nCAPA\r\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Unknown command 'CAPA\r\n");
  EXPECT_EQ(client_->ReadLine(), "CAPA'.\r\n");
  EXPECT_TRUE(client_->Silent(200ms));

  // A bare CR LF draws no reply; a full stop alone is echoed.
  SendChunks({"\r\n", ".\r\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Unknown command '.'.\r\n");
  EXPECT_THAT(Commands(), ::testing::ElementsAre("CAPA", "CAPA\n", "CAPA\r\nCAPA", "", "."));
}

TEST_F(Frame, OverlongLinesKeepTheirFirst4096Characters) {
  const std::string head(4096, 'a');
  SendChunks({head + std::string(904, 'b') + "\r\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Line too long.\r\n");
  SendChunks({"CAPA\r\n"});
  EXPECT_EQ(client_->ReadUntil("\r\n.\r\n"), kCapaReply);

  // Text and CR fill the limit exactly; the LF in the next chunk ends the line at once.
  SendChunks({std::string(4095, 'c') + "\r", "\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Line too long.\r\n");

  // While a long line is dropped, CR and LF in separate chunks still end it.
  SendChunks({std::string(5000, 'd'), std::string(3000, 'e') + "\r", "\n", "CAPA\r\n"});
  EXPECT_EQ(client_->ReadLine(), "-ERR Line too long.\r\n");
  EXPECT_EQ(client_->ReadUntil("\r\n.\r\n"), kCapaReply);

  const auto commands = Commands();
  ASSERT_EQ(commands.size(), 5U);
  EXPECT_EQ(commands[0], head);
  EXPECT_EQ(commands[2], std::string(4095, 'c') + "\r");
  EXPECT_EQ(commands[3], std::string(4096, 'd'));
}

TEST_F(Frame, PeerCloseEndsTheSession) {
  client_->Send("CAP");
  client_->Close();
  EXPECT_TRUE(host_.WaitForMessage("POP3 server socket 0 destroyed"));
}

TEST_F(Frame, ResetConnectionIsASocketError) {
  client_->Abort();
  ASSERT_TRUE(host_.WaitForMessage("POP3 server socket 0 destroyed"));
  const auto messages = host_.Messages();
  EXPECT_THAT(messages, ::testing::Contains("Socket 0 Error: 10054. Connection reset by peer"));
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
