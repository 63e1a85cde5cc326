// The multipart split: where the delimiter comes from, how the body is cut into parts, their
// counts, and the parts' own headers, text and nested parts.
#include <string>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

// Lines joined with the given line end.
std::string Lines(std::initializer_list<std::string_view> lines, std::string_view eol) {
  std::string out;
  for (std::string_view line : lines) out.append(line).append(eol);
  return out;
}

std::string TextOf(IImapMessage* message) {
  WideString text;
  EXPECT_EQ(message->get_Text(&text), StatusOk);
  return N(text);
}

class MimePartsTest : public ::testing::Test {
 protected:
  Ref<ImapMessage> Message(const std::string& content) {
    Ref<ImapMessage> message = ImapMessage::Create();
    path_ = dir_.Write(std::to_string(files_++) + ".eml", content);
    message->put_Filename(W(path_));
    return message;
  }
  static ImapMessages& Parts(ImapMessage& message) {
    Ref<IImapMessages> parts;
    EXPECT_EQ(message.get_Parts(&parts), StatusOk);
    return *ImapMessages::FromInterface(parts.get());
  }

  TempDir dir_;
  std::string path_;
  int files_ = 0;
};

std::string TwoParts(std::string_view content_type, std::string_view eol, bool closing = true) {
  std::string body = Lines({content_type, "", "preamble", "--b", "Content-Type: text/plain", "",
                            "one", "--b", "", "two"},
                           eol);
  if (closing) body += Lines({"--b--", "epilogue"}, eol);
  return body;
}

TEST_F(MimePartsTest, APreambleTwoPartsAndAClosingDelimiter) {
  for (const char* eol : {"\r\n", "\n"}) {
    SCOPED_TRACE(eol[0] == '\r' ? "CRLF" : "LF");
    Ref<ImapMessage> message =
        Message(TwoParts("Content-Type: multipart/mixed; boundary=\"b\"", eol));
    EXPECT_EQ(TextOf(message.get()), "preamble\r\n");
    EXPECT_EQ(message->Delimiter(), std::optional<std::string>("--b"));

    ImapMessages& parts = Parts(*message);
    ASSERT_EQ(parts.size(), 2u);
    ImapMessage& one = *parts.at(0);
    ImapMessage& two = *parts.at(1);

    EXPECT_FALSE(one.StartsWithDelimiter());
    EXPECT_TRUE(two.StartsWithDelimiter());
    // Counts treat every line end as two bytes.
    EXPECT_EQ(one.PartSize(), 26u + 2u + 5u);
    EXPECT_EQ(one.PartLines(), 3u);
    EXPECT_EQ(two.PartSize(), 5u + 2u + 5u);
    EXPECT_EQ(two.PartLines(), 3u);

    // Ranges lie in the message's file: part one right after the first delimiter line, part
    // two from its own delimiter line up to the closing one.
    const std::string content = testing::ReadAll(path_);
    const auto one_start = content.find("Content-Type: text/plain");
    const auto two_start = content.find(std::string("--b") + eol, one_start);
    const auto closing = content.find("--b--");
    EXPECT_EQ(one.StartPosition(), static_cast<std::int32_t>(one_start));
    EXPECT_EQ(one.EndPosition(), static_cast<std::int32_t>(two_start));
    EXPECT_EQ(two.StartPosition(), static_cast<std::int32_t>(two_start));
    EXPECT_EQ(two.EndPosition(), static_cast<std::int32_t>(closing));
    WideString file;
    two.get_Filename(&file);
    EXPECT_EQ(N(file), path_);
    EXPECT_EQ(two.Uid(), 0);
    EXPECT_EQ(two.ParentCollection(), &parts);
    std::int16_t index = -1;
    two.get_Index(&index);
    EXPECT_EQ(index, 1);

    // Each part reads its own header and text; a delimiter line is not a field.
    ASSERT_NE(one.FindHeader("content-type"), nullptr);
    EXPECT_EQ(one.DelimiterLine(), std::nullopt);
    EXPECT_EQ(TextOf(&one), "one\r\n");
    two.ParseHeaders();
    EXPECT_EQ(two.HeadersCollection()->size(), 0u);
    EXPECT_EQ(two.DelimiterLine(), std::optional<std::string>("--b"));
    EXPECT_EQ(TextOf(&two), "two\r\n");

    // A part's Body is the whole file.
    WideString body;
    two.get_Body(&body);
    EXPECT_EQ(N(body), testing::ReadAll(path_));
  }
}

TEST_F(MimePartsTest, WithoutAClosingDelimiterTheLastPartIsLost) {
  Ref<ImapMessage> message =
      Message(TwoParts("Content-Type: multipart/mixed; boundary=\"b\"", "\r\n", false));
  ImapMessages& parts = Parts(*message);
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(TextOf(parts.at(0)), "one\r\n");
}

TEST_F(MimePartsTest, ParameterNamesIgnoreCaseButTheBoundaryDoesNot) {
  Ref<ImapMessage> capitals =
      Message(TwoParts("CONTENT-TYPE: MULTIPART/MIXED; BOUNDARY=\"b\"", "\r\n"));
  EXPECT_EQ(Parts(*capitals).size(), 2u);

  Ref<ImapMessage> other_case =
      Message(TwoParts("Content-Type: multipart/mixed; boundary=\"B\"", "\r\n"));
  EXPECT_EQ(Parts(*other_case).size(), 0u);
  // Without parts the whole body is the text.
  EXPECT_EQ(TextOf(other_case.get()), Lines({"preamble", "--b", "Content-Type: text/plain", "",
                                             "one", "--b", "", "two", "--b--", "epilogue"},
                                            "\r\n"));
}

TEST_F(MimePartsTest, OnlyAQuotedBoundaryOfAMultipartTypeCounts) {
  EXPECT_EQ(Parts(*Message(TwoParts("Content-Type: multipart/mixed; boundary=b", "\n"))).size(),
            0u);
  EXPECT_EQ(Parts(*Message(TwoParts("Content-Type: text/plain; boundary=\"b\"", "\n"))).size(), 0u);
  EXPECT_EQ(Parts(*Message(TwoParts("Content-Type: multipart/mixed; boundary=\"\"", "\n"))).size(),
            0u);
  EXPECT_EQ(Parts(*Message(TwoParts("Content-Type: multipart/mixed; boundary=\"b", "\n"))).size(),
            0u);
  EXPECT_EQ(Parts(*Message(TwoParts("X-Type: multipart/mixed; boundary=\"b\"", "\n"))).size(), 0u);
  // A second Content-Type is used when the first gives no delimiter.
  EXPECT_EQ(Parts(*Message(TwoParts("Content-Type: multipart/mixed; boundary=b\n"
                                    "Content-type: multipart/mixed; boundary=\"b\"",
                                    "\n")))
                .size(),
            2u);
  // The boundary may stand on a continuation line.
  EXPECT_EQ(
      Parts(*Message(TwoParts("Content-Type: multipart/mixed;\n\tboundary=\"b\"", "\n"))).size(),
      2u);
}

TEST_F(MimePartsTest, BoundariesLongerThan1021BytesAreNotUsed) {
  const std::string longest(1021, 'q');
  const std::string too_long(1022, 'q');
  auto build = [](const std::string& boundary) {
    return Lines({"Content-Type: multipart/mixed; boundary=\"" + boundary + "\"", "",
                  "--" + boundary, "", "one", "--" + boundary, "", "two", "--" + boundary + "--"},
                 "\r\n");
  };
  EXPECT_EQ(Parts(*Message(build(longest))).size(), 2u);
  Ref<ImapMessage> refused = Message(build(too_long));
  EXPECT_EQ(Parts(*refused).size(), 0u);
  EXPECT_EQ(refused->Delimiter(), std::nullopt);
}

TEST_F(MimePartsTest, DelimiterLinesMatchExactlyFirstAndByPrefixAfterwards) {
  // "--b  " does not start the split, but inside the split it starts a part of its own.
  Ref<ImapMessage> message =
      Message(Lines({"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b  ", "pre", "--b", "",
                     "one", "--b  ", "", "two", "--b--"},
                    "\r\n"));
  EXPECT_EQ(TextOf(message.get()), "--b  \r\npre\r\n");
  ImapMessages& parts = Parts(*message);
  ASSERT_EQ(parts.size(), 2u);
  EXPECT_EQ(TextOf(parts.at(1)), "two\r\n");
  parts.at(1)->ParseHeaders();
  EXPECT_EQ(parts.at(1)->DelimiterLine(), std::optional<std::string>("--b  "));
}

TEST_F(MimePartsTest, PartCountsOfAnEmptyLineAndATenByteLine) {
  for (const char* eol : {"\r\n", "\n"}) {
    Ref<ImapMessage> message = Message(Lines(
        {"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "0123456789", "", "--b--"},
        eol));
    ImapMessages& parts = Parts(*message);
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts.at(0)->PartSize(), 14u);
    EXPECT_EQ(parts.at(0)->PartLines(), 2u);
  }
}

TEST_F(MimePartsTest, NestedPartsAreSplitOnDemandAndOnlyOnce) {
  Ref<ImapMessage> message = Message(Lines({"Content-Type: multipart/mixed; boundary=\"outer\"",
                                            "",
                                            "--outer",
                                            "Content-Type: multipart/alternative;",
                                            "\tboundary=\"inner\"",
                                            "",
                                            "--inner",
                                            "Content-Type: text/plain",
                                            "",
                                            "plain",
                                            "--inner",
                                            "Content-Type: text/html",
                                            "",
                                            "<p>html</p>",
                                            "--inner--",
                                            "--outer",
                                            "Content-Type: application/octet-stream",
                                            "",
                                            "AAAA",
                                            "--outer--"},
                                           "\r\n"));
  EXPECT_EQ(TextOf(message.get()), "");
  ImapMessages& outer = Parts(*message);
  ASSERT_EQ(outer.size(), 2u);
  ImapMessage* alternative = outer.at(0);
  EXPECT_FALSE(alternative->BodyLoaded());
  // The inner part's Parts collection learned nothing of the split yet.
  EXPECT_EQ(alternative->PartsCollection()->size(), 0u);

  ImapMessages& inner = Parts(*alternative);
  ASSERT_EQ(inner.size(), 2u);
  EXPECT_EQ(TextOf(inner.at(0)), "plain\r\n");
  EXPECT_EQ(TextOf(inner.at(1)), "<p>html</p>\r\n");
  EXPECT_TRUE(inner.at(1)->StartsWithDelimiter());
  EXPECT_EQ(inner.at(1)->PartLines(), 4u);

  // Asking again splits nothing a second time, at either level.
  EXPECT_EQ(&Parts(*message), &outer);
  EXPECT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer.at(0), alternative);
  EXPECT_EQ(Parts(*alternative).size(), 2u);
  EXPECT_EQ(TextOf(message.get()), "");
  EXPECT_EQ(outer.size(), 2u);
}

TEST_F(MimePartsTest, TheSplitStopsAtTheMessagesEnd) {
  // Two messages in one file; the first ends where the second begins.
  const std::string first = Lines({"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "",
                                   "one", "--b", "", "two", "--b--"},
                                  "\n");
  const std::string second = Lines({"Content-Type: multipart/mixed; boundary=\"b\"", "", "--b", "",
                                    "three", "--b", "", "four", "--b--"},
                                   "\n");
  Ref<ImapMessage> head = Message(first + second);
  head->put_EndPosition(static_cast<std::int32_t>(first.size()));
  ImapMessages& head_parts = Parts(*head);
  ASSERT_EQ(head_parts.size(), 2u);
  EXPECT_EQ(TextOf(head_parts.at(1)), "two\r\n");

  Ref<ImapMessage> tail = Message(first + second);
  tail->put_StartPosition(static_cast<std::int32_t>(first.size()));
  ImapMessages& tail_parts = Parts(*tail);
  ASSERT_EQ(tail_parts.size(), 2u);
  EXPECT_EQ(TextOf(tail_parts.at(0)), "three\r\n");
  EXPECT_EQ(TextOf(tail_parts.at(1)), "four\r\n");

  // A file that ends early ends the last part there; it is then the one dropped.
  Ref<ImapMessage> cut = Message(first.substr(0, first.size() - 6));
  cut->put_EndPosition(100000);
  EXPECT_EQ(Parts(*cut).size(), 1u);

  // A negative end splits nothing, and the body after the first delimiter is read as text.
  Ref<ImapMessage> negative = Message(first);
  negative->put_EndPosition(-1);
  EXPECT_EQ(Parts(*negative).size(), 0u);
  EXPECT_EQ(TextOf(negative.get()), "\r\none\r\n\r\ntwo\r\n--b--\r\n");
}

TEST_F(MimePartsTest, RewritingTheMessageDropsItsParts) {
  Ref<ImapMessage> message =
      Message(TwoParts("Content-Type: multipart/mixed; boundary=\"b\"", "\r\n"));
  Ref<ImapMessage> kept(Parts(*message).at(0));
  ASSERT_EQ(message->WriteText(std::string_view("Subject: plain\r\n\r\ntext\r\n")), StatusOk);
  EXPECT_EQ(message->PartsCollection()->size(), 0u);
  EXPECT_EQ(Parts(*message).size(), 0u);
  EXPECT_EQ(TextOf(message.get()), "text\r\n");
  // A part the host still holds stays usable; it never deletes the file it points into.
  kept.Reset();
  EXPECT_TRUE(testing::Exists(path_));
}

}  // namespace
}  // namespace kivimap::store
