// A host may release the server, stop it or disconnect the user inside any event: the command
// in progress then ends without a further response, nothing is touched after it is gone (the
// sanitizer build checks), and no timer is left running.
#include <gtest/gtest.h>

#include "server/recording_sink.h"
#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

class LifetimeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    timers_before_ = EventLoop::ForThisThread().TimerCount();
    ASSERT_EQ(server_.Start(), StatusOk);
    server_->Advise(sink_.get(), &cookie_);
  }
  void TearDown() override {
    if (server_.object) server_->Unadvise(cookie_);
  }

  // Releases the test's (the host's) only reference to the server.
  void ReleaseServer() { server_.object.Reset(); }
  bool ServerGone() const { return !server_.object; }
  bool NoTimersLeft() { return EventLoop::ForThisThread().TimerCount() == timers_before_; }

  TestServer server_;
  Ref<RecordingSink> sink_{new RecordingSink};
  std::uint32_t cookie_ = 0;
  std::size_t timers_before_ = 0;
};

TEST_F(LifetimeTest, ReleasedInsideConnecting) {
  sink_->on_connecting = [&](IImapUser*, std::int32_t*) { ReleaseServer(); };
  Client client(server_.port);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_TRUE(ServerGone());
}

TEST_F(LifetimeTest, DisconnectInsideConnectingRefusesTheConnection) {
  sink_->on_connecting = [&](IImapUser* user, std::int32_t*) {
    EXPECT_EQ(user->Disconnect(), StatusOk);
  };
  Client client(server_.port);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "") << "no greeting for a user the host disconnected";
  EXPECT_EQ(server_.UserCount(), 0);
  EXPECT_EQ(sink_->Entries("Disconnected").size(), 1u);
}

TEST_F(LifetimeTest, ReleasedInsideStateChange) {
  sink_->on_state_change = [&](IImapUser*) { ReleaseServer(); };
  Client client(server_.port);
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(NoTimersLeft());
}

TEST_F(LifetimeTest, ReleasedInsideCommand) {
  server_->put_Timeout(60);
  Client client = Greeted(server_);
  sink_->on_command = [&](IImapUser*, WideString*) { ReleaseServer(); };
  client.Send("a1 NOOP\r\na2 NOOP\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "") << "no response after the server is gone";
  EXPECT_EQ(sink_->Entries("Command").size(), 1u) << "the second line is not dispatched";
  EXPECT_TRUE(NoTimersLeft()) << "the idle timer is not re-armed";
}

TEST_F(LifetimeTest, ReleasedInsideConnected) {
  Client client = Greeted(server_);
  sink_->on_connected = [&](IImapUser*, std::int32_t*) { ReleaseServer(); };
  client.Send("a1 LOGIN joe secret\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_TRUE(sink_->Entries("ListFolders").empty());
  EXPECT_TRUE(NoTimersLeft());
}

TEST_F(LifetimeTest, ReleasedInsideListFolders) {
  Client client = Greeted(server_);
  sink_->on_list_folders = [&](IImapUser*) { ReleaseServer(); };
  client.Send("a1 LOGIN joe secret\r\na2 NOOP\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK LOGIN completed\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_TRUE(NoTimersLeft());
}

TEST_F(LifetimeTest, ReleasedInsideDisconnected) {
  Client client = Greeted(server_);
  sink_->on_disconnected = [&](IImapUser*) { ReleaseServer(); };
  client.Send("a1 LOGOUT\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(Pump([&] { return ServerGone(); }));
}

TEST_F(LifetimeTest, ReleasedWhileTheHostKeepsTheUser) {
  Ref<IImapUser> kept;
  sink_->on_connecting = [&](IImapUser* user, std::int32_t*) { kept = Ref<IImapUser>(user); };
  Client client = Greeted(server_);
  ReleaseServer();
  // The connection outlives its server: lines are dropped, Send still reaches the client.
  client.Send("a1 NOOP\r\n");
  EXPECT_EQ(client.Drain(), "");
  EXPECT_EQ(kept->Send(u"* direct\r\n"), StatusOk);
  EXPECT_EQ(client.ReadLine(), "* direct\r\n");
  EXPECT_EQ(kept->Disconnect(), StatusOk) << "without a server, at once";
  client.Close();
  Settle();
  kept.Reset();
}

TEST_F(LifetimeTest, StopInsideCommand) {
  Client client = Greeted(server_);
  sink_->on_command = [&](IImapUser*, WideString*) { server_->Stop(); };
  client.Send("a1 NOOP\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_EQ(server_.UserCount(), 0);
  EXPECT_TRUE(sink_->Entries("Disconnected").empty());
}

TEST_F(LifetimeTest, DisconnectInsideCommand) {
  Client client = Greeted(server_);
  Status status = StatusFail;
  sink_->on_command = [&](IImapUser* user, WideString*) { status = user->Disconnect(); };
  client.Send("a1 NOOP\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_EQ(status, StatusOk);
  EXPECT_EQ(server_.UserCount(), 0);
  EXPECT_EQ(sink_->Entries("Disconnected").size(), 1u);
}

TEST_F(LifetimeTest, DisconnectInsideConnectedOfAUserTheHostKeeps) {
  Client client = Greeted(server_);
  Ref<IImapUser> kept;
  sink_->on_connected = [&](IImapUser* user, std::int32_t*) {
    kept = Ref<IImapUser>(user);
    user->Disconnect();
  };
  client.Send("a1 LOGIN joe secret\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  // The login itself completes on the user that is still there; only the socket is gone.
  const auto tail = std::vector<std::string>(sink_->log.end() - 3, sink_->log.end());
  EXPECT_EQ(tail, (std::vector<std::string>{"Connected joe secret 0", "Disconnected",
                                            "ListFolders root"}));
  WideString name;
  kept->get_Username(&name);
  EXPECT_EQ(name.ToNarrow(), "joe");
  std::int16_t index = 0;
  EXPECT_EQ(kept->get_Index(&index), StatusInvalidArg);
  EXPECT_TRUE(NoTimersLeft());
}

TEST_F(LifetimeTest, DisconnectInsideItsOwnDisconnectedEventDoesNotRecurse) {
  Client client = Greeted(server_);
  int depth = 0;
  sink_->on_disconnected = [&](IImapUser* user) {
    ++depth;
    EXPECT_EQ(user->Disconnect(), StatusOk);
    --depth;
  };
  client.Close();
  ASSERT_TRUE(Pump([&] { return server_.UserCount() == 0; }));
  EXPECT_EQ(sink_->Entries("Disconnected").size(), 1u);
}

TEST_F(LifetimeTest, DisconnectReportsFailureWhenTheServerGoesInsideDisconnected) {
  Client client = Greeted(server_);
  Ref<IImapUser> user = server_.User(0);
  sink_->on_disconnected = [&](IImapUser*) { ReleaseServer(); };
  EXPECT_EQ(user->Disconnect(), StatusFail);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_TRUE(ServerGone());
  // A second Disconnect finds no server: success at once, no event.
  EXPECT_EQ(user->Disconnect(), StatusOk);
}

TEST_F(LifetimeTest, DisconnectOfAClosedUserFiresAgainAndRemovesNothingMore) {
  Client client = Greeted(server_);
  Ref<IImapUser> user = server_.User(0);
  EXPECT_EQ(user->Disconnect(), StatusOk);
  EXPECT_EQ(user->Disconnect(), StatusOk);
  EXPECT_EQ(sink_->Entries("Disconnected").size(), 2u);
  EXPECT_EQ(server_.UserCount(), 0);
  EXPECT_TRUE(client.WaitClosed());
}

}  // namespace
}  // namespace kivimap::testing
