// Helpers for the event loop tests: a target that records what it receives, loopback TCP
// sockets, and running a loop until a condition holds (bounded, so a fault fails instead of hangs).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "gtest/gtest.h"
#include "kivimap/event_loop.h"

namespace kivimap::testing {

struct Delivery {
  std::uint16_t kind;
  std::uint16_t error;
  bool operator==(const Delivery&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Delivery& d) {
  return out << "{kind " << d.kind << ", error " << d.error << "}";
}

// Records every call; the optional hooks run after the call was recorded.
class Recorder : public NotificationTarget {
 public:
  void OnNotification(std::uint16_t kind, std::uint16_t error) override {
    deliveries.push_back({kind, error});
    if (on_notification) on_notification(kind, error);
  }
  void OnTimer(std::uint32_t timer_id) override {
    timers.push_back(timer_id);
    if (on_timer) on_timer(timer_id);
  }

  int Count(std::uint16_t kind) const {
    int n = 0;
    for (const Delivery& d : deliveries) n += d.kind == kind ? 1 : 0;
    return n;
  }

  std::vector<Delivery> deliveries;
  std::vector<std::uint32_t> timers;
  std::function<void(std::uint16_t, std::uint16_t)> on_notification;
  std::function<void(std::uint32_t)> on_timer;
};

class ScopedFd {
 public:
  explicit ScopedFd(int fd = -1) : fd_(fd) {}
  ~ScopedFd() { Reset(); }
  ScopedFd(ScopedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  ScopedFd& operator=(ScopedFd&& other) noexcept {
    if (this != &other) {
      Reset();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  int get() const { return fd_; }
  void Reset() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
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
  if (bind(listener.get(), reinterpret_cast<sockaddr*>(address), length) != 0 ||
      listen(listener.get(), 16) != 0 ||
      getsockname(listener.get(), reinterpret_cast<sockaddr*>(address), &length) != 0) {
    ADD_FAILURE() << "cannot listen on loopback";
  }
  return listener;
}

// A connected pair of loopback TCP sockets: first is the one under test, second the peer.
inline std::pair<ScopedFd, ScopedFd> ConnectedPair() {
  sockaddr_in address;
  ScopedFd listener = ListenLoopback(&address);
  ScopedFd peer(socket(AF_INET, SOCK_STREAM, 0));
  if (connect(peer.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "cannot connect on loopback";
  }
  ScopedFd ours(accept(listener.get(), nullptr, nullptr));
  EXPECT_GE(ours.get(), 0);
  return {std::move(ours), std::move(peer)};
}

// Runs the loop until done() holds; false when it did not within 5 s.
inline bool RunUntil(EventLoop& loop, const std::function<bool()>& done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    loop.RunOnce(20);
  }
  return true;
}

// Gives the loop several rounds to show deliveries it should not make.
inline void RunRounds(EventLoop& loop, int rounds = 5) {
  for (int i = 0; i < rounds; ++i) loop.RunOnce(10);
}

}  // namespace kivimap::testing
