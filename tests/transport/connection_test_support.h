// Helpers for the connection tests: a CkivUserSocket on one end of a loopback TCP connection,
// owned by a recording ConnectionOwner, and the test on the other end.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kivimap/event_loop.h"
#include "transport/user_socket.h"

namespace kivimap::testing {

// Runs the thread's loop until done() holds; the limit only keeps a broken test from hanging.
inline bool PumpUntil(const std::function<bool()>& done, int limit_ms = 5000) {
  auto& loop = EventLoop::ForThisThread();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.RunOnce(5);
  }
  return true;
}

inline void PumpRounds(int rounds = 10) {
  for (int i = 0; i < rounds; ++i) EventLoop::ForThisThread().RunOnce(1);
}

class FakeOwner final : public transport::ConnectionOwner {
 public:
  std::unique_ptr<transport::CkivUserSocket> socket;
  std::vector<std::string> data;  // every line or chunk, in order
  // Runs after a line or chunk is recorded; its result goes back to the connection.
  std::function<bool(const std::string&)> on_data;
  int all_sent = 0;
  int closed = 0;
  int idle = 0;
  std::uint32_t interval_ms = 0;
  bool debug_on = false;
  std::vector<std::string> debug;

  bool OnConnectionData(const char* bytes, std::size_t n) override {
    data.emplace_back(bytes, n);
    return on_data ? on_data(data.back()) : true;
  }
  void OnConnectionAllSent() override { ++all_sent; }
  void OnConnectionClosed() override {
    ++closed;
    socket.reset();
  }
  void OnConnectionIdle() override { ++idle; }
  std::uint32_t IdleIntervalMs() override { return interval_ms; }
  bool DebugLogEnabled() override { return debug_on; }
  void DebugLog(std::string_view text) override { debug.emplace_back(text); }
};

// A connection object on one end of a loopback TCP connection; the test holds the other end.
class ConnectionHarness {
 public:
  explicit ConnectionHarness(int peer_receive_buffer = 0) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    EXPECT_EQ(::listen(listener, 1), 0);
    EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    peer_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (peer_receive_buffer > 0) {
      ::setsockopt(peer_, SOL_SOCKET, SO_RCVBUF, &peer_receive_buffer, sizeof peer_receive_buffer);
    }
    EXPECT_EQ(::connect(peer_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int ours = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    ::fcntl(peer_, F_SETFL, ::fcntl(peer_, F_GETFL) | O_NONBLOCK);
    owner.socket = std::make_unique<transport::CkivUserSocket>(&owner);
    owner.socket->AttachSocket(ours);
    EXPECT_TRUE(owner.socket->Subscribe(transport::CkivWinSocket::kConnectionMask));
  }
  ~ConnectionHarness() {
    owner.socket.reset();
    if (peer_ >= 0) ::close(peer_);
  }

  transport::CkivUserSocket& socket() { return *owner.socket; }
  int peer() const { return peer_; }

  // Sends from the test's end and runs the loop until the connection has read it all.
  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t k = ::send(peer_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (k < 0) {
        ASSERT_TRUE(errno == EAGAIN || errno == EINTR) << errno;
        PumpRounds(1);
        continue;
      }
      done += static_cast<std::size_t>(k);
    }
    sent_ += bytes.size();
    // Until the connection has received everything sent so far (or is gone).
    PumpUntil([&] { return !owner.socket || owner.socket->bytes_upload() >= sent_; });
    PumpRounds(2);
  }
  // Runs the loop until the first Write notification made the connection able to send.
  void WaitWritable() {
    ASSERT_TRUE(PumpUntil([&] { return owner.socket && owner.socket->may_send(); }));
  }
  // Reads at the test's end until n bytes arrived.
  std::string Receive(std::size_t n) {
    std::string out;
    PumpUntil([&] {
      char buffer[65536];
      const ssize_t k = ::recv(peer_, buffer, sizeof buffer, 0);
      if (k > 0) out.append(buffer, static_cast<std::size_t>(k));
      return out.size() >= n || k == 0;
    });
    return out;
  }
  // What arrived at the test's end without waiting for more.
  std::string ReceiveNow() {
    std::string out;
    char buffer[65536];
    for (ssize_t k; (k = ::recv(peer_, buffer, sizeof buffer, 0)) > 0;) {
      out.append(buffer, static_cast<std::size_t>(k));
    }
    return out;
  }
  void ClosePeer() {
    ::close(peer_);
    peer_ = -1;
  }

  FakeOwner owner;

 private:
  int peer_ = -1;
  std::size_t sent_ = 0;
};

}  // namespace kivimap::testing
