// Connections of a running server: the send path under a slow reader, the idle timeout and the
// debug log.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "server/server_test_support.h"
#include "store/user.h"

namespace kivimap::testing {
namespace {

std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('A' + (i * 13 + i / 97) % 26);
  return text;
}

std::string ReadFile(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

TEST(ConnectionTest, AMegabyteSentToASlowReaderArrivesWholeAndInOrder) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Client client(server.port, /*receive_buffer=*/4096);
  EXPECT_EQ(client.Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
  Ref<IImapUser> user = server.User(0);
  auto* connection = dynamic_cast<store::ImapUser&>(*user).connection();
  ASSERT_NE(connection, nullptr);
  const int small = 8192;
  ::setsockopt(connection->fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::string big = Pattern(1 << 20);
  ASSERT_EQ(user->Send(ToWide(big)), StatusOk);
  EXPECT_GT(connection->queued_bytes(), 0u) << "the socket could not take it all at once";
  client.Send("a1 NOOP\r\n");  // answered behind the megabyte, not inside it

  const std::string got = client.Read(big.size(), /*per_round=*/16384, /*limit_ms=*/60000);
  ASSERT_TRUE(got == big) << "got " << got.size() << " bytes";
  EXPECT_EQ(client.Read(28), "a1 OK CAPABILITY completed\r\n");
  std::int32_t download = 0;
  user->get_BytesDownload(&download);
  EXPECT_EQ(static_cast<std::size_t>(download), sizeof kDefaultGreeting - 1 + big.size() + 28);
}

TEST(ConnectionTest, TheIdleTimeoutSaysSoAndClosesWithoutDisconnectedEvenForAKeptUser) {
  const std::pair<std::int32_t, std::uint32_t> intervals[] = {{0, 0},
                                                              {-5, 0},
                                                              {120, 120000},
                                                              {4294967, 4294967000u},
                                                              {4294968, 4294967295u},
                                                              {2147483647, 4294967295u}};
  for (const auto& [seconds, interval] : intervals) {
    EXPECT_EQ(store::IdleIntervalFromTimeout(seconds), interval) << seconds;
  }
  const std::size_t timers_before = EventLoop::ForThisThread().TimerCount();
  SinkServer server;
  server->put_Timeout(1);
  Ref<IImapUser> kept;  // the host keeps the second user
  server.sink->on_event = [&](IImapUser* user, std::int32_t*, WideString*) {
    if (!kept && server.sink->Count("Connecting") == 2) kept = Ref<IImapUser>(user);
  };
  Client dropped(server);
  Client held(server);
  ASSERT_TRUE(kept);
  for (Client* client : {&dropped, &held}) {
    EXPECT_EQ(client->ReadUntilClosed(), "* BAD timeout value exceeded... bye...\r\n");
    EXPECT_TRUE(client->closed) << "no socket left open with its timer firing again";
  }
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_EQ(server.sink->Count("Disconnected"), 0u);
  EXPECT_EQ(EventLoop::ForThisThread().TimerCount(), timers_before);
}

TEST(ConnectionTest, TheDebugLogHoldsTheConversationAndTheStartOfLargeResponses) {
  char dir[] = "/tmp/kivimap-test-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string path = std::string(dir) + "/debug.log";
  const std::string start_line = "----------- NEW SESSION STARTED ------------\r\n";
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  ASSERT_EQ(server->put_DebugFile(ToWide(path)), StatusOk);
  Client client(server);
  client.Send("a1 NOOP\r\n");
  EXPECT_EQ(client.Read(28), "a1 OK CAPABILITY completed\r\n");
  const std::string conversation =
      start_line + kDefaultGreeting + "a1 NOOP\r\na1 OK CAPABILITY completed\r\n";
  EXPECT_EQ(ReadFile(path), conversation);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the log holds passwords";

  // A response of 20000 bytes queued at once is logged with its first 16380 bytes; the client
  // gets all of it.
  const std::string big = Pattern(20000);
  server.User(0)->Send(ToWide(big));
  EXPECT_TRUE(client.Read(big.size()) == big);
  EXPECT_TRUE(ReadFile(path) == conversation + big.substr(0, 16380));

  // The same name again appends another start line; an empty name turns the log off.
  server->put_DebugFile(ToWide(path));
  server->put_DebugFile(u"");
  client.Send("a2 NOOP\r\n");
  EXPECT_EQ(client.Read(28), "a2 OK CAPABILITY completed\r\n");
  EXPECT_TRUE(ReadFile(path) == conversation + big.substr(0, 16380) + start_line);
  std::remove(path.c_str());
  ::rmdir(dir);
}

}  // namespace
}  // namespace kivimap::testing
