// Socket readiness through the event loop, over real loopback TCP connections.
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <string>

#include "transport/event_loop_test_support.h"

namespace kivimap::testing {
namespace {

constexpr std::uint32_t kConnectionMask = NotifyRead | NotifyWrite | NotifyClose;  // 35
constexpr std::uint32_t kListenerMask = NotifyRead | NotifyWrite | NotifyAccept | NotifyClose;

std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

void SendAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    ASSERT_GT(n, 0);
    done += static_cast<std::size_t>(n);
  }
}

// Sends until the socket refuses; returns the bytes it took.
std::size_t FillUntilRefused(int fd) {
  const std::string chunk(65536, 'x');
  std::size_t sent = 0;
  for (;;) {
    const ssize_t n = send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    if (n < 0) {
      EXPECT_TRUE(errno == EAGAIN || errno == EWOULDBLOCK) << errno;
      return sent;
    }
    sent += static_cast<std::size_t>(n);
  }
}

TEST(EventLoopSocketTest, WriteComesOnceAndAgainOnlyAfterARefusedSendGotRoom) {
  auto [ours, peer] = ConnectedPair();
  // Fixed buffer sizes keep the kernel from growing them while the test fills them.
  const int size = 64 * 1024;
  setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  setsockopt(peer.get(), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  EventLoop loop;
  Recorder target;
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));

  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyWrite) == 1; }));
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

  std::string sink_buffer(65536, '\0');
  for (std::size_t drained = 0; drained < sent;) {
    const ssize_t n = recv(peer.get(), sink_buffer.data(), sink_buffer.size(), 0);
    ASSERT_GT(n, 0);
    drained += static_cast<std::size_t>(n);
  }
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyWrite) == writes + 1; }));
  RunRounds(loop);
  EXPECT_EQ(target.Count(NotifyWrite), writes + 1);
  EXPECT_EQ(target.deliveries.size(), static_cast<std::size_t>(writes + 1)) << "only Writes";
}

TEST(EventLoopSocketTest, ReadRepeatsWhileDataRemainsAndCloseComesAfterTheLastByte) {
  auto [ours, peer] = ConnectedPair();
  EventLoop loop;
  Recorder target;
  std::string received;
  int failed_receives = 0;
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    if (kind != NotifyRead) return;
    char buffer[100];  // deliberately small: one receive per Read, many Reads
    const ssize_t n = recv(ours.get(), buffer, sizeof buffer, 0);
    if (n > 0) {
      received.append(buffer, static_cast<std::size_t>(n));
    } else {
      ++failed_receives;
    }
  };
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead | NotifyClose));

  const std::string first = Pattern(1000);
  SendAll(peer.get(), first);
  ASSERT_TRUE(RunUntil(loop, [&] { return received.size() == first.size(); }));
  RunRounds(loop);
  EXPECT_EQ(target.Count(NotifyRead), 10) << "Read stops once the data is read";

  // Data and the peer's close arrive together: every byte is offered before the Close.
  const std::string second = Pattern(10000);
  SendAll(peer.get(), second);
  peer.Reset();
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyClose) == 1; }));
  EXPECT_EQ(received, first + second);
  EXPECT_EQ(target.deliveries.back(), (Delivery{NotifyClose, 0}));
  EXPECT_EQ(target.Count(NotifyRead), 110);
  EXPECT_EQ(failed_receives, 0);

  RunRounds(loop);
  EXPECT_EQ(target.deliveries.size(), 111u) << "nothing after the Close";
}

TEST(EventLoopSocketTest, ResetByPeerClosesWithTheResetError) {
  auto [ours, peer] = ConnectedPair();
  EventLoop loop;
  Recorder target;
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    char buffer[100];
    if (kind == NotifyRead) recv(ours.get(), buffer, sizeof buffer, 0);
  };
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyWrite) == 1; }));

  const linger abort_on_close{1, 0};
  setsockopt(peer.get(), SOL_SOCKET, SO_LINGER, &abort_on_close, sizeof abort_on_close);
  SendAll(peer.get(), "some bytes");
  peer.Reset();

  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyClose) == 1; }));
  EXPECT_EQ(target.deliveries.back(), (Delivery{NotifyClose, ECONNRESET}));
  RunRounds(loop);
  EXPECT_EQ(target.deliveries.back().kind, NotifyClose) << "nothing after the Close";
  EXPECT_EQ(target.Count(NotifyWrite), 1);
}

TEST(EventLoopSocketTest, ListenerGetsAcceptPerWaitingConnectionAndNothingElse) {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  EventLoop loop;
  Recorder target;
  std::vector<ScopedFd> accepted;
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    if (kind == NotifyAccept) accepted.emplace_back(accept(listener.get(), nullptr, nullptr));
  };
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  ASSERT_TRUE(loop.Subscribe(sink, listener.get(), kListenerMask));
  RunRounds(loop);
  EXPECT_TRUE(target.deliveries.empty()) << "a listener is never writable or readable";

  std::vector<ScopedFd> clients;
  for (int i = 1; i <= 2; ++i) {
    clients.emplace_back(socket(AF_INET, SOCK_STREAM, 0));
    ASSERT_EQ(connect(clients.back().get(), reinterpret_cast<sockaddr*>(&address), sizeof address),
              0);
    ASSERT_TRUE(RunUntil(loop, [&] { return accepted.size() == static_cast<std::size_t>(i); }));
    EXPECT_GE(accepted.back().get(), 0);
  }
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, (std::vector<Delivery>{{NotifyAccept, 0}, {NotifyAccept, 0}}));
}

TEST(EventLoopSocketTest, ListenerThatWasShutDownIsNoLongerReported) {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  EventLoop loop;
  Recorder target;
  ASSERT_TRUE(loop.Subscribe(loop.CreateSink(&target), listener.get(), kListenerMask));
  ASSERT_EQ(shutdown(listener.get(), SHUT_RDWR), 0);
  RunRounds(loop);
  EXPECT_FALSE(loop.RunOnce(0));
  pollfd entry{loop.Fd(), POLLIN, 0};
  EXPECT_EQ(poll(&entry, 1, 0), 0) << "a hung-up listener must not keep the loop busy";
  EXPECT_TRUE(target.deliveries.empty());
}

TEST(EventLoopSocketTest, KindsOutsideTheMaskAreNotDelivered) {
  EventLoop loop;
  const std::string data = Pattern(100);

  // Read only: the socket is writable all along, yet no Write.
  auto [reader, reader_peer] = ConnectedPair();
  Recorder read_only;
  read_only.on_notification = [&](std::uint16_t, std::uint16_t) {
    char buffer[200];
    recv(reader.get(), buffer, sizeof buffer, 0);
  };
  ASSERT_TRUE(loop.Subscribe(loop.CreateSink(&read_only), reader.get(), NotifyRead));

  // Write and Close: the data is never offered, the peer's close is.
  auto [closer, closer_peer] = ConnectedPair();
  Recorder write_close;
  ASSERT_TRUE(
      loop.Subscribe(loop.CreateSink(&write_close), closer.get(), NotifyWrite | NotifyClose));

  // Write only: neither the data nor the close.
  auto [writer, writer_peer] = ConnectedPair();
  Recorder write_only;
  ASSERT_TRUE(loop.Subscribe(loop.CreateSink(&write_only), writer.get(), NotifyWrite));

  SendAll(reader_peer.get(), data);
  SendAll(closer_peer.get(), data);
  closer_peer.Reset();
  SendAll(writer_peer.get(), data);
  writer_peer.Reset();

  ASSERT_TRUE(RunUntil(loop, [&] {
    return read_only.Count(NotifyRead) == 1 && write_close.Count(NotifyClose) == 1 &&
           write_only.Count(NotifyWrite) == 1;
  }));
  RunRounds(loop);
  EXPECT_EQ(read_only.deliveries, (std::vector<Delivery>{{NotifyRead, 0}}));
  EXPECT_EQ(write_close.deliveries, (std::vector<Delivery>{{NotifyWrite, 0}, {NotifyClose, 0}}));
  EXPECT_EQ(write_only.deliveries, (std::vector<Delivery>{{NotifyWrite, 0}}));
}

TEST(EventLoopSocketTest, ConnectComesBeforeTheFirstWrite) {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  ScopedFd client(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
  const int started = connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ASSERT_TRUE(started == 0 || errno == EINPROGRESS);

  EventLoop loop;
  Recorder target;
  ASSERT_TRUE(
      loop.Subscribe(loop.CreateSink(&target), client.get(), NotifyConnect | kConnectionMask));
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyWrite) == 1; }));
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, (std::vector<Delivery>{{NotifyConnect, 0}, {NotifyWrite, 0}}));
}

TEST(EventLoopSocketTest, FailedConnectReportsItsErrorAndNothingElse) {
  sockaddr_in address;
  {
    ScopedFd closed_port = ListenLoopback(&address);  // a port nobody listens on any more
  }
  ScopedFd client(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
  const int started = connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  if (started != 0 && errno == ECONNREFUSED) GTEST_SKIP() << "refused before the loop saw it";
  ASSERT_EQ(errno, EINPROGRESS);

  EventLoop loop;
  Recorder target;
  ASSERT_TRUE(
      loop.Subscribe(loop.CreateSink(&target), client.get(), NotifyConnect | kConnectionMask));
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyConnect) == 1; }));
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, (std::vector<Delivery>{{NotifyConnect, ECONNREFUSED}}));
}

TEST(EventLoopSocketTest, SubscribeMakesTheSocketNonBlockingAndRefusesWhatItCannotWatch) {
  auto [ours, peer] = ConnectedPair();
  EventLoop loop;
  Recorder target;
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  EXPECT_FALSE(loop.Subscribe(sink, -1, kConnectionMask));
  EXPECT_FALSE(loop.Subscribe(sink + 1, ours.get(), kConnectionMask)) << "unknown sink";
  ASSERT_EQ(fcntl(ours.get(), F_GETFL) & O_NONBLOCK, 0);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  EXPECT_NE(fcntl(ours.get(), F_GETFL) & O_NONBLOCK, 0);

  Recorder other;
  EXPECT_FALSE(loop.Subscribe(loop.CreateSink(&other), ours.get(), kConnectionMask))
      << "one socket, one sink";
}

TEST(EventLoopSocketTest, UnsubscribedSocketIsQuietAndSubscribingAgainStartsOver) {
  auto [ours, peer] = ConnectedPair();
  SendAll(peer.get(), "data");  // Write and Read are reported together
  EventLoop loop;
  Recorder target;
  const EventLoop::SinkId sink = loop.CreateSink(&target);
  bool unsubscribe_on_write = true;
  target.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    if (kind == NotifyWrite && unsubscribe_on_write) loop.Unsubscribe(sink);
  };
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyWrite) == 1; }));
  SendAll(peer.get(), "more");
  RunRounds(loop);
  EXPECT_EQ(target.deliveries, (std::vector<Delivery>{{NotifyWrite, 0}}))
      << "the rest of the report was dropped with the subscription";

  unsubscribe_on_write = false;
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  ASSERT_TRUE(RunUntil(loop, [&] { return target.Count(NotifyRead) > 0; }));
  EXPECT_EQ(target.Count(NotifyWrite), 2) << "a new subscription reports writability again";
}

// Destroys its sink and itself on the first notification, with more of them queued behind.
class SelfDestroying : public NotificationTarget {
 public:
  SelfDestroying(EventLoop& loop, int& calls) : loop_(loop), calls_(calls) {}
  void Attach(EventLoop::SinkId sink) { sink_ = sink; }
  void OnNotification(std::uint16_t, std::uint16_t) override { Die(); }
  void OnTimer(std::uint32_t) override { Die(); }

 private:
  void Die() {
    ++calls_;
    loop_.DestroySink(sink_);
    delete this;
  }
  EventLoop& loop_;
  int& calls_;
  EventLoop::SinkId sink_ = 0;
};

TEST(EventLoopSocketTest, TargetMayDestroyItselfWhileItsSocketHasMoreToReport) {
  auto [ours, peer] = ConnectedPair();
  SendAll(peer.get(), "pending data");
  peer.Reset();  // Write, Read and Close are all due in the same round

  EventLoop loop;
  int calls = 0;
  auto* target = new SelfDestroying(loop, calls);
  const EventLoop::SinkId sink = loop.CreateSink(target);
  target->Attach(sink);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), kConnectionMask));
  loop.SetTimer(sink, 1, 1);

  ASSERT_TRUE(RunUntil(loop, [&] { return calls > 0; }));
  RunRounds(loop);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(loop.SinkCount(), 0u);
  EXPECT_EQ(loop.TimerCount(), 0u);
}

}  // namespace
}  // namespace kivimap::testing
