// In-process server tests: a server on this thread's event loop, and clients on plain loopback
// sockets that the test drives while it runs the loop.
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
#include <string>
#include <vector>

#include "kivimap/kivimap.h"
#include "server/imap_server.h"

namespace kivimap::testing {

inline constexpr char kDefaultGreeting[] =
    "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] Quillon Imap server version 1.0.0.7 ready.\r\n";

// Runs the thread's loop until done() holds or about five seconds pass. The limit only keeps a
// broken test from hanging; no test depends on how long anything takes.
inline bool Pump(const std::function<bool()>& done, int limit_ms = 5000) {
  auto& loop = EventLoop::ForThisThread();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    loop.RunOnce(5);
  }
  return true;
}

// Runs a few rounds of the loop so that whatever is due gets delivered.
inline void Settle(int rounds = 20) {
  auto& loop = EventLoop::ForThisThread();
  for (int i = 0; i < rounds; ++i) loop.RunOnce(1);
}

class Client {
 public:
  Client() = default;
  explicit Client(std::uint16_t port) { Connect(port); }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  Client(Client&& o) noexcept : fd_(o.fd_), received_(std::move(o.received_)), closed_(o.closed_) {
    o.fd_ = -1;
  }

  bool Connect(std::uint16_t port, int receive_buffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    // Loopback connects complete in the kernel, before the server accepts.
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) return false;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return true;
  }

  int fd() const { return fd_; }

  void Send(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        EventLoop::ForThisThread().RunOnce(1);
        continue;
      }
      ASSERT_GT(n, 0) << "send failed: " << errno;
      done += static_cast<std::size_t>(n);
    }
  }

  // Reads what has arrived; notes the end of the stream.
  void Poll(std::size_t max = 1 << 20) {
    char buffer[65536];
    while (!closed_ && max > 0) {
      const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, max), 0);
      if (n > 0) {
        received_.append(buffer, static_cast<std::size_t>(n));
        max -= std::min(max, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) closed_ = true;
      return;
    }
  }

  // Runs the loop until at least n bytes arrived (or the stream ended); returns the first n and
  // keeps the rest.
  std::string Read(std::size_t n) {
    Pump([&] {
      Poll();
      return received_.size() >= n || closed_;
    });
    std::string out = received_.substr(0, n);
    received_.erase(0, out.size());
    return out;
  }

  // Reads n bytes taking at most per_round of them per round of the loop, like a client that
  // reads more slowly than the server writes.
  std::string ReadSlowly(std::size_t n, std::size_t per_round) {
    Pump(
        [&] {
          Poll(std::min(per_round, n - std::min(n, received_.size())));
          return received_.size() >= n || closed_;
        },
        60000);
    std::string out = received_.substr(0, n);
    received_.erase(0, out.size());
    return out;
  }

  // Runs the loop until a line (ending in LF) arrived; returns it with its line end.
  std::string ReadLine() {
    Pump([&] {
      Poll();
      return received_.find('\n') != std::string::npos || closed_;
    });
    const std::size_t end = received_.find('\n');
    const std::size_t n = end == std::string::npos ? received_.size() : end + 1;
    std::string out = received_.substr(0, n);
    received_.erase(0, n);
    return out;
  }

  // Runs the loop until the server closed the connection; true when it did.
  bool WaitClosed() {
    return Pump([&] {
      Poll();
      return closed_;
    });
  }

  // Runs the loop for a while and returns what arrived meanwhile (for "nothing more came").
  std::string Drain(int rounds = 20) {
    Settle(rounds);
    Poll();
    return std::exchange(received_, std::string());
  }

  bool closed() const { return closed_; }

  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  std::string received_;
  bool closed_ = false;
};

// A server listening on a free loopback port, with the usual defaults otherwise.
struct TestServer {
  Ref<server::CkivImapServer> object{new server::CkivImapServer};
  std::uint16_t port = 0;

  Status Start() {
    object->put_BindIP(u"127.0.0.1");
    object->put_Port(0);
    const Status s = object->Start();
    port = object->ListeningPort();
    return s;
  }
  IkivImapServer* operator->() { return object.get(); }
  std::int16_t UserCount() {
    Ref<IImapUsers> users;
    object->get_Users(&users);
    std::int16_t n = -1;
    users->get_Count(&n);
    return n;
  }
  Ref<IImapUser> User(std::int16_t index) {
    Ref<IImapUsers> users;
    object->get_Users(&users);
    Ref<IImapUser> user;
    users->get_Item(index, &user);
    return user;
  }
};

// A client connected to server that has read the greeting.
inline Client Greeted(TestServer& server) {
  Client client(server.port);
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
  return client;
}

}  // namespace kivimap::testing
