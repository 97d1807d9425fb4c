// The reply queue on a real loopback connection: what the client receives, how many writes it
// takes, a client that stops reading, and a client that goes away with replies still queued.
#include <gtest/gtest.h>

#include <algorithm>
#include <asio/co_spawn.hpp>
#include <asio/detached.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/read.hpp>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "session/reply_queue.hpp"

namespace talvex {
namespace {

using asio::ip::tcp;
using namespace std::chrono_literals;

// A connected pair of sockets; the queue writes on `server`, the test reads on `client`.
// A small `buffer` keeps the kernel from absorbing what a non-reading client leaves.
class Connection {
 public:
  explicit Connection(int buffer = 0) {
    tcp::acceptor acceptor(io, tcp::endpoint(asio::ip::address_v4::loopback(), 0));
    client.open(tcp::v4());
    if (buffer > 0) client.set_option(tcp::socket::receive_buffer_size(buffer));
    client.connect(acceptor.local_endpoint());
    acceptor.accept(server.Socket());
    if (buffer > 0) server.Socket().set_option(tcp::socket::send_buffer_size(buffer));
  }

  std::string Read(std::size_t n) {
    std::string bytes(n, '\0');
    asio::read(client, asio::buffer(bytes));
    return bytes;
  }

  asio::io_context io;
  // Keeps run_for and run_one_for from returning early once nothing is pending.
  asio::executor_work_guard<asio::io_context::executor_type> work{io.get_executor()};
  Transport server{io.get_executor()};
  tcp::socket client{io};
  std::vector<std::error_code> reports;
  ReplyQueue queue{server, [] { return std::shared_ptr<void>(); },
                   [this](const std::error_code& ec) { reports.push_back(ec); }};
};

std::string Line(std::size_t n) {
  return std::to_string(n) + " " + std::string(n % 37, 'x') + "\r\n";
}

// Runs the loop one handler at a time until the queue is idle; the number of handlers run.
int DrainTurns(Connection& c) {
  int turns = 0;
  while (!c.queue.Idle() && c.io.run_one_for(2s) > 0) ++turns;
  return turns;
}

TEST(ReplyQueue, RepliesQueuedDuringAWriteLeaveTogetherWholeAndInOrder) {
  Connection c;
  std::string expected;
  for (std::size_t n = 1; n <= 1000; ++n) {
    expected += Line(n);
    c.queue.Push(Line(n));
  }
  // The first reply went out at once; the other 999 gathered behind it.
  EXPECT_LE(DrainTurns(c), 3);
  EXPECT_TRUE(c.queue.Idle());
  EXPECT_EQ(c.queue.Queued(), 0U);
  EXPECT_EQ(c.Read(expected.size()), expected);
  ASSERT_EQ(c.reports.size(), 1U);  // told once, when everything had left
  EXPECT_FALSE(c.reports[0]);
}

TEST(ReplyQueue, BatchHoldsSmallRepliesUntilItEndsButNotBeyondItsSize) {
  Connection c;
  {
    const ReplyQueue::Batch batch(c.queue);
    c.queue.Push("+OK\r\n");
    c.queue.Push("1 100\r\n");
    c.io.poll();
    EXPECT_EQ(c.client.available(), 0U);
    EXPECT_EQ(c.queue.Queued(), 12U);
  }
  EXPECT_EQ(c.Read(12), "+OK\r\n1 100\r\n");
  EXPECT_EQ(DrainTurns(c), 1);

  // A batch that grows large starts writing while it is still open.
  const std::string big(ReplyQueue::kBatchSize, 'b');
  const ReplyQueue::Batch batch(c.queue);
  c.queue.Push(big);
  std::string received;
  std::thread reader([&] { received = c.Read(big.size()); });
  DrainTurns(c);
  reader.join();
  EXPECT_EQ(received, big);
}

TEST(ReplyQueue, AbandonedDraftLeavesNothingAndSentDraftIsWhole) {
  Connection c;
  const ReplyQueue::Batch batch(c.queue);
  c.queue.Push("+OK\r\n");
  EXPECT_THROW(
      {
        ReplyQueue::Draft draft(c.queue);
        draft.Text().append("1 half a li");
        throw std::runtime_error("composition failed");
      },
      std::runtime_error);
  {
    ReplyQueue::Draft draft(c.queue);
    draft.Text().append("2 whole\r\n");
    draft.Send();
  }
  c.queue.Flush();
  EXPECT_EQ(c.Read(14), "+OK\r\n2 whole\r\n");
  EXPECT_EQ(DrainTurns(c), 1);
  EXPECT_EQ(c.client.available(), 0U);
}

// Pushes `count` replies of `size` bytes, waiting for room after each, as a listing does, and
// stops when the connection is reported lost, as a session does.
struct Producer {
  asio::awaitable<void> Run(Connection& c, std::size_t count, std::size_t size) {
    const auto lost = [&c] {
      return std::any_of(c.reports.begin(), c.reports.end(), [](auto ec) { return bool(ec); });
    };
    for (; pushed < count && !lost(); ++pushed) {
      std::string reply(size - 2, static_cast<char>('a' + pushed % 26));
      c.queue.Push(reply + "\r\n");
      mostQueued = std::max(mostQueued, c.queue.Queued());
      co_await c.queue.WaitForRoom();
    }
    done = true;
  }

  std::size_t pushed = 0;
  std::size_t mostQueued = 0;
  bool done = false;
};

TEST(ReplyQueue, ProducerWaitsForASlowReaderInsteadOfQueueingWithoutBound) {
  Connection c(16 * 1024);
  constexpr std::size_t kCount = 1024;
  constexpr std::size_t kSize = 4096;  // 4 MiB in all, far beyond the socket buffers
  Producer producer;
  asio::co_spawn(c.io, producer.Run(c, kCount, kSize), asio::detached);
  c.io.run_for(300ms);
  EXPECT_FALSE(producer.done);
  EXPECT_LT(producer.pushed, kCount / 2);
  EXPECT_LE(producer.mostQueued, ReplyQueue::kRoomLimit + kSize);

  // Once the client reads, the producer carries on and every byte arrives in order.
  std::string received;
  std::thread reader([&] { received = c.Read(kCount * kSize); });
  const auto start = std::chrono::steady_clock::now();
  while (!c.queue.Idle() || !producer.done) {
    c.io.run_one_for(100ms);
    if (std::chrono::steady_clock::now() - start > 20s) break;
  }
  reader.join();
  EXPECT_TRUE(producer.done);
  EXPECT_LE(producer.mostQueued, ReplyQueue::kRoomLimit + kSize);
  ASSERT_EQ(received.size(), kCount * kSize);
  for (std::size_t n = 0; n < kCount; ++n) {
    ASSERT_EQ(received[n * kSize], static_cast<char>('a' + n % 26)) << n;
    ASSERT_EQ(received.substr((n + 1) * kSize - 2, 2), "\r\n") << n;
  }
}

TEST(ReplyQueue, LostConnectionEndsTheQueueAndWakesTheWaitingProducer) {
  Connection c(16 * 1024);
  Producer producer;
  asio::co_spawn(c.io, producer.Run(c, 1024, 4096), asio::detached);
  c.io.run_for(200ms);
  ASSERT_FALSE(producer.done);
  // The client resets the connection without reading a byte.
  c.client.set_option(asio::socket_base::linger(true, 0));
  c.client.close();
  const auto start = std::chrono::steady_clock::now();
  while (!producer.done && std::chrono::steady_clock::now() - start < 5s) {
    c.io.run_one_for(100ms);
  }
  EXPECT_TRUE(producer.done);
  EXPECT_LT(producer.pushed, 1024U);
  // The loss is told once; the queue holds nothing it can no longer deliver.
  ASSERT_FALSE(c.reports.empty());
  EXPECT_TRUE(c.reports.back());
  EXPECT_EQ(std::count_if(c.reports.begin(), c.reports.end(), [](auto ec) { return bool(ec); }), 1);
  EXPECT_TRUE(c.queue.Idle());
  EXPECT_EQ(c.queue.Queued(), 0U);
}

}  // namespace
}  // namespace talvex
