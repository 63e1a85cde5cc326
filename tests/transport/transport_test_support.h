// Helpers for the transport tests: a target that records what it receives, loopback TCP sockets,
// a connection object on one end of a loopback connection, and loop runners that give up instead
// of hanging when a fault keeps the awaited condition from coming true.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "kivimap/event_loop.h"
#include "transport/user_socket.h"

namespace kivimap::testing {

using Delivery = std::pair<std::uint16_t, std::uint16_t>;  // kind, error
using Deliveries = std::vector<Delivery>;
using Lines = std::vector<std::string>;

// Records every call; the optional hooks run after the call was recorded. Targets that share a
// log note their notifications there as "<name>:<kind>[/<error>]", in the order they came.
class Recorder : public NotificationTarget {
 public:
  explicit Recorder(std::string name = "", Lines* log = nullptr)
      : name_(std::move(name)), log_(log) {}
  void OnNotification(std::uint16_t kind, std::uint16_t error) override {
    deliveries.push_back({kind, error});
    if (log_) {
      // Appended piece by piece: g++ 12 warns wrongly about "/" + std::string in release builds.
      log_->push_back(name_ + ":" + std::to_string(kind));
      if (error != 0) log_->back().append("/").append(std::to_string(error));
    }
    if (on_notification) on_notification(kind, error);
  }
  void OnTimer(std::uint32_t timer_id) override {
    timers.push_back(timer_id);
    if (on_timer) on_timer(timer_id);
  }
  int Count(std::uint16_t kind) const {
    return static_cast<int>(std::count_if(deliveries.begin(), deliveries.end(),
                                          [kind](const Delivery& d) { return d.first == kind; }));
  }

  Deliveries deliveries;
  std::vector<std::uint32_t> timers;
  std::function<void(std::uint16_t, std::uint16_t)> on_notification;
  std::function<void(std::uint32_t)> on_timer;

 private:
  std::string name_;
  Lines* log_;
};

// A loop of the test's own, with one recording target registered.
class LoopTest : public ::testing::Test {
 protected:
  EventLoop loop;
  Recorder target;
  const EventLoop::SinkId sink = loop.CreateSink(&target);
};

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ScopedFd(ScopedFd&& other) noexcept : fd_(other.Release()) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    std::swap(fd_, other.fd_);
    return *this;
  }
  ~ScopedFd() { Reset(); }
  int get() const { return fd_; }
  int Release() { return std::exchange(fd_, -1); }
  void Reset() {
    if (fd_ >= 0) close(Release());
  }

 private:
  int fd_;
};

// A listening socket on 127.0.0.1 with a kernel-chosen port.
inline ScopedFd ListenLoopback(sockaddr_in* address) {
  ScopedFd listener(socket(AF_INET, SOCK_STREAM, 0));
  *address = {};
  address->sin_family = AF_INET;
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof *address;
  EXPECT_TRUE(bind(listener.get(), reinterpret_cast<sockaddr*>(address), length) == 0 &&
              listen(listener.get(), 16) == 0 &&
              getsockname(listener.get(), reinterpret_cast<sockaddr*>(address), &length) == 0);
  return listener;
}

inline bool Connect(int fd, const sockaddr_in& address) {
  return connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

// A connected pair of loopback TCP sockets: first is the one under test, second the peer. A
// peer receive buffer set before connecting keeps the window small from the start.
inline std::pair<ScopedFd, ScopedFd> ConnectedPair(int rcvbuf = 0) {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  ScopedFd peer(socket(AF_INET, SOCK_STREAM, 0));
  if (rcvbuf > 0) setsockopt(peer.get(), SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof rcvbuf);
  EXPECT_TRUE(Connect(peer.get(), address));
  ScopedFd ours(accept(listener.get(), nullptr, nullptr));
  EXPECT_GE(ours.get(), 0);
  return {std::move(ours), std::move(peer)};
}

inline void SendAll(int fd, const std::string& data) {
  for (std::size_t done = 0; done < data.size();) {
    const ssize_t n = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno != EAGAIN && errno != EINTR) ADD_FAILURE() << "send: " << errno;
    if (n < 0) EventLoop::ForThisThread().RunOnce(1);  // a connection of this thread reads it
    done += n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

inline bool Readable(int fd, int timeout_ms = 0) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) == 1;
}

// Runs the loop until done() holds; false when it did not within 5 s.
inline bool RunUntil(const std::function<bool()>& done,
                     EventLoop& loop = EventLoop::ForThisThread()) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    loop.RunOnce(5);
  }
  return true;
}

// Gives the loop several rounds to show deliveries it should not make.
inline void RunRounds(EventLoop& loop = EventLoop::ForThisThread(), int rounds = 5) {
  for (int i = 0; i < rounds; ++i) loop.RunOnce(5);
}

class FakeOwner final : public transport::ConnectionOwner {
 public:
  using Result = transport::CommandResult;

  Result OnConnectionData(const char* bytes, std::size_t n) override {
    data.emplace_back(bytes, n);
    return on_data ? on_data(data.back()) : Result::Done;
  }
  Result OnConnectionResume() override {
    ++resumed;
    return on_resume ? on_resume() : Result::Done;
  }
  void OnConnectionAllSent() override { ++all_sent; }
  void OnConnectionClosed() override {
    ++closed;
    socket.reset();
  }
  void OnConnectionIdle() override { ++idle; }
  std::uint32_t IdleIntervalMs() override { return idle_ms; }
  OutputLimits Limits() override { return limits; }
  bool DebugLogEnabled() override { return log_enabled; }
  void DebugLog(std::string_view text) override { log.append(text); }

  std::unique_ptr<transport::CkivUserSocket> socket;
  Lines data;  // every line or chunk, in order
  // Runs after a line or chunk is recorded; its result goes back to the connection.
  std::function<Result(const std::string&)> on_data;
  std::function<Result()> on_resume;
  OutputLimits limits;
  std::uint32_t idle_ms = 0;
  bool log_enabled = false;
  std::string log;
  int all_sent = 0, closed = 0, resumed = 0, idle = 0;
};

// A connection object on the thread's loop at one end of a loopback TCP connection; the test
// holds the other end, non-blocking. Small buffers (about 4 KiB) make sends stall early.
class ConnectionHarness {
 public:
  explicit ConnectionHarness(bool small_buffers = false) {
    const int small = 4096;
    auto [ours, other_end] = ConnectedPair(small_buffers ? small : 0);
    peer = std::move(other_end);
    if (small_buffers) setsockopt(ours.get(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    fcntl(peer.get(), F_SETFL, fcntl(peer.get(), F_GETFL) | O_NONBLOCK);
    owner.socket = std::make_unique<transport::CkivUserSocket>(&owner);
    owner.socket->AttachSocket(ours.Release());
    EXPECT_TRUE(owner.socket->Subscribe(transport::CkivWinSocket::kConnectionMask));
  }
  transport::CkivUserSocket& socket() { return *owner.socket; }

  // Sends from the test's end and runs the loop until the connection has read it all.
  void Send(const std::string& bytes) {
    SendAll(peer.get(), bytes);
    sent_ += bytes.size();
    RunUntil([&] { return !owner.socket || owner.socket->bytes_upload() >= sent_; });
    RunRounds(EventLoop::ForThisThread(), 2);
  }
  // Reads at the test's end until n bytes arrived or the connection ended; Receive(0) takes
  // what has arrived without waiting.
  std::string Receive(std::size_t n) {
    std::string out;
    RunUntil([&] {
      char buffer[65536];
      const ssize_t k = recv(peer.get(), buffer, sizeof buffer, 0);
      if (k > 0) out.append(buffer, static_cast<std::size_t>(k));
      return out.size() >= n || k == 0;
    });
    return out;
  }

  ScopedFd peer;
  FakeOwner owner;  // destroyed first: the connection goes before the test's end closes

 private:
  std::size_t sent_ = 0;
};

}  // namespace kivimap::testing
