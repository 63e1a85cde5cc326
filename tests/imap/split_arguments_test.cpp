#include "imap/split_arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kivimap::imap {
namespace {

std::vector<std::string> Split(std::string text, int max_count) {
  std::size_t offsets[64];
  const int n = SplitArguments(text.data(), offsets, max_count);
  std::vector<std::string> out;
  for (int i = 0; i < n; ++i) out.emplace_back(text.c_str() + offsets[i]);
  return out;
}

TEST(SplitArgumentsTest, Table) {
  const struct {
    const char* text;
    int max_count;
    std::vector<std::string> expected;
  } cases[] = {
      {"joe secret", 2, {"joe", "secret"}},
      {"joe  secret", 2, {"joe", "secret"}},
      {"  joe   secret  ", 5, {"joe", "secret"}},
      {"", 2, {}},
      {"   ", 2, {}},
      // Quotes: removed, blanks kept, an empty pair is an argument.
      {"\"my folder\" (\\Seen \\Draft) x", 3, {"my folder", "(\\Seen \\Draft)", "x"}},
      {"\"\" \"*\"", 2, {"", "*"}},
      {"\"a b\"\"c d\"", 2, {"a b", "c d"}},
      // An opening quote restarts the argument; what came before it in the argument is gone.
      {"ab\"cd\" e", 2, {"cd", "e"}},
      // Nothing is counted of an argument still open at the end.
      {"\"never closed", 2, {}},
      {"one \"never closed", 2, {"one"}},
      {"(\\Seen", 2, {}},
      {"a [b c", 2, {"a"}},
      // Parentheses and brackets nest and keep their blanks.
      {"BODY[HEADER.FIELDS (DATE FROM)] UID", 2, {"BODY[HEADER.FIELDS (DATE FROM)]", "UID"}},
      {"(a (b c) d) e", 2, {"(a (b c) d)", "e"}},
      {"[a] b", 2, {"[a]", "b"}},
      // A bracket inside parentheses (and the reverse) does not count.
      {"(a [b) c", 2, {"(a [b)", "c"}},
      {"[a (b] c", 2, {"[a (b]", "c"}},
      // A closing mark without an opening one is ordinary text.
      {"a) b] c", 3, {"a)", "b]", "c"}},
      // Literal markers are ordinary text.
      {"{5} x", 2, {"{5}", "x"}},
      // No escape character: the backslash stays and the quote still closes.
      {"\"a\\\" b", 2, {"a\\", "b"}},
      // A quote inside parentheses toggles quoting too.
      {"(\"a b\") c", 3, {"a b", ")", "c"}},
      // Nothing after the maximum is looked at.
      {"a b c d", 2, {"a", "b"}},
      {"a \"unclosed", 1, {"a"}},
      {"a b", 0, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Split(c.text, c.max_count), c.expected) << "text: " << c.text;
  }
}

TEST(SplitArgumentsTest, WritesIntoTheTextAndStopsAtTheMaximum) {
  std::string text = "a b c";
  std::size_t offsets[2];
  ASSERT_EQ(SplitArguments(text.data(), offsets, 2), 2);
  EXPECT_EQ(text, std::string("a\0b\0c", 5)) << "the text after the last argument is untouched";
  EXPECT_EQ(offsets[0], 0u);
  EXPECT_EQ(offsets[1], 2u);
}

}  // namespace
}  // namespace kivimap::imap
