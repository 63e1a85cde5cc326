// Users and their connections through a running server: the send path, the idle timeout, the
// debug log and the user's properties.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "server/recording_sink.h"
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
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class TempPath {
 public:
  TempPath() {
    char dir[] = "/tmp/kivimap-test-XXXXXX";
    dir_ = ::mkdtemp(dir);
    path_ = dir_ + "/debug.log";
  }
  ~TempPath() {
    std::remove(path_.c_str());
    ::rmdir(dir_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string dir_;
  std::string path_;
};

TEST(ConnectionTest, SendPutsExactlyTheTextOnTheWire) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Client client = Greeted(server);
  ASSERT_EQ(server.User(0)->Send(u"* OK hello"), StatusOk);
  EXPECT_EQ(client.Read(10), "* OK hello");
  EXPECT_EQ(client.Drain(), "");
}

TEST(ConnectionTest, AMegabyteSentToASlowReaderArrivesWholeAndInOrder) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Client client;
  ASSERT_TRUE(client.Connect(server.port, /*receive_buffer=*/4096));
  EXPECT_EQ(client.ReadLine(), kDefaultGreeting);
  Ref<IImapUser> user = server.User(0);
  const std::string big = Pattern(1 << 20);
  auto* connection = dynamic_cast<store::ImapUser&>(*user).connection();
  ASSERT_NE(connection, nullptr);
  const int small = 8192;
  ::setsockopt(connection->fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  ASSERT_EQ(user->Send(ToWide(big)), StatusOk);
  EXPECT_GT(connection->queued_bytes(), 0u) << "the socket could not take it all at once";
  client.Send("a1 NOOP\r\n");  // answered behind the megabyte, not inside it

  // A slow reader: a little per round of the loop.
  const std::string got = client.ReadSlowly(big.size(), /*per_round=*/16384);
  ASSERT_EQ(got.size(), big.size());
  EXPECT_TRUE(got == big);
  EXPECT_EQ(client.ReadLine(), "a1 OK CAPABILITY completed\r\n");
  std::int32_t download = 0;
  user->get_BytesDownload(&download);
  EXPECT_EQ(static_cast<std::size_t>(download), sizeof kDefaultGreeting - 1 + big.size() + 28);
}

TEST(ConnectionTest, CommandsAfterLogoutInTheSamePacketAreStillAnswered) {
  TestServer server;
  server->put_GoodbyeMessage(u"");
  ASSERT_EQ(server.Start(), StatusOk);
  Client client = Greeted(server);
  client.Send("a1 LOGOUT\r\na2 NOOP\r\n");
  EXPECT_EQ(client.ReadLine(), "* BYE  terminating connection\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK LOGOUT completed\r\n");
  EXPECT_EQ(client.ReadLine(), "a2 OK CAPABILITY completed\r\n");
  EXPECT_TRUE(client.WaitClosed());
}

TEST(ConnectionTest, TheIdleTimeoutSaysSoAndRemovesTheUserWithoutDisconnected) {
  TestServer server;
  server->put_Timeout(1);
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(sink.get(), &cookie);
  Client client = Greeted(server);
  EXPECT_EQ(client.ReadLine(), "* BAD timeout value exceeded... bye...\r\n");
  EXPECT_TRUE(client.WaitClosed());
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_TRUE(sink->Entries("Disconnected").empty());
}

TEST(ConnectionTest, TheIdleTimeoutClosesTheConnectionOfAUserTheHostKeeps) {
  TestServer server;
  server->put_Timeout(1);
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(sink.get(), &cookie);
  Ref<IImapUser> kept;
  sink->on_connecting = [&](IImapUser* user, std::int32_t*) { kept = Ref<IImapUser>(user); };
  const std::size_t timers_before = EventLoop::ForThisThread().TimerCount();
  Client client = Greeted(server);
  EXPECT_EQ(client.ReadLine(), "* BAD timeout value exceeded... bye...\r\n");
  EXPECT_TRUE(client.WaitClosed()) << "no socket left open with its timer firing again";
  EXPECT_EQ(client.Drain(), "");
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_EQ(EventLoop::ForThisThread().TimerCount(), timers_before);
}

TEST(ConnectionTest, ATimeoutOfZeroOrLessRunsNoIdleTimer) {
  for (const std::int32_t timeout : {0, -5}) {
    TestServer server;
    server->put_Timeout(timeout);
    ASSERT_EQ(server.Start(), StatusOk);
    const std::size_t timers_before = EventLoop::ForThisThread().TimerCount();
    Client client = Greeted(server);
    client.Send("a1 NOOP\r\n");
    EXPECT_EQ(client.ReadLine(), "a1 OK CAPABILITY completed\r\n");
    EXPECT_EQ(EventLoop::ForThisThread().TimerCount(), timers_before) << timeout;
  }
  EXPECT_EQ(store::IdleIntervalFromTimeout(120), 120000u);
  EXPECT_EQ(store::IdleIntervalFromTimeout(2147483647), 4294967295u);
  EXPECT_EQ(store::IdleIntervalFromTimeout(4294967), 4294967000u);
  EXPECT_EQ(store::IdleIntervalFromTimeout(4294968), 4294967295u);
}

TEST(ConnectionTest, TheDebugLogHoldsTheConversation) {
  TempPath log;
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  ASSERT_EQ(server->put_DebugFile(ToWide(log.path())), StatusOk);
  Client client = Greeted(server);
  client.Send("a1 NOOP\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK CAPABILITY completed\r\n");
  EXPECT_EQ(ReadFile(log.path()), std::string("----------- NEW SESSION STARTED ------------\r\n") +
                                      kDefaultGreeting +
                                      "a1 NOOP\r\na1 OK CAPABILITY completed\r\n");
  struct stat st {};
  ASSERT_EQ(::stat(log.path().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // A response of 20000 bytes queued at once is logged with its first 16380 bytes; the client
  // gets all of it.
  const std::string big = Pattern(20000);
  const std::size_t before = ReadFile(log.path()).size();
  server.User(0)->Send(ToWide(big));
  EXPECT_TRUE(client.Read(big.size()) == big);
  const std::string logged = ReadFile(log.path()).substr(before);
  EXPECT_EQ(logged.size(), 16380u);
  EXPECT_TRUE(logged == big.substr(0, 16380));

  // The same name again appends another start line; an empty name turns the log off.
  server->put_DebugFile(ToWide(log.path()));
  server->put_DebugFile(u"");
  client.Send("a2 NOOP\r\n");
  client.ReadLine();
  const std::string all = ReadFile(log.path());
  EXPECT_EQ(all.substr(all.size() - 46), "----------- NEW SESSION STARTED ------------\r\n");
}

TEST(ConnectionTest, ALogFileThatCannotBeOpenedIsIgnored) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  EXPECT_EQ(server->put_DebugFile(u"/nonexistent-kivimap-dir/debug.log"), StatusOk);
  Client client = Greeted(server);
  client.Send("a1 NOOP\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK CAPABILITY completed\r\n");
}

TEST(ConnectionTest, AReplacedCommandIsLoggedAsReceived) {
  TempPath log;
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Ref<RecordingSink> sink(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(sink.get(), &cookie);
  sink->on_command = [](IImapUser*, WideString* command) { *command = u"b1 NOOP"; };
  Client client = Greeted(server);
  server->put_DebugFile(ToWide(log.path()));
  client.Send("a1 SOMETHING\r\n");
  EXPECT_EQ(client.ReadLine(), "b1 OK CAPABILITY completed\r\n");
  EXPECT_EQ(ReadFile(log.path()),
            "----------- NEW SESSION STARTED ------------\r\na1 SOMETHING\r\n"
            "b1 OK CAPABILITY completed\r\n");
}

TEST(ConnectionTest, UsersKnowTheirPlaceAddressAndTime) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  const Date before = store::LocalTimeNow();
  Client first = Greeted(server);
  Client second = Greeted(server);
  Client third = Greeted(server);
  const Date after = store::LocalTimeNow();
  ASSERT_EQ(server.UserCount(), 3);

  Ref<IImapUsers> users;
  server->get_Users(&users);
  Ref<IImapUser> user;
  EXPECT_EQ(users->get_Item(3, &user), StatusInvalidArg);
  EXPECT_EQ(users->get_Item(-1, &user), StatusInvalidArg);
  EXPECT_EQ(users->get_Item(0, nullptr), StatusOk);
  ASSERT_EQ(users->get_Item(1, &user), StatusOk);
  WideString host;
  user->get_Hostname(&host);
  EXPECT_EQ(host.ToNarrow(), "127.0.0.1");
  Date connected = 0;
  user->get_TimeConnected(&connected);
  EXPECT_GE(connected, before);
  EXPECT_LE(connected, after);
  const double seconds = connected * 86400;
  EXPECT_NEAR(seconds, static_cast<double>(static_cast<long long>(seconds + 0.5)), 1e-3)
      << "whole seconds";
  std::int32_t state = 0;
  user->get_State(&state);
  EXPECT_EQ(state, StateWaitingUsername);

  std::int16_t index = -1;
  EXPECT_EQ(user->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 1);
  first.Send("a1 LOGOUT\r\n");
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 2; }));
  EXPECT_EQ(user->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 0) << "later users move down";
}

TEST(ConnectionTest, AUserKeepsItsPropertiesAndCountersAfterItsConnectionIsGone) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Client client = Greeted(server);
  Ref<IImapUser> user = server.User(0);
  client.Send("a1 LOGIN joe secret\r\n");
  EXPECT_EQ(client.ReadLine(), "a1 OK LOGIN completed\r\n");
  client.Send("a2 LOGOUT\r\n");
  EXPECT_TRUE(client.WaitClosed());
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 0; }));

  WideString text;
  user->get_Username(&text);
  EXPECT_EQ(text.ToNarrow(), "joe");
  user->get_Password(&text);
  EXPECT_EQ(text.ToNarrow(), "secret");
  user->get_Hostname(&text);
  EXPECT_EQ(text.ToNarrow(), "127.0.0.1");
  std::int32_t upload = 0;
  std::int32_t download = 0;
  user->get_BytesUpload(&upload);
  user->get_BytesDownload(&download);
  EXPECT_EQ(upload, 21 + 11);
  const std::string sent = std::string(kDefaultGreeting) + "a1 OK LOGIN completed\r\n" +
                           "* BYE Quillon Imap server version 1.0.0.7 terminating connection\r\n" +
                           "a2 OK LOGOUT completed\r\n";
  EXPECT_EQ(download, static_cast<std::int32_t>(sent.size()));
  EXPECT_EQ(user->put_BytesUpload(7), StatusOk);
  user->get_BytesUpload(&upload);
  EXPECT_EQ(upload, 7);
  EXPECT_EQ(user->Send(u"lost"), StatusOk) << "nothing to send it on, and no failure";
}

}  // namespace
}  // namespace kivimap::testing
