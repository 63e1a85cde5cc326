#include "kivimap/wide_string.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace kivimap {
namespace {

std::string RoundTrip(const std::string& bytes) { return ToWide(bytes).ToNarrow(); }

std::string Hex(const std::string& s) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : s) {
    out += digits[c >> 4];
    out += digits[c & 15];
    out += ' ';
  }
  return out;
}

TEST(WideStringTest, NullAndEmptyAreDifferentValues) {
  EXPECT_TRUE(WideString().IsNull());
  EXPECT_TRUE(WideString(static_cast<const char16_t*>(nullptr)).IsNull());
  EXPECT_FALSE(WideString::Empty().IsNull());
  EXPECT_FALSE(WideString(u"").IsNull());
  EXPECT_FALSE(WideString() == WideString::Empty());
  EXPECT_EQ(WideString::Null().ToNarrow(), "");
  EXPECT_EQ(WideString::Empty().ToNarrow(), "");
  EXPECT_FALSE(ToWide("").IsNull());
}

TEST(WideStringTest, EveryByteAloneSurvivesTheRoundTrip) {
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    const WideString wide = ToWide(one);
    ASSERT_EQ(wide.size(), 1u) << b;
    EXPECT_EQ(wide.view()[0], b < 0x80 ? char16_t(b) : char16_t(0xDC00 + b)) << b;
    EXPECT_EQ(wide.ToNarrow(), one) << b;
  }
}

TEST(WideStringTest, EveryBytePairSurvivesTheRoundTrip) {
  std::string two(2, '\0');
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) {
      two[0] = static_cast<char>(a);
      two[1] = static_cast<char>(b);
      ASSERT_EQ(RoundTrip(two), two) << Hex(two);
    }
  }
}

// The bytes where UTF-8 decoding changes its mind: lead and continuation boundaries.
TEST(WideStringTest, SequencesOfBoundaryBytesSurviveTheRoundTrip) {
  const std::vector<unsigned char> edges = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                            0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0,
                                            0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};
  std::string s(4, '\0');
  for (unsigned char a : edges) {
    for (unsigned char b : edges) {
      for (unsigned char c : edges) {
        for (unsigned char d : edges) {
          s[0] = char(a), s[1] = char(b), s[2] = char(c), s[3] = char(d);
          ASSERT_EQ(RoundTrip(s), s) << Hex(s);
        }
      }
    }
  }
}

TEST(WideStringTest, RandomByteSequencesSurviveTheRoundTrip) {
  std::mt19937 rng(20240611);
  std::uniform_int_distribution<int> length(0, 80);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> mostly_high(0x78, 0xFF);
  for (int round = 0; round < 5000; ++round) {
    std::string s(static_cast<std::size_t>(length(rng)), '\0');
    const bool high = round % 2 == 0;
    for (char& c : s) c = static_cast<char>(high ? mostly_high(rng) : byte(rng));
    ASSERT_EQ(RoundTrip(s), s) << Hex(s);
  }
}

TEST(WideStringTest, ValidUtf8BecomesUtf16) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const std::vector<Case> cases = {
      {"plain ASCII", u"plain ASCII"},       {"\xC2\x80", u"\u0080"},
      {"caf\xC3\xA9", u"caf\u00E9"},         {"\xDF\xBF", u"\u07FF"},
      {"\xE0\xA0\x80", u"\u0800"},           {"\xE2\x82\xAC", u"\u20AC"},
      {"\xED\x9F\xBF", u"\uD7FF"},           {"\xEE\x80\x80", u"\uE000"},
      {"\xEF\xBF\xBF", u"\uFFFF"},           {"\xF0\x90\x80\x80", u"\U00010000"},
      {"\xF0\x9F\x98\x80!", u"\U0001F600!"}, {"\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToWide(c.narrow).str(), c.wide) << Hex(c.narrow);
    EXPECT_EQ(WideString(c.wide).ToNarrow(), c.narrow) << Hex(c.narrow);
  }
}

TEST(WideStringTest, MalformedUtf8IsEscapedBytewise) {
  struct Case {
    std::string narrow;
    std::u16string wide;
  };
  const std::vector<Case> cases = {
      {"\xC0\xAF", u"\xDCC0\xDCAF"},            // overlong '/'
      {"\xE0\x80\xAF", u"\xDCE0\xDC80\xDCAF"},  // overlong, three bytes
      {"\xF0\x80\x80\xAF", u"\xDCF0\xDC80\xDC80\xDCAF"},
      {"\xED\xA0\x80", u"\xDCED\xDCA0\xDC80"},            // an encoded surrogate
      {"\xF4\x90\x80\x80", u"\xDCF4\xDC90\xDC80\xDC80"},  // above U+10FFFF
      {"\xE2\x82", u"\xDCE2\xDC82"},                      // truncated at the end
      {"\xE2"
       "A\xAC",
       u"\xDCE2"
       u"A\xDCAC"},  // interrupted
      {"\xF5\x80\x80\x80", u"\xDCF5\xDC80\xDC80\xDC80"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ToWide(c.narrow).str(), c.wide) << Hex(c.narrow);
    EXPECT_EQ(RoundTrip(c.narrow), c.narrow) << Hex(c.narrow);
  }
}

TEST(WideStringTest, SurrogatesWithoutAnEightBitFormBecomeQuestionMarks) {
  EXPECT_EQ(WideString(u"a\xD83D").ToNarrow(), "a?");  // high surrogate at the end
  EXPECT_EQ(WideString(u"\xD83D"
                       u"b")
                .ToNarrow(),
            "?b");                                          // high surrogate, no low
  EXPECT_EQ(WideString(u"\xDE00\xD83D").ToNarrow(), "??");  // reversed pair
  EXPECT_EQ(WideString(u"\xDC41").ToNarrow(), "?");         // below the escape range
  EXPECT_EQ(WideString(u"\xDD00").ToNarrow(), "?");         // above the escape range
  EXPECT_EQ(WideString(u"\xDC80\xDCFF").ToNarrow(), "\x80\xFF");
}

TEST(WideStringTest, NulCharactersAreKeptBothWays) {
  const std::string narrow("a\0b\0", 4);
  const WideString wide = ToWide(narrow);
  EXPECT_EQ(wide.str(), std::u16string(u"a\0b\0", 4));
  EXPECT_EQ(wide.ToNarrow(), narrow);
}

// The ASCII fast paths work in blocks; a non-ASCII character at every offset around a block
// boundary must be found.
TEST(WideStringTest, NonAsciiIsFoundAtEveryOffsetOfALongText) {
  for (std::size_t pos = 0; pos < 40; ++pos) {
    std::string narrow(40, 'x');
    narrow.replace(pos, 1, "\xE2\x82\xAC");
    std::u16string wide(40, u'x');
    wide[pos] = u'\u20AC';
    EXPECT_EQ(ToWide(narrow).str(), wide) << pos;
    EXPECT_EQ(WideString(wide).ToNarrow(), narrow) << pos;
    EXPECT_EQ(ToNarrow(WideString(wide)), narrow) << pos;
  }
}

TEST(WideStringTest, EscapeBackslashesDoublesOnlyBackslashes) {
  EXPECT_EQ(EscapeBackslashes(""), "");
  EXPECT_EQ(EscapeBackslashes("no slashes \"here\""), "no slashes \"here\"");
  EXPECT_EQ(EscapeBackslashes("a\\b"), "a\\\\b");
  EXPECT_EQ(EscapeBackslashes("\\\\"), "\\\\\\\\");
  EXPECT_EQ(EscapeBackslashes(std::string_view("\\\0", 2)), std::string("\\\\\0", 3));
}

}  // namespace
}  // namespace kivimap
