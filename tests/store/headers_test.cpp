// Header fields: the parser's line rules, BodyStart, lookups and the text forms.
#include <string>
#include <utility>
#include <vector>

#include "store_test_support.h"

namespace kivimap::store::testing {
namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

ImapMessageHeaders& Parse(ImapMessage& message) {
  message.ParseHeaders();
  EXPECT_NE(message.HeadersCollection(), nullptr);
  return *message.HeadersCollection();
}

TEST(HeadersTest, EachLineIsAFieldSplitAtTheFirstColonAndSpaceAndOnlyATabContinues) {
  TempDir dir;
  const std::string long_value(20000, 'v');
  const struct {
    std::string content;
    Fields fields;
    std::int32_t body_start;
  } cases[] = {
      {"NoSpace:value\r\nTwo:  spaces\r\nSubject: a: b\r\n\r\n",
       {{"Two", " spaces"}, {"Subject", "a: b"}},
       46},
      {"Spaced : name\r\n Lead: space\r\ngarbage line\r\n: nameless\r\n\r\n",
       {{"Spaced ", "name"}, {" Lead", "space"}, {"", "nameless"}},
       57},
      {"Received: from a\r\n\tby b\r\n\t  with c\r\n spaced: line\r\n not a field\r\n\r\n",
       {{"Received", "from a\r\n\tby b\r\n\t  with c"}, {" spaced", "line"}},
       67},
      // A tab line before the first field ends the header, even after ignored lines.
      {"\tcontinued\r\nSubject: x\r\n\r\nbody\r\n", {}, 0},
      {"junk\r\n\tcontinued\r\nSubject: x\r\n\r\n", {}, 0},
      {"A: 1\nB: 2\n\nbody\n", {{"A", "1"}, {"B", "2"}}, 11},
      {"A: 1\r\nB: 2\r\n\r\nbody\r\n", {{"A", "1"}, {"B", "2"}}, 14},
      {"A: 1\r\nB: 2\r\nC: 3", {{"A", "1"}, {"B", "2"}, {"C", "3"}}, 16},  // no empty line
      // A 16383-byte piece is one line; the rest of the line has no ": " and makes no field.
      {"Long: " + long_value + "\r\nNext: b: c\r\n\r\nbody\r\n",
       {{"Long", long_value.substr(0, 16383 - 6)}, {"Next", "b: c"}},
       6 + 20000 + 2 + 12 + 2}};
  for (const auto& c : cases) {
    Ref<ImapMessage> message = MessageOn(dir.Write("m", c.content));
    ImapMessageHeaders& headers = Parse(*message);
    Fields got;
    for (std::size_t i = 0; i < headers.size(); ++i) {
      got.emplace_back(headers.at(i)->name(), headers.at(i)->value());
    }
    EXPECT_EQ(got, c.fields) << c.content.substr(0, 40);
    EXPECT_EQ(message->BodyStart(), c.body_start) << c.content.substr(0, 40);
  }
}

TEST(HeadersTest, ItemTakesANameInAnyCaseOrAConvertedIndexAndTextFormsKeepLongFieldsWhole) {
  TempDir dir;
  std::string field = "References: <first@x>";  // folded, longer than 16383 bytes
  for (int i = 0; i < 1000; ++i) field += "\r\n\t<message-" + std::to_string(i) + "@example.org>";
  Ref<ImapMessage> message =
      MessageOn(dir.Write("m", "X-A: first\r\nx-a: second\r\n" + field + "\r\n: empty\r\n\r\n"));
  ImapMessageHeaders& h = Parse(*message);
  auto item = [&](const Variant& id, Status want = StatusOk) {
    Ref<IImapMessageHeader> found;
    EXPECT_EQ(h.get_Item(id, &found), want);
    return ImapMessageHeader::FromInterface(found.get());
  };
  EXPECT_EQ(item(W("x-A")), h.at(0));  // the first of two
  EXPECT_EQ(item(W("REFERENCES")), h.at(2));
  EXPECT_EQ(item(W("")), h.at(3));
  EXPECT_EQ(item(Variant()), h.at(0));  // Empty is index 0
  EXPECT_EQ(item(1.4), h.at(1));        // reals are rounded
  for (const Variant& refused : {Variant(W("missing")), Variant(std::int16_t{-1}),
                                 Variant(std::int32_t{4}), Variant(70000), Variant::Null()}) {
    EXPECT_EQ(item(refused, StatusInvalidArg), nullptr);
  }
  WideString text;
  ASSERT_EQ(h.at(2)->ToString(&text), StatusOk);
  EXPECT_EQ(N(text), field);
  ASSERT_EQ(h.ToString(&text), StatusOk);
  EXPECT_EQ(N(text), "X-A: first\r\nx-a: second\r\n" + field + "\r\n: empty\r\n");
  Ref<ImapMessage> none = MessageOn(dir.Write("none", "\r\nbody"));
  ASSERT_EQ(Parse(*none).ToString(&text), StatusOk);
  EXPECT_TRUE(!text.IsNull() && text.empty());
}

}  // namespace
}  // namespace kivimap::store::testing
