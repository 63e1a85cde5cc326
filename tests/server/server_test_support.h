// In-process server tests: a server on this thread's event loop, clients on plain loopback
// sockets that the test drives while it runs the loop, and an event sink that records events.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "kivimap/kivimap.h"
#include "server/imap_server.h"

namespace kivimap::testing {

inline constexpr char kDefaultGreeting[] =
    "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] Quillon Imap server version 1.0.0.7 ready.\r\n";

// Runs the thread's loop until done() holds. The time limit only keeps a broken test from
// hanging; no test depends on how long anything takes.
inline bool Pump(const std::function<bool()>& done, int limit_ms = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    EventLoop::ForThisThread().RunOnce(5);
  }
  return true;
}

// A text property of object.
template <class T>
std::string Text(T* object, Status (T::*get)(WideString*)) {
  WideString value;
  EXPECT_EQ((object->*get)(&value), StatusOk);
  return value.ToNarrow();
}

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
  Ref<IImapUsers> Users() {
    Ref<IImapUsers> users;
    object->get_Users(&users);
    return users;
  }
  std::int16_t UserCount() {
    std::int16_t n = -1;
    Users()->get_Count(&n);
    return n;
  }
  Ref<IImapUser> User(std::int16_t index) {
    Ref<IImapUser> user;
    Users()->get_Item(index, &user);
    return user;
  }
};

class Client {
 public:
  explicit Client(std::uint16_t port, int receive_buffer = 0) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receive_buffer > 0) {
      ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    // Loopback connects complete in the kernel, before the server accepts.
    connected = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
  }
  // A client of server that has read the default greeting.
  explicit Client(TestServer& server) : Client(server.port) {
    EXPECT_EQ(Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
  }
  ~Client() { Close(); }
  void Close() { ::close(std::exchange(fd_, -1)); }

  void Send(const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
      const ssize_t n = ::send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        EventLoop::ForThisThread().RunOnce(1);
        continue;
      }
      ASSERT_GT(n, 0) << "send failed: " << errno;
      done += static_cast<std::size_t>(n);
    }
  }

  // Sends what the socket takes now of bytes from offset on; returns the new offset.
  std::size_t SendSome(const std::string& bytes, std::size_t offset) {
    while (offset < bytes.size()) {
      const ssize_t n =
          ::send(fd_, bytes.data() + offset, bytes.size() - offset, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n <= 0) break;
      offset += static_cast<std::size_t>(n);
    }
    return offset;
  }

  // Runs the loop until n bytes arrived or the stream ended, taking at most per_round bytes per
  // round (a client that reads more slowly than the server writes); returns the first n bytes.
  std::string Read(std::size_t n, std::size_t per_round = SIZE_MAX, int limit_ms = 5000) {
    Pump([&] { return Poll(std::min(per_round, n - std::min(n, received_.size()))) >= n; },
         limit_ms);
    std::string out = received_.substr(0, n);
    received_.erase(0, out.size());
    return out;
  }
  // Runs the loop until the server closed the connection; returns what arrived before.
  std::string ReadUntilClosed() { return Read(std::numeric_limits<std::size_t>::max()); }
  // Runs the loop for a while and returns what arrived meanwhile (for "nothing more came").
  std::string Drain() {
    for (int i = 0; i < 20; ++i) EventLoop::ForThisThread().RunOnce(1);
    Poll(SIZE_MAX);
    return std::exchange(received_, std::string());
  }

  bool connected = false;
  bool closed = false;

 private:
  // Reads up to max bytes of what has arrived; notes the end of the stream. Returns the number
  // of bytes held, or SIZE_MAX once the stream ended.
  std::size_t Poll(std::size_t max) {
    char buffer[65536];
    while (!closed && max > 0) {
      const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, max), 0);
      if (n <= 0) {
        closed = n == 0 || (errno != EAGAIN && errno != EINTR);
        break;
      }
      received_.append(buffer, static_cast<std::size_t>(n));
      max -= static_cast<std::size_t>(n);
    }
    return closed ? SIZE_MAX : received_.size();
  }

  int fd_ = -1;
  std::string received_;
};

// Records every event as a line ("Connecting 1", "Command a1 NOOP", "Connected joe pw 0",
// "Disconnected", "StateChange 2 1", "ListFolders root") and then runs on_event, which may
// change the Action or the command (null where the event has none).
class RecordingSink : public ImapServerEvents {
 public:
  std::vector<std::string> log;
  std::function<void(IImapUser*, std::int32_t* action, WideString* command)> on_event;

  void OnConnecting(IImapUser* user, std::int32_t* action) override {
    Fire("Connecting " + std::to_string(*action), user, action);
  }
  void OnCommand(IImapUser* user, WideString* command) override {
    Fire("Command " + command->ToNarrow(), user, nullptr, command);
  }
  void OnConnected(IImapUser* user, const WideString& username, const WideString& password,
                   std::int32_t* action) override {
    const std::string who = username.ToNarrow() + " " + password.ToNarrow() + " ";
    Fire("Connected " + who + std::to_string(*action), user, action);
  }
  void OnDisconnected(IImapUser* user) override { Fire("Disconnected", user); }
  void OnStateChange(IImapUser* user, std::int32_t new_state, std::int32_t old_state) override {
    Fire("StateChange " + std::to_string(new_state) + " " + std::to_string(old_state), user);
  }
  void OnListFolders(IImapUser* user, IImapFolder* parent) override {
    Fire(parent ? "ListFolders folder" : "ListFolders root", user);
  }

  // How many entries start with prefix.
  std::size_t Count(const std::string& prefix) const {
    return std::count_if(log.begin(), log.end(),
                         [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
  }

 private:
  void Fire(std::string entry, IImapUser* user, std::int32_t* action = nullptr,
            WideString* command = nullptr) {
    log.push_back(std::move(entry));
    if (on_event) on_event(user, action, command);
  }
};

// A started server with a recording sink advised.
struct SinkServer : TestServer {
  Ref<RecordingSink> sink{new RecordingSink};
  SinkServer() {
    EXPECT_EQ(Start(), StatusOk);
    std::uint32_t cookie = 0;
    EXPECT_EQ(object->Advise(sink.get(), &cookie), StatusOk);
  }
};

}  // namespace kivimap::testing
