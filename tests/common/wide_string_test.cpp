#include "kivimap/wide_string.h"

#include <gtest/gtest.h>

#include <string>

namespace kivimap {
namespace {

std::string RoundTrip(const std::string& bytes) { return ToWide(bytes).ToNarrow(); }

// A byte that is not part of valid UTF-8 becomes U+DC80..U+DCFF and comes back unchanged.
TEST(WideStringTest, EveryByteAloneAndInSequencesSurvivesTheRoundTrip) {
  for (int a = 0; a < 256; ++a) {
    const std::string one(1, static_cast<char>(a));
    ASSERT_EQ(ToWide(one).str(), std::u16string(1, char16_t(a < 0x80 ? a : 0xDC00 + a)));
    EXPECT_EQ(RoundTrip(one), one);
    for (int b = 0; b < 256; ++b) ASSERT_EQ(RoundTrip(one + char(b)), one + char(b));
  }
  // Every 4-byte sequence of the bytes where UTF-8 decoding changes its mind.
  const std::string edges(
      "\x00\x41\x7F\x80\x8F\x90\x9F\xA0\xBF\xC0\xC1\xC2\xDF\xE0\xED\xEF\xF0\xF4\xF5\xFF", 20);
  std::string s(4, '\0');
  for (std::size_t n = 0; n < 20 * 20 * 20 * 20; ++n) {
    for (std::size_t k = 0, rest = n; k < 4; ++k, rest /= 20) s[k] = edges[rest % 20];
    ASSERT_EQ(RoundTrip(s), s);
  }
}

// The first and last code points of each UTF-8 length map to UTF-16; an overlong form, an
// encoded surrogate and an interrupted sequence are escaped byte by byte. A wide string's lone
// or reversed surrogates, and those just outside the escape range, have no 8-bit form. Null
// and empty stay different values.
TEST(WideStringTest, Utf8BecomesUtf16AndBack) {
  auto both_ways = [](const std::string& narrow, const std::u16string& wide) {
    EXPECT_EQ(ToWide(narrow).str(), wide) << testing::PrintToString(narrow);
    EXPECT_EQ(WideString(wide).ToNarrow(), narrow);
  };
  both_ways("\xC2\x80\xDF\xBF", u"\u0080\u07FF");
  both_ways("\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", u"\u0800\uD7FF\uE000\uFFFF");
  both_ways("\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF!",
            u"\U00010000\U0001F600\U0010FFFF!");
  both_ways("\xC0\xAF\xED\xA0\x80\xE2!", u"\xDCC0\xDCAF\xDCED\xDCA0\xDC80\xDCE2!");
  EXPECT_EQ(WideString(u"\xD83D!\xDE00\xD83D").ToNarrow(), "?!??");
  EXPECT_EQ(WideString(u"\xDC41\xDD00\xD83D").ToNarrow(), "???");
  EXPECT_EQ(WideString::Null().ToNarrow(), "");
  EXPECT_FALSE(ToWide("").IsNull());
  EXPECT_TRUE(WideString(static_cast<const char16_t*>(nullptr)).IsNull());
  EXPECT_FALSE(WideString() == WideString(u""));  // null differs from empty
}

// The fast paths work in blocks; a non-ASCII character and an escaped byte at every offset
// around a block boundary must be found.
TEST(WideStringTest, NonAsciiIsFoundAtEveryOffsetOfALongText) {
  for (std::size_t pos = 0; pos < 40; ++pos) {
    std::string narrow(40, 'x');
    narrow.replace(pos, 1, "\xE2\x82\xAC\xFF");
    std::u16string wide(40, u'x');
    wide.replace(pos, 1, u"\u20AC\xDCFF");
    EXPECT_EQ(ToWide(narrow).str(), wide) << pos;
    EXPECT_EQ(ToNarrow(WideString(wide)), narrow) << pos;
  }
}

TEST(WideStringTest, EscapeBackslashesDoublesOnlyBackslashes) {
  EXPECT_EQ(EscapeBackslashes(std::string_view("\"a\\b\\\\\0", 7)),
            std::string("\"a\\\\b\\\\\\\\\0", 10));
}

}  // namespace
}  // namespace kivimap
