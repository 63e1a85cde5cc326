// Real-world-shaped messages from tests/data/corpus: the parts each one splits into, their
// counts and ranges, and the headers and text each level reads. The expected numbers were
// worked out by hand from the files (a line counts its length without line end plus 2).
#include <string>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::W;

std::string CorpusFile(std::string_view name) {
  return std::string(KIVIMAP_TEST_DATA) + "/corpus/" + std::string(name);
}

Ref<ImapMessage> Open(std::string_view name) {
  Ref<ImapMessage> message = ImapMessage::Create();
  message->put_Filename(W(CorpusFile(name)));
  return message;
}

ImapMessages& Parts(ImapMessage& message) {
  message.LoadBody();
  return *message.PartsCollection();
}

std::string TextOf(ImapMessage& message) {
  WideString text;
  EXPECT_EQ(message.get_Text(&text), StatusOk);
  return N(text);
}

std::string ContentType(ImapMessage& message) {
  const ImapMessageHeader* field = message.FindHeader("content-type");
  return field ? std::string(field->value()) : std::string("<none>");
}

struct PartShape {
  std::int32_t start, end;
  bool starts_with_delimiter;
  std::uint32_t size, lines;
};

void ExpectShape(const ImapMessage& part, const PartShape& want) {
  EXPECT_EQ(part.StartPosition(), want.start);
  EXPECT_EQ(part.EndPosition(), want.end);
  EXPECT_EQ(part.StartsWithDelimiter(), want.starts_with_delimiter);
  EXPECT_EQ(part.PartSize(), want.size);
  EXPECT_EQ(part.PartLines(), want.lines);
}

TEST(CorpusTest, AlternativeTextWithTwoAttachmentsCrLf) {
  Ref<ImapMessage> message = Open("alternative_attachments_crlf.eml");
  EXPECT_EQ(message->EndPosition(), 2777);
  EXPECT_EQ(TextOf(*message), "This is a multi-part message in MIME format.\r\n\r\n");
  EXPECT_EQ(message->BodyStart(), 500);
  // The folded Received field keeps its continuation lines.
  const ImapMessageHeader* received = message->FindHeader("Received");
  ASSERT_NE(received, nullptr);
  EXPECT_EQ(received->value(),
            "from mail.example.org (mail.example.org [192.0.2.10])\r\n"
            "\tby mx.example.net (Postfix) with ESMTPS id 4F2A81C0042\r\n"
            "\tfor <bob@example.net>; Tue, 1 Jul 2003 10:52:37 +0200 (CEST)");
  // The header block FETCH sends ends with the line end of the last field.
  const auto block = message->ReadHeaderBlock();
  ASSERT_TRUE(block.has_value());
  EXPECT_EQ(block->size(), 498u);

  ImapMessages& parts = Parts(*message);
  ASSERT_EQ(parts.size(), 3u);
  ExpectShape(*parts.at(0), {574, 1015, false, 441, 21});
  ExpectShape(*parts.at(1), {1015, 2264, true, 1249, 21});
  ExpectShape(*parts.at(2), {2264, 2749, true, 485, 11});
  EXPECT_EQ(ContentType(*parts.at(1)), "application/pdf;\r\n\tname=\"report.pdf\"");
  EXPECT_EQ(ContentType(*parts.at(2)), "image/png;\r\n\tname=\"photo.png\"");
  ASSERT_NE(parts.at(2)->FindHeader("Content-ID"), nullptr);
  EXPECT_EQ(parts.at(2)->DelimiterLine(), std::optional<std::string>("------=_Part_0_1234.5678"));

  ImapMessage& alternative = *parts.at(0);
  EXPECT_EQ(TextOf(alternative), "");
  ImapMessages& inner = Parts(alternative);
  ASSERT_EQ(inner.size(), 2u);
  ExpectShape(*inner.at(0), {654, 815, false, 161, 9});
  ExpectShape(*inner.at(1), {815, 996, true, 181, 6});
  EXPECT_EQ(TextOf(*inner.at(0)),
            "Hi Bob,\r\n\r\nthe report is attached. See you on Thursday=2E\r\n\r\nAnn\r\n");
  EXPECT_EQ(TextOf(*inner.at(1)),
            "<html><body><p>Hi Bob,</p><p>the report is attached.</p></body></html>\r\n");
  // Leaf parts have no parts of their own.
  EXPECT_EQ(Parts(*inner.at(1)).size(), 0u);
}

TEST(CorpusTest, ThreeLevelsOfNestingWithBareLineFeeds) {
  Ref<ImapMessage> message = Open("nested_related_lf.eml");
  ImapMessages& mixed = Parts(*message);
  ASSERT_EQ(mixed.size(), 2u);
  // With bare line feeds the counts (two bytes per line end) exceed the byte range.
  ExpectShape(*mixed.at(0), {221, 795, false, 596, 22});
  ExpectShape(*mixed.at(1), {795, 942, true, 153, 6});
  EXPECT_EQ(TextOf(*mixed.at(1)), "BEGIN:VCALENDAR\r\nEND:VCALENDAR\r\n");

  ImapMessages& related = Parts(*mixed.at(0));
  ASSERT_EQ(related.size(), 2u);
  ExpectShape(*related.at(0), {332, 579, false, 258, 11});
  ExpectShape(*related.at(1), {579, 774, true, 202, 7});
  EXPECT_EQ(ContentType(*related.at(1)), "image/gif");

  ImapMessages& alternative = Parts(*related.at(0));
  ASSERT_EQ(alternative.size(), 2u);
  ExpectShape(*alternative.at(0), {409, 468, false, 62, 3});
  ExpectShape(*alternative.at(1), {468, 562, true, 98, 4});
  EXPECT_EQ(TextOf(*alternative.at(0)), "Plain newsletter.\r\n");
  EXPECT_EQ(TextOf(*alternative.at(1)), "<p>Newsletter <img src=\"cid:logo\"></p>\r\n");
  EXPECT_EQ(alternative.at(1)->BodyStart(), 523);
}

TEST(CorpusTest, EightBitHeaderFieldsAreKeptByteForByte) {
  Ref<ImapMessage> message = Open("headers_8bit_crlf.eml");
  const ImapMessageHeader* to = message->FindHeader("to");
  ImapMessageHeader* subject = message->FindHeader("SUBJECT");
  ASSERT_NE(to, nullptr);
  ASSERT_NE(subject, nullptr);
  EXPECT_EQ(to->value(),
            "Ren\xC3\xA9"
            "e <renee@example.fr>");
  EXPECT_EQ(subject->value(),
            "Gr\xFC\xDF"
            "e aus M\xFC"
            "nchen\r\n\tund noch eine Zeile");
  // UTF-8 arrives as the character it encodes; stray 8-bit bytes survive the round trip.
  WideString wide;
  ASSERT_EQ(message->HeadersCollection()->Find("To")->get_Value(&wide), StatusOk);
  EXPECT_EQ(wide.view().substr(0, 4), u"Ren\u00e9");
  subject->ToString(&wide);
  EXPECT_EQ(N(wide), "Subject: " + std::string(subject->value()));
  EXPECT_EQ(message->BodyStart(), 252);
  EXPECT_EQ(TextOf(*message),
            "Sch\xF6ne Gr\xFC\xDF"
            "e,\r\nJ\xFC"
            "rgen\r\n");
  EXPECT_EQ(Parts(*message).size(), 0u);
}

TEST(CorpusTest, AMessageCutShortLosesItsUnclosedPart) {
  Ref<ImapMessage> message = Open("no_closing_delimiter_crlf.eml");
  ImapMessages& parts = Parts(*message);
  ASSERT_EQ(parts.size(), 1u);
  ExpectShape(*parts.at(0), {99, 139, false, 40, 3});
  EXPECT_EQ(TextOf(*parts.at(0)), "first part\r\n");
}

TEST(CorpusTest, TwoMessagesInOneMboxFile) {
  const std::string file = CorpusFile("two_messages_lf.mbox");
  const std::string content = testing::ReadAll(file);
  const auto first_start = static_cast<std::int32_t>(content.find('\n') + 1);
  const auto separator = static_cast<std::int32_t>(content.find("\nFrom bob") + 1);
  const auto second_start = static_cast<std::int32_t>(content.find('\n', separator) + 1);
  ASSERT_EQ(first_start, 48);
  ASSERT_EQ(separator, 125);
  ASSERT_EQ(second_start, 171);

  Ref<ImapMessages> folder = ImapMessages::Create();
  Ref<ImapMessage> first = folder->AddNew();
  first->put_Filename(W(file));
  first->put_StartPosition(first_start);
  first->put_EndPosition(separator);
  Ref<ImapMessage> second = folder->AddNew();
  second->put_Filename(W(file));
  second->put_StartPosition(second_start);

  std::int32_t size = 0;
  first->get_Size(&size);
  EXPECT_EQ(size, 77);
  EXPECT_EQ(first->FindHeader("subject")->value(), "first");
  EXPECT_EQ(TextOf(*first), "First body line.\r\n>From the archive.\r\n\r\n");
  EXPECT_EQ(Parts(*first).size(), 0u);
  // FETCH BODY[] reads the range itself.
  EXPECT_EQ(first->ReadRange(first_start, static_cast<std::size_t>(size)), content.substr(48, 77));

  EXPECT_EQ(second->FindHeader("Subject")->value(), "second");
  EXPECT_EQ(second->BodyStart(), 260);
  ImapMessages& parts = Parts(*second);
  ASSERT_EQ(parts.size(), 2u);
  ExpectShape(*parts.at(0), {264, 303, false, 42, 3});
  ExpectShape(*parts.at(1), {303, 346, true, 47, 4});
  EXPECT_EQ(TextOf(*parts.at(1)), "<b>second</b>\r\n");
}

}  // namespace
}  // namespace kivimap::store
