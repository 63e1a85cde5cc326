#include "imap/sasl.h"

#include <gtest/gtest.h>

namespace kivimap::imap {
namespace {

TEST(SaslTest, DecodesBase64WithOrWithoutPaddingAndRefusesTheRest) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"", ""},
      {"VXNlcm5hbWU6", "Username:"},
      {"YQ==", "a"},
      {"YQ", "a"},
      {"YWI=", "ab"},
      {"YWI", "ab"},
      {"AGpvZQBzZWNyZXQ=", std::string("\0joe\0secret", 11)},
      {"+/8=", "\xfb\xff"},
  };
  for (const auto& [text, decoded] : cases) EXPECT_EQ(DecodeBase64(text), decoded) << text;
  for (const char* bad :
       {"Y", "YQ=", "YQ===", "Y===", "=YQ=", "YQ==YQ==", "Y Q=", "YQ*=", "a1 LOGOUT", "*"}) {
    EXPECT_EQ(DecodeBase64(bad), std::nullopt) << bad;
  }
}

TEST(SaslTest, ParsesThePlainMessage) {
  const auto plain = ParsePlainMessage(std::string("admin\0joe\0se cret", 17));
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->authorization_id, "admin");
  EXPECT_EQ(plain->username, "joe");
  EXPECT_EQ(plain->password, "se cret");
  const auto empty = ParsePlainMessage(std::string("\0\0", 2));
  ASSERT_TRUE(empty);
  EXPECT_EQ(empty->username + empty->password, "");
  for (const std::string& bad :
       {std::string("joe"), std::string("joe\0secret", 10), std::string("a\0b\0c\0d", 7)}) {
    EXPECT_FALSE(ParsePlainMessage(bad));
  }
}

}  // namespace
}  // namespace kivimap::imap
