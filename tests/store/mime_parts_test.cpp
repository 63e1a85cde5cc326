// The multipart split: where the delimiter comes from, how the body is cut into parts, their
// counts, and the parts' own headers, text and nested parts.
#include <string>
#include <tuple>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

// Lines joined with the given line end.
std::string Lines(std::initializer_list<std::string_view> lines, std::string_view eol = "\r\n") {
  std::string out;
  for (std::string_view line : lines) out.append(line).append(eol);
  return out;
}

const char kQuoted[] = "Content-Type: multipart/mixed; boundary=\"b\"";

// A preamble, two parts and, when closing, the closing delimiter and an epilogue.
std::string TwoParts(std::string_view content_type, bool closing = true) {
  return Lines({content_type, "", "preamble", "--b", "Content-Type: text/plain", "", "one", "--b",
                "", "two"}) +
         (closing ? Lines({"--b--", "epilogue"}) : "");
}

// Each part's PartSize and PartLines (a line end counts as two bytes), Text and DelimiterLine;
// all but the first start with a delimiter line.
using Part = std::tuple<std::uint32_t, std::uint32_t, std::string, std::optional<std::string>>;
const Part kOne{26 + 2 + 5, 3, "one\r\n", std::nullopt}, kTwo{5 + 2 + 5, 3, "two\r\n", "--b"};

void ExpectParts(ImapMessage& message, const std::vector<Part>& want) {
  ImapMessages& parts = PartsOf(message);
  std::vector<Part> got;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    ImapMessage& part = *parts.at(i);
    EXPECT_EQ(part.StartsWithDelimiter(), i > 0) << i;
    const std::string text = TextOf(&part);  // reads the part's header, and its delimiter line
    got.emplace_back(part.PartSize(), part.PartLines(), text, part.DelimiterLine());
  }
  EXPECT_EQ(got, want);
}

TEST(MimePartsTest, TheBoundaryOfAMultipartContentTypeSplitsQuotedOrBare) {
  TempDir dir;
  for (const char* type :
       {kQuoted, "CONTENT-TYPE: MULTIPART/MIXED; BOUNDARY=\"b\"",  // names in any case
        "Content-Type: multipart/mixed;\r\n\tboundary=\"b\"",      // on a continuation line
        "Content-Type: multipart/mixed; boundary=b",               // a bare token
        "Content-Type: multipart/mixed; boundary=b; charset=x",
        "Content-Type: multipart/mixed; boundary=\"\"\r\nContent-type: multipart/mixed; "
        "boundary=\"b\""}) {  // a second Content-Type when the first gives none
    Ref<ImapMessage> message = MessageOn(dir.Write("m", TwoParts(type)));
    EXPECT_EQ(TextOf(message.get()), "preamble\r\n") << type;
    ExpectParts(*message, {kOne, kTwo});
  }
  for (const char* type :
       {"Content-Type: multipart/mixed; boundary=\"B\"", "Content-Type: multipart/mixed; boundary=B",
        "Content-Type: text/plain; boundary=\"b\"", "Content-Type: multipart/mixed; boundary=",
        "Content-Type: multipart/mixed; boundary=\"\"",
        "Content-Type: multipart/mixed; boundary=\"b", "X-Type: multipart/mixed; boundary=\"b\""}) {
    const std::string content = TwoParts(type);
    Ref<ImapMessage> message = MessageOn(dir.Write("m", content));
    EXPECT_EQ(TextOf(message.get()), content.substr(content.find("preamble"))) << type;
    EXPECT_EQ(PartsOf(*message).size(), 0u) << type;
  }
  // A boundary longer than 1021 bytes is not used.
  for (std::size_t length : {1021, 1022}) {
    const std::string d = "--" + std::string(length, 'q');
    Ref<ImapMessage> message = MessageOn(
        dir.Write("m", Lines({"Content-Type: multipart/mixed; boundary=\"" + d.substr(2) + "\"", "",
                              d, "", "one", d, "", "two", d + "--"})));
    EXPECT_EQ(PartsOf(*message).size(), length == 1021 ? 2u : 0u) << length;
  }
}

TEST(MimePartsTest, TheLastPartIsDroppedAndLaterDelimitersMatchByPrefix) {
  TempDir dir;
  Ref<ImapMessage> unclosed = MessageOn(dir.Write("unclosed", TwoParts(kQuoted, false)));
  ExpectParts(*unclosed, {kOne});
  // "--b  " does not start the split, but inside it starts a part of its own.
  Ref<ImapMessage> prefix = MessageOn(dir.Write(
      "prefix",
      Lines({kQuoted, "", "--b  ", "pre", "--b", "", "one", "--b  ", "", "two", "--b--"})));
  EXPECT_EQ(TextOf(prefix.get()), "--b  \r\npre\r\n");
  ExpectParts(*prefix, {{7, 2, "one\r\n", std::nullopt}, {14, 3, "two\r\n", "--b  "}});
  WideString body;  // a part's Body is the whole file
  PartsOf(*prefix).at(1)->get_Body(&body);
  EXPECT_EQ(N(body), ReadAll(N(prefix->Filename())));
}

TEST(MimePartsTest, NestedPartsAreSplitOnDemandAndOnlyOnce) {
  TempDir dir;
  Ref<ImapMessage> message = MessageOn(
      dir.Write("m", Lines({"Content-Type: multipart/mixed; boundary=\"outer\"", "", "--outer",
                            "Content-Type: multipart/alternative;", "\tboundary=\"inner\"", "",
                            "--inner", "", "plain", "--inner", "", "<p>html</p>", "--inner--",
                            "--outer", "", "AAAA", "--outer--"})));
  ImapMessages& outer = PartsOf(*message);
  ASSERT_EQ(outer.size(), 2u);
  ImapMessage* alternative = outer.at(0);
  EXPECT_FALSE(alternative->BodyLoaded());
  EXPECT_EQ(alternative->PartsCollection()->size(), 0u);
  ExpectParts(*alternative,
              {{9, 2, "plain\r\n", std::nullopt}, {24, 3, "<p>html</p>\r\n", "--inner"}});
  // Asking again splits nothing a second time, at either level.
  EXPECT_EQ(&PartsOf(*message), &outer);
  EXPECT_EQ(outer.size(), 2u);
  EXPECT_EQ(outer.at(0), alternative);
  EXPECT_EQ(PartsOf(*alternative).size(), 2u);
}

TEST(MimePartsTest, TheSplitStopsAtTheMessagesEnd) {
  TempDir dir;
  // Two messages in one file; the first ends where the second begins.
  const std::string head = Lines({kQuoted, "", "--b", "", "one", "--b", "", "two", "--b--"}, "\n");
  Ref<ImapMessage> first = MessageOn(dir.Write("m", head + head));
  first->put_EndPosition(static_cast<std::int32_t>(head.size()));
  ExpectParts(*first, {{7, 2, "one\r\n", std::nullopt}, {12, 3, "two\r\n", "--b"}});
  // A negative end splits nothing, and the body after the first delimiter is read as text.
  Ref<ImapMessage> negative = MessageOn(dir.Write("negative", head));
  negative->put_EndPosition(-1);
  EXPECT_EQ(PartsOf(*negative).size(), 0u);
  EXPECT_EQ(TextOf(negative.get()), "\r\none\r\n\r\ntwo\r\n--b--\r\n");
}

TEST(MimePartsTest, RewritingTheMessageDropsWhatWasReadFromIt) {
  TempDir dir;
  const std::string file = dir.Write("m", TwoParts(kQuoted));
  Ref<ImapMessage> message = MessageOn(file);
  Ref<ImapMessage> kept(PartsOf(*message).at(0));
  ASSERT_EQ(message->WriteText(std::string_view("Subject: plain\r\n\r\nfirst\r\n")), StatusOk);
  EXPECT_EQ(message->HeadersCollection(), nullptr);
  EXPECT_EQ(PartsOf(*message).size(), 0u);
  EXPECT_EQ(TextOf(message.get()), "first\r\n");
  ASSERT_EQ(message->AppendData("more\r\n", 6), StatusOk);
  EXPECT_EQ(TextOf(message.get()), "first\r\nmore\r\n");
  // A part the host still holds stays usable, its range now beyond the rewritten file's end; it
  // never deletes the file it points into.
  EXPECT_EQ(TextOf(kept.get()), "");
  kept.Reset();
  EXPECT_TRUE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace kivimap::store::testing
