// The protocol engine under test: a user on a loopback connection, served by a fake server that
// records the events it is asked to fire and answers them as a test tells it to.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "imap/dispatcher.h"
#include "imap/server_context.h"
#include "store/user_host.h"
#include "store/users.h"

namespace kivimap::testing {

class FakeServer final : public store::UserHost,
                         public imap::ServerContext,
                         public automation::LifeAnchor {
 public:
  Ref<store::ImapUsers> users{new store::ImapUsers};
  std::vector<std::string> events;
  bool has_sinks = true;
  WideString goodbye = u"see you";
  bool debug_on = false;
  std::string debug;
  // What a test makes the events do; each returns whether the caller may go on.
  std::function<bool(WideString*)> on_command;
  std::function<bool(std::int32_t*)> on_connected;
  std::function<bool()> on_list_folders;

  // store::UserHost
  IkivImapServer* Server() override { return nullptr; }
  store::ImapUsers& Users() override { return *users; }
  bool DispatchReceived(store::ImapUser& user, const char* data, std::size_t n) override {
    return imap::DispatchCommand(*this, user, data, n);
  }
  bool FireStateChange(store::ImapUser&, std::int32_t n, std::int32_t o) override {
    events.push_back("StateChange " + std::to_string(n) + " " + std::to_string(o));
    return true;
  }
  bool FireDisconnected(store::ImapUser&) override {
    events.push_back("Disconnected");
    return true;
  }
  std::int32_t Timeout() override { return 0; }
  bool DebugLogEnabled() override { return debug_on; }
  void DebugLog(std::string_view text) override { debug.append(text); }

  // imap::ServerContext
  bool FireCommand(store::ImapUser&, WideString* command) override {
    events.push_back("Command " + command->ToNarrow());
    return on_command ? on_command(command) : true;
  }
  bool FireConnected(store::ImapUser&, const WideString& username, const WideString& password,
                     std::int32_t* action) override {
    events.push_back("Connected " + username.ToNarrow() + "|" + password.ToNarrow() + "|" +
                     std::to_string(*action));
    return on_connected ? on_connected(action) : true;
  }
  bool FireListFolders(store::ImapUser&, IImapFolder* parent) override {
    events.push_back(parent ? "ListFolders folder" : "ListFolders root");
    return on_list_folders ? on_list_folders() : true;
  }
  bool FireSubscribeFolder(store::ImapUser&, IImapFolder*) override { return Unexpected(); }
  bool FireCreateFolder(store::ImapUser&, IImapFolder*, const WideString&, std::int32_t*) override {
    return Unexpected();
  }
  bool FireDeleteFolder(store::ImapUser&, IImapFolder*, IImapFolder*, std::int32_t*) override {
    return Unexpected();
  }
  bool FireMoveFolder(store::ImapUser&, IImapFolder*, IImapFolder*, IImapFolder*, const WideString&,
                      std::int32_t*) override {
    return Unexpected();
  }
  bool FireListMessages(store::ImapUser&, IImapFolder*) override { return Unexpected(); }
  bool FireReadMessage(store::ImapUser&, IImapFolder*, IImapMessage*) override {
    return Unexpected();
  }
  bool FireFlagChange(store::ImapUser&, IImapFolder*, IImapMessage*, std::int32_t,
                      std::int32_t) override {
    return Unexpected();
  }
  bool FireCopyMessage(store::ImapUser&, IImapFolder*, IImapMessage*, IImapFolder*,
                       std::int32_t*) override {
    return Unexpected();
  }
  bool FireDeleteMessage(store::ImapUser&, IImapFolder*, IImapMessage*, std::int32_t*) override {
    return Unexpected();
  }
  bool FireWriteMessage(store::ImapUser&, IImapFolder*, IImapMessage*, std::int32_t*) override {
    return Unexpected();
  }
  bool FireCreateMessage(store::ImapUser&, IImapFolder*, IImapMessage*, std::int32_t*) override {
    return Unexpected();
  }
  bool HasEventSinks() override { return has_sinks; }
  WideString GoodbyeMessage() override { return goodbye; }

 private:
  bool Unexpected() {
    ADD_FAILURE() << "no command served yet fires this event";
    return true;
  }
};

// A user of the fake server whose connection is one end of a loopback TCP connection.
class EngineHarness {
 public:
  EngineHarness() : user_(new store::ImapUser) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
    peer_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    EXPECT_EQ(::connect(peer_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const int ours = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(listener);
    ::fcntl(peer_, F_SETFL, ::fcntl(peer_, F_GETFL) | O_NONBLOCK);
    user_->SetHost(&server);
    server.users->Append(user_);
    EXPECT_TRUE(user_->AttachSocket(ours));
    Pump([&] { return user_->connection()->may_send(); });
    server.events.clear();
  }
  ~EngineHarness() {
    server.users->RemoveAll();
    if (peer_ >= 0) ::close(peer_);
  }

  store::ImapUser& user() { return *user_; }

  // Hands one line to the dispatcher and returns its result.
  bool Dispatch(const std::string& line) {
    return imap::DispatchCommand(server, *user_, line.data(), line.size());
  }
  // Dispatches the line and returns what the client received for it.
  std::string Exchange(const std::string& line) {
    EXPECT_TRUE(Dispatch(line)) << line;
    return Received();
  }
  // What arrived at the client so far.
  std::string Received() {
    std::string out;
    Pump([&] {
      char buffer[65536];
      ssize_t k;
      while ((k = ::recv(peer_, buffer, sizeof buffer, 0)) > 0) {
        out.append(buffer, static_cast<std::size_t>(k));
      }
      return !out.empty() || ++rounds_ > 20;
    });
    rounds_ = 0;
    return out;
  }

  FakeServer server;

 private:
  static void Pump(const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
      EventLoop::ForThisThread().RunOnce(1);
    }
  }

  Ref<store::ImapUser> user_;
  int peer_ = -1;
  int rounds_ = 0;
};

}  // namespace kivimap::testing
