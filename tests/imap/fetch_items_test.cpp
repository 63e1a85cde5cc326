#include "imap/fetch_items.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imap/section_target.h"

namespace kivimap::imap {
namespace {

using Items = std::vector<std::string>;

const Items kAll = {"FLAGS", "INTERNALDATE", "RFC822.SIZE", "ENVELOPE"};
const Items kFast = {"FLAGS", "INTERNALDATE", "RFC822.SIZE"};
const Items kFull = {"FLAGS", "INTERNALDATE", "RFC822.SIZE", "ENVELOPE", "BODY"};

TEST(ParseFetchItemsTest, Table) {
  const struct {
    std::string_view text;
    Items expected;
  } cases[] = {
      {"(ALL)", kAll},
      {"(FAST)", kFast},
      {"(FULL)", kFull},
      {"ALL", kAll},
      {"fast", kFast},
      {"Full", kFull},
      {"(all)", {"all"}},
      {"(ALL FLAGS)", {"ALL", "FLAGS"}},
      {"(FLAGS", {}},
      {"((FLAGS UID))", {"FLAGS", "UID)"}},
      {"FLAGS UID)", {"FLAGS", "UID)"}},
      {"(FLAGS)x", {"FLAGS"}},
      {"()", {}},
      {"", {}},
      {"(BODY.PEEK[HEADER.FIELDS (DATE FROM)] BODY[]<0.10>)",
       {"BODY.PEEK[HEADER.FIELDS (DATE FROM)]", "BODY[]<0.10>"}},
      {std::string_view("(FLAGS)\0UID)", 12), {"FLAGS"}},
  };
  for (const auto& c : cases) EXPECT_EQ(ParseFetchItems(c.text), c.expected) << c.text;
}

TEST(ParseFetchItemsTest, LongTextIsReadWholeUpToTheItemLimit) {
  std::string names;
  while (names.size() < 9000) names.append("X-FIELD-" + std::to_string(names.size()) + " ");
  names.pop_back();
  const std::string item = "BODY.PEEK[HEADER.FIELDS (" + names + ")]";
  std::string text = "(" + item;
  for (int i = 2; i <= 51; ++i) text.append(" I" + std::to_string(i));
  const Items items = ParseFetchItems(text + ")");
  ASSERT_EQ(items.size(), 50u);
  EXPECT_EQ(items.front(), item);
  EXPECT_EQ(items.back(), "I50");
}

TEST(ParseBodySectionTest, Table) {
  constexpr std::uint32_t kNoLimit = 0xFFFFFFFF;
  const struct {
    std::string_view rest;
    Items parts;
    bool partial;
    std::uint32_t start;
    std::uint32_t length;
    bool well_formed;
  } cases[] = {
      {"]", {}, false, 0, kNoLimit, true},
      {"]<0.2048>", {}, true, 0, 2048, true},
      {"HEADER.FIELDS (DATE FROM)]", {"HEADER.FIELDS", "(DATE FROM)"}, false, 0, kNoLimit, true},
      // No closing bracket: the first character stands in for it.
      {"HEADER", {}, false, 0, kNoLimit, false},
      {"", {}, false, 0, kNoLimit, false},
      // The last "]" closes, so one inside the section stays in it.
      {"A]B]", {"A]B"}, false, 0, kNoLimit, true},
      // Partial ranges are read forgivingly but only the strict form is well formed.
      {"]<7>", {}, true, 0, kNoLimit, false},
      {"]<4294967297.x>", {}, true, 1, 0, false},
      {"]<0.10", {}, false, 0, kNoLimit, false},
      {"]<0.10>x", {}, true, 0, 10, false},
  };
  for (const auto& c : cases) {
    const BodySection s = ParseBodySection(c.rest);
    EXPECT_EQ(s.parts, c.parts) << c.rest;
    EXPECT_EQ(s.partial, c.partial) << c.rest;
    EXPECT_EQ(s.start, c.start) << c.rest;
    EXPECT_EQ(s.length, c.length) << c.rest;
    EXPECT_EQ(s.well_formed, c.well_formed) << c.rest;
  }
}

TEST(ClassifySectionTest, Table) {
  using K = SectionKind;
  const struct {
    std::string_view rest;  // the item text after "BODY["
    K kind;
    std::vector<std::uint32_t> path;
    Items names;
    std::string_view text;
  } cases[] = {
      {"]", K::Whole, {}, {}, ""},
      {"HEADER]", K::Header, {}, {}, "HEADER"},
      {"HEADER.FIELDS (A B)]", K::HeaderFields, {}, {"A", "B"}, "HEADER.FIELDS (A B)"},
      {"header.fields  (Date  From)]",
       K::HeaderFields,
       {},
       {"Date", "From"},
       "HEADER.FIELDS (Date From)"},
      {"HEADER.FIELDS.NOT (X-A)]", K::HeaderFieldsNot, {}, {"X-A"}, "HEADER.FIELDS.NOT (X-A)"},
      {"TEXT]", K::Text, {}, {}, "TEXT"},
      {"1]", K::Whole, {1}, {}, "1"},
      {"1.2]", K::Whole, {1, 2}, {}, "1.2"},
      {"1.MIME]", K::Mime, {1}, {}, "1.MIME"},
      {"1.2.mime]", K::Mime, {1, 2}, {}, "1.2.MIME"},
      {"2.HEADER]", K::Header, {2}, {}, "2.HEADER"},
      {"3.HEADER.FIELDS (To)]", K::HeaderFields, {3}, {"To"}, "3.HEADER.FIELDS (To)"},
      {"4294967295.TEXT]", K::Text, {4294967295u}, {}, "4294967295.TEXT"},
  };
  for (const auto& c : cases) {
    const SectionTarget target = ClassifySection(ParseBodySection(c.rest));
    EXPECT_EQ(target.kind, c.kind) << c.rest;
    EXPECT_EQ(target.part_path, c.path) << c.rest;
    EXPECT_EQ(target.field_names, c.names) << c.rest;
    EXPECT_EQ(target.text, c.text) << c.rest;
  }
}

TEST(ClassifySectionTest, GarbageIsInvalid) {
  // clang-format off
  const std::string_view garbage[] = {
      "MIME]", "FOO]", "1.FOO]", "\"\"]",                                     // keywords
      "0]", "01]", "4294967296]", "1.]", ".1]", "1..2]", "1x]",               // part numbers
      "HEADER.FIELDS]", "HEADER.FIELDS ()]", "HEADER.FIELDS (A:B)]",          // field lists
      "HEADER.FIELDS A]", "HEADER.FIELDS (A (B))]", "HEADER.FIELDS (A)x]",
      "HEADER TEXT]", "TEXT (A)]", "1 2]",                                    // extra parts
      "HEADER", "", "]<abc>", "]x", "HEADER]<1>"};                            // after the section
  // clang-format on
  for (const std::string_view rest : garbage) {
    EXPECT_EQ(ClassifySection(ParseBodySection(rest)).kind, SectionKind::Invalid) << rest;
  }
}

}  // namespace
}  // namespace kivimap::imap
