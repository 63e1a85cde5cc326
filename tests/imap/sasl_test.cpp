#include "imap/sasl.h"

#include <gtest/gtest.h>

namespace kivimap::imap {
namespace {

TEST(SaslTest, DecodesBase64WithAndWithoutPadding) {
  EXPECT_EQ(DecodeBase64(""), "");
  EXPECT_EQ(DecodeBase64("VXNlcm5hbWU6"), "Username:");
  EXPECT_EQ(DecodeBase64("UGFzc3dvcmQ6"), "Password:");
  EXPECT_EQ(DecodeBase64("YQ=="), "a");
  EXPECT_EQ(DecodeBase64("YQ"), "a");
  EXPECT_EQ(DecodeBase64("YWI="), "ab");
  EXPECT_EQ(DecodeBase64("YWI"), "ab");
  EXPECT_EQ(DecodeBase64("AGpvZQBzZWNyZXQ="), std::string("\0joe\0secret", 11));
  EXPECT_EQ(DecodeBase64("+/8="), "\xfb\xff");
}

TEST(SaslTest, RefusesWhatIsNotBase64) {
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
  EXPECT_EQ(empty->username, "");
  EXPECT_EQ(empty->password, "");

  EXPECT_FALSE(ParsePlainMessage("joe"));
  EXPECT_FALSE(ParsePlainMessage(std::string("joe\0secret", 10)));
  EXPECT_FALSE(ParsePlainMessage(std::string("a\0b\0c\0d", 7)));
}

}  // namespace
}  // namespace kivimap::imap
