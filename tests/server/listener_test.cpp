// Listening, accepting and greeting.
#include <gtest/gtest.h>

#include "server/recording_sink.h"
#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

// A port that was free on 127.0.0.1 a moment ago.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  ::close(fd);
  return ntohs(addr.sin_port);
}

TEST(ListenerTest, OnlyTheLow16BitsOfPortReachTheSocket) {
  TestServer server;
  const std::uint16_t port = FreePort();
  server->put_BindIP(u"127.0.0.1");
  ASSERT_EQ(server->put_Port(65536 + port), StatusOk);
  ASSERT_EQ(server->Start(), StatusOk);
  EXPECT_EQ(server.object->ListeningPort(), port);
  std::int32_t configured = 0;
  server->get_Port(&configured);
  EXPECT_EQ(configured, 65536 + port);
  Client client(port);
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
}

TEST(ListenerTest, AnEmptyBindAddressListensOnEveryInterface) {
  TestServer server;
  server->put_Port(0);
  ASSERT_EQ(server->Start(), StatusOk);
  Client client(server.object->ListeningPort());
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
}

TEST(ListenerTest, APortInUseFailsWithThePlatformCodeAndCanBeRetried) {
  const int blocker = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::bind(blocker, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(blocker, 1), 0);
  ::getsockname(blocker, reinterpret_cast<sockaddr*>(&addr), &len);

  TestServer server;
  server->put_BindIP(u"127.0.0.1");
  server->put_Port(ntohs(addr.sin_port));
  ClearErrorRecord();
  EXPECT_EQ(server->Start(), StatusFromErrorCode(EADDRINUSE));
  ErrorRecord record;
  ASSERT_TRUE(GetErrorRecord(&record));
  EXPECT_EQ(record.status, StatusFromErrorCode(EADDRINUSE));
  EXPECT_EQ(record.description.ToNarrow(), "Could not bind socket.");
  EXPECT_EQ(record.source.ToNarrow(), "Quillon.kivImapServer.1");
  EXPECT_FALSE(server.object->started());

  ::close(blocker);
  EXPECT_EQ(server->Start(), StatusOk);
  Client client(ntohs(addr.sin_port));
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
}

TEST(ListenerTest, StopAndStartAgainOnTheSamePortAfterClientsLeft) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  const std::uint16_t port = server.port;
  {
    Client client = Greeted(server);
    client.Send("a1 LOGOUT\r\n");
    EXPECT_TRUE(client.WaitClosed());  // the server closed first: its side lingers
  }
  EXPECT_EQ(server->Stop(), StatusOk);
  EXPECT_FALSE(server.object->started());
  EXPECT_EQ(Client().Connect(port), false) << "nothing listens after Stop";
  server->put_Port(port);
  ASSERT_EQ(server->Start(), StatusOk);
  Client again(port);
  EXPECT_EQ(again.ReadLine(), kDefaultGreeting);
}

TEST(ListenerTest, GreetingTextsTakeEffectForTheNextConnection) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  server->put_GreetingMessage(u"Hello");
  Client hello(server.port);
  EXPECT_EQ(hello.ReadLine(), "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] Hello ready.\r\n");
  server->put_GreetingMessage(u"");
  Client empty(server.port);
  EXPECT_EQ(empty.ReadLine(), "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN]  ready.\r\n");
  server->put_GreetingMessage(u"caf\u00e9");
  Client accented(server.port);
  EXPECT_EQ(accented.ReadLine(), "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] caf\xc3\xa9 ready.\r\n");
}

TEST(ListenerTest, ADeniedConnectionIsClosedWithoutGreeting) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(sink.get(), &cookie);
  Status index_status = StatusOk;
  sink->on_connecting = [&](IImapUser* user, std::int32_t* action) {
    std::int16_t index = 0;
    index_status = user->get_Index(&index);
    *action = Deny;
  };
  Client client(server.port);
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(client.Drain(), "");
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_EQ(index_status, StatusInvalidArg) << "not in the collection during Connecting";
  EXPECT_EQ(sink->log, (std::vector<std::string>{"Connecting 1"}));
}

TEST(ListenerTest, TwoSinksShareTheAction) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> first(new RecordingSink);
  Ref<RecordingSink> second(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(first.get(), &cookie);
  server->Advise(second.get(), &cookie);
  first->on_connecting = [](IImapUser*, std::int32_t* action) { *action = Deny; };

  Client refused(server.port);
  EXPECT_TRUE(refused.WaitClosed());
  EXPECT_EQ(second->log, (std::vector<std::string>{"Connecting 0"})) << "the second sees Deny";

  second->on_connecting = [](IImapUser*, std::int32_t* action) { *action = Allow; };
  Client accepted(server.port);
  EXPECT_EQ(accepted.ReadLine(), kDefaultGreeting);
  EXPECT_EQ(server.UserCount(), 1);
}

TEST(ListenerTest, StopReleasesEveryUserWithoutDisconnectedEvents) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(sink.get(), &cookie);
  Client a = Greeted(server);
  Client b = Greeted(server);
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 2; }));
  EXPECT_EQ(server->Stop(), StatusOk);
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_TRUE(a.WaitClosed());
  EXPECT_TRUE(b.WaitClosed());
  EXPECT_EQ(a.Drain(), "") << "no goodbye on Stop";
  EXPECT_TRUE(sink->Entries("Disconnected").empty());
}

}  // namespace
}  // namespace kivimap::testing
