#include "imap/mailbox_names.h"

#include <gtest/gtest.h>

#include <string>

namespace kivimap::imap {
namespace {

TEST(MatchMailboxPatternTest, Table) {
  const struct {
    const char* text;
    const char* pattern;
    bool matches;
  } cases[] = {
      {"work", "*", true},
      {"work/projects/q1", "*", true},
      {"work", "%", true},
      {"work/projects", "%", false},
      {"work/projects", "work/%", true},
      {"work/projects/q1", "work/%", false},
      {"work/projects/q1", "work/*", true},
      {"work", "work/*", false},
      {"work", "work", true},
      {"work", "wor", false},
      {"wor", "work", false},
      {"", "", true},
      {"", "*", true},
      {"", "%", true},
      {"a", "", false},
      // Runs of wildcards count as one; "*" in a run crosses levels.
      {"a/b", "**", true},
      {"a/b", "%%", false},
      {"a/b", "%*", true},
      {"a/b", "*%", true},
      // A wildcard backs off for what follows it, also within one level.
      {"inbox", "%box", true},
      {"inbox", "*box", true},
      {"in/box", "%box", false},
      {"in/box", "%/%", true},
      {"a/b/c", "%/%", false},
      {"abcabc", "*abc", true},
      {"work/projects", "*/projects", true},
      {"x/y/z", "*/%", true},
      // "?" is one character, "/" included.
      {"ab", "a?", true},
      {"a/", "a?", true},
      {"a", "a?", false},
      // A backslash makes the next character literal; a trailing one stands for itself.
      {"a*", "a\\*", true},
      {"ab", "a\\*", false},
      {"a?", "a\\?", true},
      {"ax", "a\\?", false},
      {"a\\", "a\\", true},
      {"a\\b", "a\\\\b", true},
      // Bytes compare as they are: callers lower-case both sides.
      {"Work", "work", false},
      {"caf\xc3\xa9", "caf?", false},
      {"caf\xc3\xa9", "caf??", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MatchMailboxPattern(c.text, c.pattern), c.matches)
        << "text \"" << c.text << "\" pattern \"" << c.pattern << "\"";
  }
}

TEST(MatchMailboxPatternTest, LongTextAndManyWildcardsStayLinearPerToken) {
  const std::string text(20000, 'a');
  EXPECT_FALSE(MatchMailboxPattern(text, std::string(50, '%') + "*a*a*a*a*b"));
  EXPECT_TRUE(MatchMailboxPattern(text + "/b", "*a%a*/?"));
  EXPECT_FALSE(MatchMailboxPattern(text + "/b", "%b"));
}

TEST(QuoteMailboxNameTest, Table) {
  using namespace std::string_literals;
  const struct {
    std::string name;
    std::string quoted;
  } cases[] = {
      {"Work/Projects", "\"Work/Projects\""},   {"", "\"\""},
      {"my folder", "\"my folder\""},           {"say \"hi\"", "\"say \\\"hi\\\"\""},
      {"back\\slash", "\"back\\\\slash\""},     {"caf\xc3\xa9 %*", "\"caf\xc3\xa9 %*\""},
      {"two\r\nlines", "{10}\r\ntwo\r\nlines"}, {"lf\n", "{3}\r\nlf\n"},
      {"nul\0x\"\\"s, "{7}\r\nnul\0x\"\\"s},
  };
  for (const auto& c : cases) EXPECT_EQ(QuoteMailboxName(c.name), c.quoted) << c.name;
}

}  // namespace
}  // namespace kivimap::imap
