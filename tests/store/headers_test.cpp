// Header fields: the parser's line rules, BodyStart, lookups and the text forms.
#include <string>

#include "store/messages.h"
#include "store_test_support.h"

namespace kivimap::store {
namespace {

using testing::N;
using testing::TempDir;
using testing::W;

class HeadersTest : public ::testing::Test {
 protected:
  // The parsed fields of a message whose file holds content.
  ImapMessageHeaders& Parse(const std::string& content) {
    message_ = ImapMessage::Create();
    message_->put_Filename(W(dir_.Write(std::to_string(files_++) + ".eml", content)));
    message_->ParseHeaders();
    EXPECT_NE(message_->HeadersCollection(), nullptr);
    return *message_->HeadersCollection();
  }

  static std::string Name(const ImapMessageHeaders& h, std::size_t i) {
    return std::string(h.at(i)->name());
  }
  static std::string Value(const ImapMessageHeaders& h, std::size_t i) {
    return std::string(h.at(i)->value());
  }

  TempDir dir_;
  int files_ = 0;
  Ref<ImapMessage> message_;
};

TEST_F(HeadersTest, FieldsSplitAtTheFirstColonAndSpaceOnly) {
  ImapMessageHeaders& h = Parse(
      "NoSpace:value\r\n"
      "Two:  spaces\r\n"
      "Subject: a: b\r\n"
      "Spaced : name\r\n"
      " Lead: space\r\n"
      "garbage line\r\n"
      ": nameless\r\n"
      "\r\n");
  ASSERT_EQ(h.size(), 5u);
  EXPECT_EQ(Name(h, 0), "Two");
  EXPECT_EQ(Value(h, 0), " spaces");
  EXPECT_EQ(Name(h, 1), "Subject");
  EXPECT_EQ(Value(h, 1), "a: b");
  EXPECT_EQ(Name(h, 2), "Spaced ");
  EXPECT_EQ(Name(h, 3), " Lead");
  EXPECT_EQ(Name(h, 4), "");
  EXPECT_EQ(Value(h, 4), "nameless");
}

TEST_F(HeadersTest, OnlyATabContinuesAField) {
  ImapMessageHeaders& h = Parse(
      "Received: from a\r\n"
      "\tby b\r\n"
      "\t  with c\r\n"
      " spaced: line\r\n"
      " not a field\r\n"
      "\r\n");
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(Value(h, 0), "from a\r\n\tby b\r\n\t  with c");
  EXPECT_EQ(Name(h, 1), " spaced");
}

TEST_F(HeadersTest, ATabLineBeforeTheFirstFieldEndsParsing) {
  ImapMessageHeaders& h = Parse("\tcontinued\r\nSubject: x\r\n\r\nbody\r\n");
  EXPECT_EQ(h.size(), 0u);
  EXPECT_EQ(message_->BodyStart(), 0);
  // Ignored lines before it do not count as a field either.
  ImapMessageHeaders& h2 = Parse("junk\r\n\tcontinued\r\nSubject: x\r\n\r\n");
  EXPECT_EQ(h2.size(), 0u);
}

TEST_F(HeadersTest, BodyStartCountsTheRealLineEnds) {
  Parse("A: 1\nB: 2\n\nbody\n");
  EXPECT_EQ(message_->BodyStart(), 11);
  Parse("A: 1\r\nB: 2\r\n\r\nbody\r\n");
  EXPECT_EQ(message_->BodyStart(), 14);
  // Without an empty line every field is read and the body starts at the end of the file.
  ImapMessageHeaders& h = Parse("A: 1\r\nB: 2\r\nC: 3");
  EXPECT_EQ(h.size(), 3u);
  EXPECT_EQ(message_->BodyStart(), 16);
}

TEST_F(HeadersTest, ALineLongerThanAPieceIsReadAsSeveralLines) {
  const std::string value(20000, 'v');
  ImapMessageHeaders& h = Parse("Long: " + value + "\r\nNext: b: c\r\n\r\nbody\r\n");
  // The first piece holds 16383 bytes; the rest of the line has no ": " and makes no field.
  ASSERT_EQ(h.size(), 2u);
  EXPECT_EQ(h.at(0)->value().size(), 16383u - 6u);
  EXPECT_EQ(Name(h, 1), "Next");
  EXPECT_EQ(message_->BodyStart(), static_cast<std::int32_t>(6 + 20000 + 2 + 12 + 2));
}

TEST_F(HeadersTest, LookupsIgnoreCaseAndTakeTheFirstMatch) {
  ImapMessageHeaders& h =
      Parse("Content-Type: text/plain\r\nX-A: first\r\nx-a: second\r\n: empty\r\n\r\n");
  Ref<IImapMessageHeader> found;
  ASSERT_EQ(h.get_Item(Variant(W("content-type")), &found), StatusOk);
  EXPECT_EQ(found.get(), h.at(0));
  ASSERT_EQ(h.get_Item(Variant(W("X-A")), &found), StatusOk);
  EXPECT_EQ(found.get(), h.at(1));
  EXPECT_EQ(h.Find("x-A"), h.at(1));
  WideString empty = W("");
  ASSERT_EQ(h.get_Item(Variant::ByRef(&empty), &found), StatusOk);
  EXPECT_EQ(found.get(), h.at(3));
  EXPECT_EQ(h.get_Item(Variant(W("missing")), &found), StatusInvalidArg);

  // Anything else is an index: Empty is 0, reals are rounded, out of range is refused.
  ASSERT_EQ(h.get_Item(Variant(), &found), StatusOk);
  EXPECT_EQ(found.get(), h.at(0));
  ASSERT_EQ(h.get_Item(Variant(1.4), &found), StatusOk);
  EXPECT_EQ(found.get(), h.at(1));
  EXPECT_EQ(h.get_Item(Variant(std::int16_t{-1}), &found), StatusInvalidArg);
  EXPECT_EQ(h.get_Item(Variant(std::int32_t{4}), &found), StatusInvalidArg);
  EXPECT_EQ(h.get_Item(Variant(std::int32_t{70000}), &found), StatusInvalidArg);
  EXPECT_EQ(h.get_Item(Variant::Null(), &found), StatusInvalidArg);
  EXPECT_EQ(h.get_Item(Variant(std::int16_t{0}), nullptr), StatusOk);
  std::int16_t count = 0;
  h.get_Count(&count);
  EXPECT_EQ(count, 4);
}

TEST_F(HeadersTest, TextFormsJoinNameAndValue) {
  ImapMessageHeaders& h = Parse("A: 1\r\nB: 2\r\n\r\n");
  WideString text;
  ASSERT_EQ(h.ToString(&text), StatusOk);
  EXPECT_EQ(N(text), "A: 1\r\nB: 2\r\n");
  ASSERT_EQ(h.at(1)->ToString(&text), StatusOk);
  EXPECT_EQ(N(text), "B: 2");
  WideString name, value;
  h.at(0)->get_Name(&name);
  h.at(0)->get_Value(&value);
  EXPECT_EQ(N(name), "A");
  EXPECT_EQ(N(value), "1");

  ImapMessageHeaders& none = Parse("\r\nbody");
  ASSERT_EQ(none.ToString(&text), StatusOk);
  EXPECT_FALSE(text.IsNull());
  EXPECT_TRUE(text.empty());
}

TEST_F(HeadersTest, AVeryLongFoldedFieldComesBackWhole) {
  std::string content = "References: <first@x>";
  std::string expected = "References: <first@x>";
  for (int i = 0; i < 1000; ++i) {
    const std::string line = "\t<message-" + std::to_string(i) + "@example.org>";
    content += "\r\n" + line;
    expected += "\r\n" + line;
  }
  content += "\r\n\r\n";
  ImapMessageHeaders& h = Parse(content);
  ASSERT_EQ(h.size(), 1u);
  ASSERT_GT(expected.size(), 16383u);
  WideString text;
  ASSERT_EQ(h.at(0)->ToString(&text), StatusOk);
  EXPECT_EQ(N(text), expected);
}

TEST_F(HeadersTest, EightBitFieldsSurviveByteForByte) {
  const std::string subject = "caf\xC3\xA9 \xE9t\xE9 \xFF";  // UTF-8 and Latin-1 mixed
  ImapMessageHeaders& h = Parse("Subject: " + subject + "\r\n\r\n");
  ASSERT_EQ(h.size(), 1u);
  EXPECT_EQ(h.at(0)->value(), subject);
  WideString value;
  h.at(0)->get_Value(&value);
  EXPECT_EQ(N(value), subject);
  EXPECT_EQ(value.view().substr(0, 4), u"caf\u00e9");
}

TEST(HostCreatedHeadersTest, StayEmpty) {
  Ref<IImapMessageHeader> header;
  ASSERT_EQ(CreateImapMessageHeader(&header), StatusOk);
  WideString name;
  header->get_Name(&name);
  EXPECT_TRUE(name.IsNull());
  WideString text;
  header->ToString(&text);
  EXPECT_EQ(N(text), ": ");

  Ref<IImapMessageHeaders> headers;
  ASSERT_EQ(CreateImapMessageHeaders(&headers), StatusOk);
  std::int16_t count = -1;
  headers->get_Count(&count);
  EXPECT_EQ(count, 0);
  Ref<IImapMessageHeader> found;
  EXPECT_EQ(headers->get_Item(Variant(), &found), StatusInvalidArg);
}

}  // namespace
}  // namespace kivimap::store
