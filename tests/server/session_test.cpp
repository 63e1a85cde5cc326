// Users of a running server: the dispatcher's answers, the events' Action shared between sinks,
// and what a user tells about itself before and after its connection is gone.
#include <gtest/gtest.h>

#include "server/server_test_support.h"
#include "store/user.h"

namespace kivimap::testing {
namespace {

TEST(SessionTest, TheDispatcherAnswersErrorsAndCommandsOfTheCurrentStateOnly) {
  const std::pair<const char*, const char*> exchanges[] = {
      {"", "* BAD Null command\r\n"},
      {" a1 NOOP", "* BAD Null command\r\n"},
      {"a1", "a1 BAD Missing Command\r\n"},
      {"a3  NOOP", "a3 BAD Missing Command\r\n"},
      {"Tag1 noop extra  words", "Tag1 OK CAPABILITY completed\r\n"},
      {"a1 FROB", "a1 BAD Command unrecognized\r\n"},
      // The sink replaces this line by one with a NUL character: the command ends there.
      {"x1 NUL", "z1 OK CAPABILITY completed\r\n"},
      {"a4 LOGIN joe secret", "a4 OK LOGIN completed\r\n"},
      {"a5 LOGIN joe secret", "a5 BAD Command unrecognized\r\n"},
      {"a6 CAPABILITY", "* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\na6 OK CAPABILITY completed\r\n"},
  };
  SinkServer server;
  server.sink->on_event = [](IImapUser*, std::int32_t*, WideString* command) {
    if (command && command->ToNarrow() == "x1 NUL") {
      *command = WideString(std::u16string_view(u"z1 NOOP\0 junk", 13));
    }
  };
  Client client(server);
  for (const auto& [line, answer] : exchanges) {
    client.Send(std::string(line) + "\r\n");
    EXPECT_EQ(client.Read(std::string(answer).size()), answer) << line;
  }
  EXPECT_EQ(client.Drain(), "");
}

TEST(SessionTest, TwoSinksShareTheAction) {
  SinkServer server;
  Ref<RecordingSink> second(new RecordingSink);
  std::uint32_t cookie = 0;
  server->Advise(second.get(), &cookie);
  server.sink->on_event = [](IImapUser*, std::int32_t* action, WideString*) {
    if (action) *action = Deny;
  };

  Client refused(server.port);
  EXPECT_EQ(refused.ReadUntilClosed(), "");
  EXPECT_EQ(second->log, (std::vector<std::string>{"Connecting 0"})) << "the second sees Deny";

  second->on_event = [](IImapUser*, std::int32_t* action, WideString*) {
    if (action) *action = Allow;
  };
  Client accepted(server);
  EXPECT_EQ(server.UserCount(), 1);
}

TEST(SessionTest, UsersKnowTheirPlaceAndKeepTheirPropertiesAfterTheirConnectionIsGone) {
  SinkServer server;
  const Date before = store::LocalTimeNow();
  Client first(server);
  Client second(server);
  const Date after = store::LocalTimeNow();
  ASSERT_EQ(server.UserCount(), 2);
  Ref<IImapUser> user;
  EXPECT_EQ(server.Users()->get_Item(2, &user), StatusInvalidArg);
  EXPECT_EQ(server.Users()->get_Item(-1, &user), StatusInvalidArg);
  user = server.User(0);
  Ref<IImapUser> last = server.User(1);

  const std::string answers =
      "a1 OK LOGIN completed\r\n"
      "* BYE Quillon Imap server version 1.0.0.7 terminating connection\r\n"
      "a2 OK LOGOUT completed\r\n";
  first.Send("a1 LOGIN joe secret\r\na2 LOGOUT\r\n");
  EXPECT_EQ(first.ReadUntilClosed(), answers);
  ASSERT_TRUE(Pump([&] { return server.UserCount() == 1; }));
  std::int16_t index = -1;
  EXPECT_EQ(last->get_Index(&index), StatusOk);
  EXPECT_EQ(index, 0) << "later users move down";
  EXPECT_EQ(user->get_Index(&index), StatusInvalidArg);

  EXPECT_EQ(Text(user.get(), &IImapUser::get_Username), "joe");
  EXPECT_EQ(Text(user.get(), &IImapUser::get_Password), "secret");
  EXPECT_EQ(Text(user.get(), &IImapUser::get_Hostname), "127.0.0.1");
  Date connected = 0;
  user->get_TimeConnected(&connected);
  EXPECT_GE(connected, before);
  EXPECT_LE(connected, after);
  const double seconds = connected * 86400;
  EXPECT_NEAR(seconds, static_cast<double>(static_cast<long long>(seconds + 0.5)), 1e-3)
      << "whole seconds";
  std::int32_t upload = 0;
  std::int32_t download = 0;
  user->get_BytesUpload(&upload);
  user->get_BytesDownload(&download);
  EXPECT_EQ(upload, 21 + 11);
  EXPECT_EQ(download, static_cast<std::int32_t>(sizeof kDefaultGreeting - 1 + answers.size()));
  EXPECT_EQ(user->Send(u"lost"), StatusOk) << "nothing to send it on, and no failure";
}

}  // namespace
}  // namespace kivimap::testing
