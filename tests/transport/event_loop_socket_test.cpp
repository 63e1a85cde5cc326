// Socket readiness through the event loop, over real loopback TCP connections.

#include <string>

#include "transport/transport_test_support.h"

namespace kivimap::testing {
namespace {

using EventLoopSocketTest = LoopTest;
constexpr std::uint32_t kConnectionMask = NotifyRead | NotifyWrite | NotifyClose;

// Sends until the socket refuses; returns the bytes it took.
std::size_t FillUntilRefused(int fd) {
  const std::string chunk(65536, 'x');
  std::size_t sent = 0;
  for (ssize_t n; (n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL)) > 0;) sent += n;
  EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
  return sent;
}

TEST_F(EventLoopSocketTest, WriteComesOnceAndAgainOnlyAfterARefusedSendGotRoom) {
  auto [ours, peer] = ConnectedPair();
  // Fixed buffer sizes keep the kernel from growing them while the test fills them.
  const int size = 64 * 1024;
  setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(peer.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  ASSERT_TRUE(RunUntil([&] { return target.Count(NotifyWrite) == 1; }, loop));
  RunRounds(loop);
  EXPECT_EQ(target.Count(NotifyWrite), 1) << "the socket stayed writable: no second Write";

  // Fill the socket and report the refusal. The kernel may still free room on its own as it
  // moves queued bytes to the peer; a Write is right then, and a send must get through.
  std::size_t sent = 0;
  int writes = 1;
  for (int round = 0;; ++round) {
    ASSERT_LT(round, 10) << "room kept coming back although the peer reads nothing";
    sent += FillUntilRefused(ours.get());
    loop.WriteRefused(sink);
    RunRounds(loop);
    if (target.Count(NotifyWrite) == writes) break;  // no room, no Write
    ++writes;
    ASSERT_EQ(send(ours.get(), "x", 1, MSG_NOSIGNAL), 1) << "Write although there was no room";
    sent += 1;
  }
  std::string buffer(65536, '\0');
  for (std::size_t drained = 0; drained < sent;) {
    const ssize_t n = recv(peer.get(), buffer.data(), buffer.size(), 0);
    ASSERT_GT(n, 0);
    drained += static_cast<std::size_t>(n);
  }
  ASSERT_TRUE(RunUntil([&] { return target.Count(NotifyWrite) == writes + 1; }, loop));
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, Deliveries(writes + 1, {NotifyWrite, 0})) << "only Writes";
}

// While reading is paused, neither unread bytes nor the peer's end of stream are reported; a
// reset is, as Close. Resumed, the bytes come first, then the end.
TEST_F(EventLoopSocketTest, APausedSocketReportsOnlyABrokenConnection) {
  auto [ours, peer] = ConnectedPair();
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  ASSERT_TRUE(RunUntil([&] { return target.Count(NotifyWrite) == 1; }, loop));
  loop.PauseRead(sink, true);
  SendAll(peer.get(), "a1 NOOP\r\n");
  shutdown(peer.get(), SHUT_WR);
  RunRounds(loop);
  EXPECT_EQ(target.Count(NotifyRead) + target.Count(NotifyClose), 0);
  loop.PauseRead(sink, false);
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    char buffer[64];
    if (kind == NotifyRead) recv(ours.get(), buffer, sizeof buffer, 0);
  };
  ASSERT_TRUE(RunUntil([&] { return target.Count(NotifyClose) == 1; }, loop));
  EXPECT_EQ(target.deliveries.back(), (Delivery{NotifyClose, 0}));
  EXPECT_EQ(target.Count(NotifyRead), 1);

  auto [paused, reset_peer] = ConnectedPair();
  Recorder other;
  const EventLoop::SinkId other_sink = loop.CreateSink(&other);
  ASSERT_TRUE(loop.Subscribe(other_sink, paused.get(), kConnectionMask));
  loop.PauseRead(other_sink, true);
  SendAll(reset_peer.get(), "unread");
  const linger abort_on_close{1, 0};
  setsockopt(reset_peer.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  reset_peer.Reset();
  ASSERT_TRUE(RunUntil([&] { return other.Count(NotifyClose) == 1; }, loop));
  EXPECT_EQ(other.Count(NotifyRead), 0);
  EXPECT_EQ(other.deliveries.back(), (Delivery{NotifyClose, ECONNRESET}));
  loop.DestroySink(other_sink);
}

TEST_F(EventLoopSocketTest, ReadRepeatsWhileDataRemainsAndCloseComesAfterTheLastByte) {
  auto [ours, peer] = ConnectedPair();
  std::string received;
  int failed_receives = 0;
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    char buffer[100];  // deliberately small: one receive per Read, many Reads
    const ssize_t n = kind == NotifyRead ? recv(ours.get(), buffer, sizeof buffer, 0) : 0;
    if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    failed_receives += kind == NotifyRead && n <= 0 ? 1 : 0;
  };
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead | NotifyClose));
  std::string data(11000, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
  SendAll(peer.get(), data.substr(0, 1000));
  ASSERT_TRUE(RunUntil([&] { return received.size() == 1000; }, loop));
  RunRounds(loop);
  EXPECT_EQ(target.Count(NotifyRead), 10) << "Read stops once the data is read";

  // Data and the peer's close arrive together: every byte is offered before the Close.
  SendAll(peer.get(), data.substr(1000));
  peer.Reset();
  ASSERT_TRUE(RunUntil([&] { return target.Count(NotifyClose) == 1; }, loop));
  RunRounds(loop);
  EXPECT_EQ(received, data);
  EXPECT_EQ(target.Count(NotifyRead), 110);
  EXPECT_EQ(target.deliveries.size(), 111u);
  EXPECT_EQ(target.deliveries.back(), (Delivery{NotifyClose, 0})) << "nothing after the Close";
  EXPECT_EQ(failed_receives, 0);
}

// A listener subscribed to every kind gets one Accept per waiting connection and nothing else;
// once shut down it is no longer reported at all (it used to wake the loop on every round).
TEST_F(EventLoopSocketTest, ListenerGetsOnlyAcceptsAndIsQuietOnceShutDown) {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  std::vector<ScopedFd> accepted;
  target.on_notification = [&](std::uint16_t, std::uint16_t) {
    accepted.emplace_back(accept(listener.get(), nullptr, nullptr));
  };
  ASSERT_TRUE(loop.Subscribe(sink, listener.get(), kConnectionMask | NotifyAccept | NotifyConnect));
  ScopedFd first(socket(AF_INET, SOCK_STREAM, 0)), second(socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_TRUE(Connect(first.get(), address) && Connect(second.get(), address));
  ASSERT_TRUE(RunUntil([&] { return accepted.size() == 2; }, loop));
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, Deliveries(2, {NotifyAccept, 0}));
  EXPECT_TRUE(accepted[0].get() >= 0 && accepted[1].get() >= 0);

  ASSERT_EQ(shutdown(listener.get(), SHUT_RDWR), 0);
  RunRounds(loop);
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_FALSE(Readable(loop.Fd())) << "a hung-up listener must not keep the loop busy";
  EXPECT_EQ(target.deliveries.size(), 2u);
}

}  // namespace
}  // namespace kivimap::testing
