#include "common/ascii.h"

#include <gtest/gtest.h>

namespace kivimap {
namespace {

TEST(AsciiTest, CaseMappingTouchesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpper("fetch body[] 1:*"), "FETCH BODY[] 1:*");
  EXPECT_EQ(AsciiLower("INBOX/Sent"), "inbox/sent");
  EXPECT_EQ(AsciiLower("\xC9\xE9@[`{"), "\xC9\xE9@[`{");  // Latin-1 letters and neighbours stay
  EXPECT_EQ(AsciiUpper("\xC9\xE9@[`{"), "\xC9\xE9@[`{");
  EXPECT_TRUE(EqualsNoCase("Content-Type", "content-TYPE"));
  EXPECT_FALSE(EqualsNoCase("Content-Type", "Content-Typ"));
  EXPECT_FALSE(EqualsNoCase("\xC9", "\xE9"));
  EXPECT_TRUE(EqualsNoCase(u"ListFolders", u"LISTFOLDERS"));
  EXPECT_FALSE(EqualsNoCase(u"\u00C9", u"\u00E9"));
}

TEST(AsciiTest, FindNoCaseFindsTheFirstMatchIgnoringAsciiCase) {
  EXPECT_EQ(FindNoCase("Content-Type: Multipart/Mixed", "multipart/"), 14u);
  EXPECT_EQ(FindNoCase("abcABC", "abc"), 0u);
  EXPECT_EQ(FindNoCase("xxBOUNDARY=", "boundary="), 2u);
  // A false start that overlaps the real match.
  EXPECT_EQ(FindNoCase("bboundary=", "boundary="), 1u);
  EXPECT_EQ(FindNoCase("aaab", "aab"), 1u);
  EXPECT_EQ(FindNoCase("ends with tail", "TAIL"), 10u);
  EXPECT_FALSE(FindNoCase("ends with tai", "tail"));
  EXPECT_FALSE(FindNoCase("short", "longer pattern"));
  EXPECT_FALSE(FindNoCase("\xC9", "\xE9"));
}

TEST(AsciiTest, FindNoCaseWithEmptyArguments) {
  EXPECT_FALSE(FindNoCase("", ""));
  EXPECT_FALSE(FindNoCase("", "x"));
  EXPECT_EQ(FindNoCase("x", ""), 0u);
}

}  // namespace
}  // namespace kivimap
