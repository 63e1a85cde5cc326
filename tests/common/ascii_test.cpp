#include "common/ascii.h"

#include <gtest/gtest.h>

namespace kivimap {
namespace {

// Only A-Z and a-z fold: Latin-1 letters and the neighbours of the ASCII letters stay.
TEST(AsciiTest, CaseHelpersAndSearchFoldOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpper("body[] 1:*\xC9\xE9@[`{"), "BODY[] 1:*\xC9\xE9@[`{");
  EXPECT_EQ(AsciiLower("INBOX/Sent\xC9\xE9@[`{"), "inbox/sent\xC9\xE9@[`{");
  EXPECT_FALSE(EqualsNoCase("Content-Type", "Content-Typ"));
  EXPECT_FALSE(EqualsNoCase(u"\u00C9", u"\u00E9"));
  EXPECT_TRUE(EqualsNoCase(u"ListFolders", u"LISTFOLDERS"));
  EXPECT_EQ(FindNoCase("aaAb", "AAB"), 1u);  // a false start overlapping the match
  EXPECT_EQ(FindNoCase("ends with tail", "TAIL"), 10u);
  EXPECT_FALSE(FindNoCase("ends with tai", "tail"));
  EXPECT_FALSE(FindNoCase("\xC9", "\xE9"));
  EXPECT_FALSE(FindNoCase("", ""));
  EXPECT_EQ(FindNoCase("x", ""), 0u);
}

}  // namespace
}  // namespace kivimap
