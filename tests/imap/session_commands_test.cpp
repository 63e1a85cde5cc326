// CAPABILITY, NOOP, LOGOUT, LOGIN and AUTHENTICATE.
#include <gtest/gtest.h>

#include "imap/engine_test_support.h"

namespace kivimap::testing {
namespace {

using Events = std::vector<std::string>;

std::string Username(store::ImapUser& user) {
  WideString s;
  user.get_Username(&s);
  return s.ToNarrow();
}
std::string Password(store::ImapUser& user) {
  WideString s;
  user.get_Password(&s);
  return s.ToNarrow();
}

TEST(SessionCommandsTest, LoginStoresTheCredentialsTellsTheHostAndListsTheRoot) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1 LOGIN joe secret"), "a1 OK LOGIN completed\r\n");
  EXPECT_EQ(Username(h.user()), "joe");
  EXPECT_EQ(Password(h.user()), "secret");
  EXPECT_EQ(h.user().context().ProtocolState, store::ProtocolAuthenticated);
  EXPECT_EQ(h.server.events,
            (Events{"Command a1 LOGIN joe secret", "Connected joe|secret|0", "ListFolders root"}));
  EXPECT_EQ(h.user().state(), StateWaitingUsername) << "LOGIN leaves the host-visible state";
}

TEST(SessionCommandsTest, LoginArgumentsMayBeQuotedWithBlanks) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1 LOGIN \"joe smith\" \"pass word\" ignored"),
            "a1 OK LOGIN completed\r\n");
  EXPECT_EQ(Username(h.user()), "joe smith");
  EXPECT_EQ(Password(h.user()), "pass word");
}

TEST(SessionCommandsTest, LoginWithoutTwoCompleteArgumentsIsAParseError) {
  EngineHarness h;
  for (const char* line : {"a1 LOGIN", "a1 LOGIN joe", "a1 LOGIN joe \"secret",
                           "a1 LOGIN (joe secret", "a1 LOGIN \"joe secret\""}) {
    EXPECT_EQ(h.Exchange(line), "a1 BAD LOGIN parse error\r\n") << line;
  }
  EXPECT_EQ(h.user().context().ProtocolState, store::ProtocolNotAuthenticated);
  EXPECT_EQ(h.Exchange("a2 LOGIN {3} {6}"), "a2 OK LOGIN completed\r\n");
  EXPECT_EQ(Username(h.user()), "{3}") << "literal markers are ordinary text";
}

TEST(SessionCommandsTest, ADeniedConnectedEventDoesNotStopTheLogin) {
  EngineHarness h;
  h.server.on_connected = [](std::int32_t* action) {
    *action = Deny;
    return true;
  };
  EXPECT_EQ(h.Exchange("a1 LOGIN joe secret"), "a1 OK LOGIN completed\r\n");
}

TEST(SessionCommandsTest, LoginStopsSilentlyWhenTheServerGoesDuringConnected) {
  EngineHarness h;
  h.server.on_connected = [](std::int32_t*) { return false; };
  EXPECT_FALSE(h.Dispatch("a1 LOGIN joe secret"));
  EXPECT_EQ(h.Received(), "");
  EXPECT_EQ(h.server.events.back(), "Connected joe|secret|0");
}

TEST(SessionCommandsTest, LoginStopsAfterItsCompletionWhenTheServerGoesDuringListFolders) {
  EngineHarness h;
  h.server.on_list_folders = [] { return false; };
  EXPECT_FALSE(h.Dispatch("a1 LOGIN joe secret"));
  EXPECT_EQ(h.Received(), "a1 OK LOGIN completed\r\n");
}

TEST(SessionCommandsTest, LogoutSaysGoodbyeAndClosesAfterTheLinesAlreadyReceived) {
  EngineHarness h;
  h.server.goodbye = u"";
  EXPECT_EQ(h.Exchange("a1 LOGOUT"), "* BYE  terminating connection\r\na1 OK LOGOUT completed\r\n");
  EXPECT_EQ(h.Exchange("a2 NOOP"), "a2 OK CAPABILITY completed\r\n");
  // The posted close runs the close step: Disconnected, then the user leaves the collection.
  for (int i = 0; i < 50 && h.server.users->size() > 0; ++i) EventLoop::ForThisThread().RunOnce(1);
  EXPECT_EQ(h.server.users->size(), 0u);
  EXPECT_EQ(h.server.events.back(), "Disconnected");
  EXPECT_EQ(h.user().connection(), nullptr);
}

TEST(SessionCommandsTest, AuthenticateLoginAsksForNameAndPassword) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1 AUTHENTICATE login"), "+ VXNlcm5hbWU6\r\n");
  EXPECT_EQ(h.Exchange("am9l"), "+ UGFzc3dvcmQ6\r\n");
  EXPECT_EQ(h.Exchange("c2VjcmV0"), "a1 OK AUTHENTICATE completed\r\n");
  EXPECT_EQ(Username(h.user()), "joe");
  EXPECT_EQ(Password(h.user()), "secret");
  EXPECT_EQ(h.user().context().ProtocolState, store::ProtocolAuthenticated);
  // The responses are no commands: no Command event for them.
  EXPECT_EQ(h.server.events, (Events{"Command a1 AUTHENTICATE login", "Connected joe|secret|0",
                                     "ListFolders root"}));
}

TEST(SessionCommandsTest, AuthenticatePlainTakesItsMessageInlineOrAfterAnEmptyChallenge) {
  {
    EngineHarness h;
    EXPECT_EQ(h.Exchange("a1 AUTHENTICATE PLAIN AGpvZQBzZWNyZXQ="),
              "a1 OK AUTHENTICATE completed\r\n");
    EXPECT_EQ(Username(h.user()), "joe");
    EXPECT_EQ(Password(h.user()), "secret");
  }
  {
    EngineHarness h;
    EXPECT_EQ(h.Exchange("a1 AUTHENTICATE PLAIN"), "+ \r\n");
    EXPECT_EQ(h.Exchange("YWRtaW4AYW5uAHB3"), "a1 OK AUTHENTICATE completed\r\n");
    EXPECT_EQ(Username(h.user()), "ann");
    EXPECT_EQ(Password(h.user()), "pw");
  }
}

TEST(SessionCommandsTest, AuthenticateCanBeCancelledAndRefusesBadData) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1 AUTHENTICATE LOGIN"), "+ VXNlcm5hbWU6\r\n");
  EXPECT_EQ(h.Exchange("*"), "a1 BAD AUTHENTICATE cancelled\r\n");
  EXPECT_EQ(h.Exchange("a2 AUTHENTICATE LOGIN"), "+ VXNlcm5hbWU6\r\n");
  EXPECT_EQ(h.Exchange("a3 NOOP"), "a2 BAD AUTHENTICATE parse error\r\n");
  EXPECT_EQ(h.Exchange("a4 AUTHENTICATE PLAIN"), "+ \r\n");
  EXPECT_EQ(h.Exchange("am9l"), "a4 BAD AUTHENTICATE parse error\r\n") << "no NUL separators";
  EXPECT_EQ(h.Exchange("a5 AUTHENTICATE PLAIN !!!!"), "a5 BAD AUTHENTICATE parse error\r\n");
  EXPECT_EQ(h.Exchange("a6 AUTHENTICATE CRAM-MD5"), "a6 NO AUTHENTICATE failed\r\n");
  EXPECT_EQ(h.Exchange("a7 AUTHENTICATE"), "a7 NO AUTHENTICATE failed\r\n");
  EXPECT_EQ(h.user().context().ProtocolState, store::ProtocolNotAuthenticated);
  EXPECT_FALSE(h.user().context().Sasl.pending());
  // Back to commands after each ending.
  EXPECT_EQ(h.Exchange("a8 NOOP"), "a8 OK CAPABILITY completed\r\n");
}

TEST(SessionCommandsTest, AuthenticateStopsWhenTheServerGoesDuringConnected) {
  EngineHarness h;
  h.server.on_connected = [](std::int32_t*) { return false; };
  EXPECT_EQ(h.Exchange("a1 AUTHENTICATE LOGIN"), "+ VXNlcm5hbWU6\r\n");
  EXPECT_EQ(h.Exchange("am9l"), "+ UGFzc3dvcmQ6\r\n");
  EXPECT_FALSE(h.Dispatch("c2VjcmV0"));
  EXPECT_EQ(h.Received(), "");
}

TEST(SessionCommandsTest, CommandsWithoutAServerAnswerNothing) {
  EngineHarness h;
  // Handlers check the server link themselves; the dispatcher is bypassed to reach them.
  h.user().SetHost(nullptr);
  for (const char* line : {"a1 CAPABILITY", "a1 NOOP", "a1 LOGOUT", "a1 AUTHENTICATE LOGIN"}) {
    EXPECT_TRUE(imap::ExecuteCommandLine(h.server, h.user(), line));
  }
  EXPECT_EQ(h.Received(), "");
  EXPECT_TRUE(imap::ExecuteCommandLine(h.server, h.user(), "a2 LOGIN joe x"));
  EXPECT_EQ(h.Received(), "a2 OK LOGIN completed\r\n");
  EXPECT_TRUE(h.server.events.empty()) << "LOGIN fires its events only with a server";
}

}  // namespace
}  // namespace kivimap::testing
