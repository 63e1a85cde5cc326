// Real-world-shaped messages from tests/data/corpus: the parts each one splits into, their
// counts and ranges, and the headers and text each level reads. The expected numbers were
// worked out by hand from the files (a line counts its length without line end plus 2). 8-bit
// bytes are written in octal.
#include <string>
#include <tuple>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

Ref<ImapMessage> Open(std::string_view name) {
  return MessageOn(std::string(KIVIMAP_TEST_DATA) + "/corpus/" + std::string(name));
}

// Each part's StartPosition, EndPosition, PartSize and PartLines; all but the first start with a
// delimiter line.
using Shape = std::tuple<std::int32_t, std::int32_t, std::uint32_t, std::uint32_t>;
std::vector<Shape> ShapesOf(ImapMessages& parts) {
  std::vector<Shape> out;
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const ImapMessage& part = *parts.at(i);
    EXPECT_EQ(part.StartsWithDelimiter(), i > 0) << i;
    out.emplace_back(part.StartPosition(), part.EndPosition(), part.PartSize(), part.PartLines());
  }
  return out;
}

TEST(CorpusTest, EveryLevelOfEveryFileSplitsAndReadsAsWorkedOut) {
  const char* kAlternative = "alternative_attachments_crlf.eml";
  const char* kNested = "nested_related_lf.eml";  // counts exceed the ranges: LF is one byte
  const struct {
    const char* file;
    std::vector<std::size_t> path;  // part numbers down from the message
    std::optional<std::string> text;
    std::vector<Shape> parts;
  } cases[] = {{kAlternative,
                {},
                "This is a multi-part message in MIME format.\r\n\r\n",
                {{574, 1015, 441, 21}, {1015, 2264, 1249, 21}, {2264, 2749, 485, 11}}},
               {kAlternative, {0}, "", {{654, 815, 161, 9}, {815, 996, 181, 6}}},
               {kAlternative,
                {0, 0},
                "Hi Bob,\r\n\r\nthe report is attached. See you on Thursday=2E\r\n\r\nAnn\r\n",
                {}},
               {kAlternative,
                {0, 1},
                "<html><body><p>Hi Bob,</p><p>the report is attached.</p></body></html>\r\n",
                {}},
               {kNested, {}, std::nullopt, {{221, 795, 596, 22}, {795, 942, 153, 6}}},
               {kNested, {1}, "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n", {}},
               {kNested, {0}, std::nullopt, {{332, 579, 258, 11}, {579, 774, 202, 7}}},
               {kNested, {0, 0}, std::nullopt, {{409, 468, 62, 3}, {468, 562, 98, 4}}},
               {kNested, {0, 0, 0}, "Plain newsletter.\r\n", {}},
               {kNested, {0, 0, 1}, "<p>Newsletter <img src=\"cid:logo\"></p>\r\n", {}},
               {"headers_8bit_crlf.eml", {}, "Sch\366ne Gr\374\337e,\r\nJ\374rgen\r\n", {}},
               {"no_closing_delimiter_crlf.eml", {}, std::nullopt, {{99, 139, 40, 3}}},
               {"no_closing_delimiter_crlf.eml", {0}, "first part\r\n", {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.file << " part " << ::testing::PrintToString(c.path));
    Ref<ImapMessage> message = Open(c.file);
    ImapMessage* level = message.get();
    for (std::size_t i : c.path) {
      ASSERT_LT(i, PartsOf(*level).size());
      level = PartsOf(*level).at(i);
    }
    if (c.text) {
      EXPECT_EQ(TextOf(level), *c.text);
    }
    EXPECT_EQ(ShapesOf(PartsOf(*level)), c.parts);
  }
}

TEST(CorpusTest, FoldedAnd8BitHeaderFieldsAreKeptByteForByte) {
  Ref<ImapMessage> message = Open("alternative_attachments_crlf.eml");
  ASSERT_NE(message->FindHeader("Received"), nullptr);
  EXPECT_EQ(message->FindHeader("Received")->value(),
            "from mail.example.org (mail.example.org [192.0.2.10])\r\n"
            "\tby mx.example.net (Postfix) with ESMTPS id 4F2A81C0042\r\n"
            "\tfor <bob@example.net>; Tue, 1 Jul 2003 10:52:37 +0200 (CEST)");
  EXPECT_EQ(message->BodyStart(), 500);
  // The header block FETCH sends ends with the line end of the last field.
  EXPECT_EQ(message->ReadHeaderBlock().value_or("").size(), 498u);
  ImapMessage& image = *PartsOf(*message).at(2);
  image.ParseHeaders();
  EXPECT_EQ(image.DelimiterLine(), std::optional<std::string>("------=_Part_0_1234.5678"));

  Ref<ImapMessage> eight_bit = Open("headers_8bit_crlf.eml");
  ImapMessageHeader* to = eight_bit->FindHeader("to");
  ImapMessageHeader* subject = eight_bit->FindHeader("SUBJECT");
  ASSERT_TRUE(to && subject);
  EXPECT_EQ(to->value(), "Ren\303\251e <renee@example.fr>");
  EXPECT_EQ(subject->value(), "Gr\374\337e aus M\374nchen\r\n\tund noch eine Zeile");
  EXPECT_EQ(eight_bit->BodyStart(), 252);
}

TEST(CorpusTest, TwoMessagesInOneMboxFile) {
  const std::string file = std::string(KIVIMAP_TEST_DATA) + "/corpus/two_messages_lf.mbox";
  // The From_ lines end at 48 and at 171; the second one starts at 125.
  Ref<ImapMessage> first = MessageOn(file), second = MessageOn(file);
  first->put_StartPosition(48);
  first->put_EndPosition(125);
  second->put_StartPosition(171);

  EXPECT_EQ(first->FindHeader("subject")->value(), "first");
  EXPECT_EQ(TextOf(first.get()), "First body line.\r\n>From the archive.\r\n\r\n");
  EXPECT_EQ(first->ReadRange(48, 77),  // what FETCH BODY[] sends
            "From: alice@example.com\nSubject: first\n\nFirst body line.\n>From the archive.\n\n");

  EXPECT_EQ(second->FindHeader("Subject")->value(), "second");
  EXPECT_EQ(second->BodyStart(), 260);
  EXPECT_EQ(ShapesOf(PartsOf(*second)), (std::vector<Shape>{{264, 303, 42, 3}, {303, 346, 47, 4}}));
  EXPECT_EQ(TextOf(PartsOf(*second).at(1)), "<b>second</b>\r\n");
}

}  // namespace
}  // namespace kivimap::store::testing
