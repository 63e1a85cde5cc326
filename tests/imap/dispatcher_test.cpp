// Splitting a line into tag, command and arguments, the dispatcher's own answers, the Command
// event and the command table's states.
#include <gtest/gtest.h>

#include "imap/engine_test_support.h"

namespace kivimap::testing {
namespace {

TEST(DispatcherTest, EmptyLinesAndLeadingBlanksAreNullCommands) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange(""), "* BAD Null command\r\n");
  EXPECT_EQ(h.Exchange(" a1 NOOP"), "* BAD Null command\r\n");
}

TEST(DispatcherTest, ATagWithoutCommandIsAMissingCommand) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1"), "a1 BAD Missing Command\r\n");
  EXPECT_EQ(h.Exchange("a2 "), "a2 BAD Missing Command\r\n");
  EXPECT_EQ(h.Exchange("a3  NOOP"), "a3 BAD Missing Command\r\n");
}

TEST(DispatcherTest, CommandNamesIgnoreCaseAndTagsKeepIt) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("Tag1 noop"), "Tag1 OK CAPABILITY completed\r\n");
  EXPECT_EQ(h.Exchange("* NoOp"), "* OK CAPABILITY completed\r\n");
  EXPECT_EQ(h.Exchange("a1 NOOP extra words  here"), "a1 OK CAPABILITY completed\r\n");
}

TEST(DispatcherTest, UnknownCommandsAndCommandsOfAnotherStateAreUnrecognized) {
  EngineHarness h;
  EXPECT_EQ(h.Exchange("a1 FROB"), "a1 BAD Command unrecognized\r\n");
  EXPECT_EQ(h.Exchange("a2 FETCH 1 FLAGS"), "a2 BAD Command unrecognized\r\n");
  EXPECT_EQ(h.Exchange("a3 SELECT INBOX"), "a3 BAD Command unrecognized\r\n");
  EXPECT_EQ(h.Exchange("a4 LOGIN joe secret"), "a4 OK LOGIN completed\r\n");
  EXPECT_EQ(h.Exchange("a5 LOGIN joe secret"), "a5 BAD Command unrecognized\r\n");
  EXPECT_EQ(h.Exchange("a6 AUTHENTICATE PLAIN"), "a6 BAD Command unrecognized\r\n");
  EXPECT_EQ(h.Exchange("a7 CAPABILITY"),
            "* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\na7 OK CAPABILITY completed\r\n");
}

TEST(DispatcherTest, TheCommandEventSeesEveryLineAndMayRewriteIt) {
  EngineHarness h;
  h.server.on_command = [](WideString* command) {
    if (command->ToNarrow() == "x1 SECRET") *command = u"y1 CAPABILITY";
    if (command->ToNarrow() == "x2 EMPTY") *command = u"";
    return true;
  };
  EXPECT_EQ(h.Exchange("x1 SECRET"),
            "* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\ny1 OK CAPABILITY completed\r\n");
  EXPECT_EQ(h.Exchange("x2 EMPTY"), "* BAD Null command\r\n");
  EXPECT_EQ(h.server.events, (std::vector<std::string>{"Command x1 SECRET", "Command x2 EMPTY"}));
}

TEST(DispatcherTest, AReplacedCommandIsCutAtANulCharacter) {
  EngineHarness h;
  h.server.on_command = [](WideString* command) {
    *command = WideString(std::u16string_view(u"z1 NOOP\0 junk", 13));
    return true;
  };
  EXPECT_EQ(h.Exchange("anything"), "z1 OK CAPABILITY completed\r\n");
}

TEST(DispatcherTest, ALineIsDroppedWhenTheServerOrUserIsGoneAfterTheCommandEvent) {
  EngineHarness h;
  h.server.on_command = [](WideString*) { return false; };
  EXPECT_FALSE(h.Dispatch("a1 NOOP"));
  EXPECT_EQ(h.Received(), "");
}

TEST(DispatcherTest, WithoutAServerTheLineIsDroppedAndTheCallerStops) {
  EngineHarness h;
  h.user().SetHost(nullptr);
  EXPECT_FALSE(h.Dispatch("a1 NOOP"));
  EXPECT_EQ(h.Received(), "");
  EXPECT_TRUE(h.server.events.empty());
}

TEST(DispatcherTest, WithoutSinksTheLineIsParsedAsReceived) {
  EngineHarness h;
  h.server.has_sinks = false;
  EXPECT_EQ(h.Exchange("a1 NOOP"), "a1 OK CAPABILITY completed\r\n");
  EXPECT_TRUE(h.server.events.empty());
}

TEST(DispatcherTest, LongTagsAreEchoedWhole) {
  EngineHarness h;
  const std::string tag(20000, 't');
  const std::string answer = h.Exchange(tag + " NOOP");
  EXPECT_EQ(answer.size(), tag.size() + 26);
  EXPECT_TRUE(answer == tag + " OK CAPABILITY completed\r\n");
}

TEST(DispatcherTest, TheDebugLogGetsTheLineThenItsLineEnd) {
  EngineHarness h;
  h.server.debug_on = true;
  h.Exchange("a1 NOOP");
  EXPECT_EQ(h.server.debug, "a1 NOOP\r\na1 OK CAPABILITY completed\r\n");
}

}  // namespace
}  // namespace kivimap::testing
