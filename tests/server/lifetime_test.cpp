// A host may release the server, stop it or disconnect the user inside any event: the command
// in progress then ends without a further response, nothing is touched after it is gone (the
// sanitizer build checks), and no timer is left running.
#include <gtest/gtest.h>

#include <cstdlib>

#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

const std::string kGreeting = kDefaultGreeting;
const std::string kLogout =
    "* BYE Quillon Imap server version 1.0.0.7 terminating connection\r\n"
    "a1 OK LOGOUT completed\r\n";

enum Act { kRelease, kStop, kDisconnect, kDisconnectAndKeep };

struct Case {
  const char* event;              // the event inside which the host acts
  Act act;                        // what the host does there
  const char* lines;              // what the client sends after connecting
  std::string received;           // what the client gets before the connection closes
  std::vector<std::string> tail;  // the last events fired
};

TEST(LifetimeTest, ReleaseOrDisconnectInsideAnEventEndsEverythingAfterIt) {
  const std::string login_ok = kGreeting + "a1 OK LOGIN completed\r\n";
  // Without a server LOGIN would still answer: the command must not run at all.
  const char* login = "a1 LOGIN joe secret\r\na2 NOOP\r\n";
  // clang-format off
  const Case cases[] = {
      {"Connecting", kRelease, "", "", {"Connecting 1"}},
      {"StateChange", kRelease, "", kGreeting, {"StateChange 2 1"}},
      {"Command", kRelease, login, kGreeting, {"Command a1 LOGIN joe secret"}},
      {"Connected", kRelease, login, kGreeting, {"Connected joe secret 0"}},
      {"Connected", kRelease, "a1 AUTHENTICATE PLAIN AGpvZQBzZWNyZXQ=\r\n", kGreeting,
          {"Connected joe secret 0"}},
      // The completion goes out before the root is listed.
      {"ListFolders", kRelease, login, login_ok, {"ListFolders root"}},
      {"Disconnected", kRelease, "a1 LOGOUT\r\n", kGreeting + kLogout, {"Disconnected"}},
      // Stop drops every user without a goodbye or Disconnected.
      {"Command", kStop, login, kGreeting, {"Command a1 LOGIN joe secret"}},
      // No greeting and no service for a user disconnected before it was accepted.
      {"Connecting", kDisconnect, "", "", {"Connecting 1", "Disconnected"}},
      {"StateChange", kDisconnect, "", kGreeting, {"StateChange 2 1", "Disconnected"}},
      {"Command", kDisconnect, login, kGreeting, {"Command a1 LOGIN joe secret", "Disconnected"}},
      // The command ends where its user was disconnected, though the host keeps the user: no
      // login completes and no later event fires for it.
      {"Connected", kDisconnectAndKeep, login, kGreeting,
          {"Connected joe secret 0", "Disconnected"}},
      {"ListFolders", kDisconnect, login, login_ok, {"ListFolders root", "Disconnected"}},
      // Disconnect inside its own Disconnected does not recurse.
      {"Disconnected", kDisconnectAndKeep, "a1 LOGOUT\r\n", kGreeting + kLogout,
          {"Disconnected"}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.event) + " " + std::to_string(c.act) + " " + c.lines);
    const std::size_t timers_before = EventLoop::ForThisThread().TimerCount();
    SinkServer server;
    automation::Liveness alive(server.object.get());
    const auto& log = server.sink->log;
    Ref<IImapUser> kept;
    Status status = StatusOk;
    bool acted = false;
    server.sink->on_event = [&](IImapUser* user, std::int32_t*, WideString*) {
      if (log.back().rfind(c.event, 0) != 0 || std::exchange(acted, true)) return;
      if (c.act == kRelease) return server.object.Reset();
      if (c.act == kStop) return static_cast<void>(server->Stop());
      if (c.act == kDisconnectAndKeep) kept = Ref<IImapUser>(user);
      status = user->Disconnect();
    };
    Client client(server.port);
    client.Send(c.lines);
    EXPECT_EQ(client.ReadUntilClosed(), c.received);
    EXPECT_TRUE(client.closed);
    EXPECT_EQ(status, StatusOk);
    ASSERT_GE(log.size(), c.tail.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - c.tail.size(), log.end()), c.tail);
    const bool disconnected = c.act >= kDisconnect || c.event == std::string("Disconnected");
    EXPECT_EQ(server.sink->Count("Disconnected"), disconnected ? 1u : 0u);
    if (c.act == kRelease) {
      EXPECT_TRUE(Pump([&] { return !alive.alive(); })) << "the server is destroyed";
    } else {
      EXPECT_EQ(server.UserCount(), 0);
    }
    std::int16_t index = 0;
    EXPECT_EQ(kept ? kept->get_Index(&index) : StatusInvalidArg, StatusInvalidArg);
    EXPECT_EQ(EventLoop::ForThisThread().TimerCount(), timers_before);
  }
}

TEST(LifetimeTest, DisconnectAgainFiresAgainAndFailsWhenTheServerGoesInsideDisconnected) {
  SinkServer server;
  Client first(server);
  Client second(server);
  Ref<IImapUser> user = server.User(0);
  Ref<IImapUser> other = server.User(1);
  EXPECT_EQ(user->Disconnect(), StatusOk);
  EXPECT_EQ(user->Disconnect(), StatusOk);
  EXPECT_EQ(server.sink->Count("Disconnected"), 2u);
  EXPECT_EQ(server.UserCount(), 1) << "the other user stays";
  EXPECT_EQ(first.ReadUntilClosed(), "");

  automation::Liveness alive(server.object.get());
  server.sink->on_event = [&](IImapUser*, std::int32_t*, WideString*) { server.object.Reset(); };
  EXPECT_EQ(other->Disconnect(), StatusFail);
  EXPECT_EQ(second.ReadUntilClosed(), "");
  EXPECT_TRUE(Pump([&] { return !alive.alive(); }));
  // Disconnect again finds no server: success at once, no event.
  EXPECT_EQ(other->Disconnect(), StatusOk);
  EXPECT_EQ(server.sink->Count("Disconnected"), 3u);
}

TEST(LifetimeTest, AUserTheHostKeepsOutlivesItsServer) {
  SinkServer server;
  Ref<IImapUser> kept;
  server.sink->on_event = [&](IImapUser* user, std::int32_t*, WideString*) {
    kept = Ref<IImapUser>(user);
  };
  Client client(server);
  Ref<IImapUser> first = kept;
  Client released(server);
  ASSERT_NE(kept.get(), first.get()) << "the host keeps both users";
  server.object.Reset();
  // Nothing can serve a connection whose server is gone: both end with the server, without an
  // event, and the users the host keeps live on as plain records.
  EXPECT_EQ(client.ReadUntilClosed(), "");
  EXPECT_TRUE(client.closed);
  EXPECT_EQ(released.ReadUntilClosed(), "");
  EXPECT_TRUE(released.closed);
  EXPECT_EQ(first->Send(u"* direct"), StatusOk);
  EXPECT_EQ(first->Disconnect(), StatusOk) << "without a server, at once";
  EXPECT_EQ(server.sink->Count("Disconnected"), 0u);
  WideString host;
  EXPECT_EQ(first->get_Hostname(&host), StatusOk);
  EXPECT_EQ(host.ToNarrow(), "127.0.0.1");
}

// A host that keeps its server in a static: it is destroyed at exit, after the thread's own
// reference to the event loop is gone; its listener and connections still find their loop.
TEST(LifetimeDeathTest, AServerHeldInAStaticEndsCleanlyAtExit) {
  EXPECT_EXIT(
      {
        static Ref<IkivImapServer> kept;
        CreateImapServer(&kept);
        kept->put_BindIP(u"127.0.0.1");
        kept->put_Port(0);
        if (kept->Start() != StatusOk) std::_Exit(3);
        static Client client(kept->ListeningPort());
        if (client.Read(sizeof kDefaultGreeting - 1) != kDefaultGreeting) std::_Exit(4);
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kivimap::testing
