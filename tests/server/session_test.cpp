// A client connects, logs in and leaves, through a server on real loopback sockets.
#include <gtest/gtest.h>

#include "server/recording_sink.h"
#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

TEST(SessionTest, GreetsLogsInAndSaysGoodbye) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  ASSERT_EQ(server->Advise(sink.get(), &cookie), StatusOk);

  Client client = Greeted(server);
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 1; }));
  client.Send("a1 CAPABILITY\r\n");
  EXPECT_EQ(client.ReadLine(), "* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK CAPABILITY completed\r\n");
  client.Send("a2 NOOP\r\n");
  EXPECT_EQ(client.ReadLine(), "a2 OK CAPABILITY completed\r\n");
  client.Send("a3 LOGIN joe secret\r\n");
  EXPECT_EQ(client.ReadLine(), "a3 OK LOGIN completed\r\n");
  client.Send("a4 LOGOUT\r\n");
  EXPECT_EQ(client.ReadLine(),
            "* BYE Quillon Imap server version 1.0.0.7 terminating connection\r\n");
  EXPECT_EQ(client.ReadLine(), "a4 OK LOGOUT completed\r\n");
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 0; }));

  EXPECT_EQ(sink->log,
            (std::vector<std::string>{"Connecting 1", "StateChange 2 1", "Command a1 CAPABILITY",
                                      "Command a2 NOOP", "Command a3 LOGIN joe secret",
                                      "Connected joe secret 0", "ListFolders root",
                                      "Command a4 LOGOUT", "Disconnected"}));
}

}  // namespace
}  // namespace kivimap::testing
