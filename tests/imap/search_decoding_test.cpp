// The text SEARCH compares: charsets to UTF-8, encoded words, transfer encodings fed in pieces
// cut at every offset, Content-Type parameters, and the streaming substring finder.
#include <gtest/gtest.h>

#include <string>

#include "imap/base64.h"
#include "imap/charset.h"
#include "imap/encoded_words.h"
#include "imap/mime_fields.h"
#include "imap/search_finder.h"
#include "imap/transfer_decoding.h"

namespace kivimap::imap {
namespace {

TEST(CharsetTest, LatinTextBecomesUtf8AndUtf8IsRecognised) {
  EXPECT_EQ(CharsetNamed("UTF-8"), Charset::Utf8);
  EXPECT_EQ(CharsetNamed("Windows-1252"), Charset::Latin1);
  EXPECT_EQ(CharsetNamed("iso-8859-1"), Charset::Latin1);
  EXPECT_EQ(CharsetNamed("koi8-r"), Charset::Bytes);
  EXPECT_EQ(CharsetNamed("us-ascii"), Charset::Bytes);

  std::string out;
  AppendAsUtf8(out, "caf\xe9 \x80 \x96 \x81", Charset::Latin1);
  EXPECT_EQ(out, "caf\xc3\xa9 \xe2\x82\xac \xe2\x80\x93 \xc2\x81");
  out.clear();
  AppendAsUtf8(out, "caf\xe9", Charset::Bytes);
  EXPECT_EQ(out, "caf\xe9");

  for (const char* utf8 : {"", "ascii", "Gr\u00fc\u00dfe", "\xe2\x82\xac", "\xf0\x9f\x98\x80"}) {
    EXPECT_TRUE(IsUtf8(utf8)) << utf8;
  }
  for (const char* not_utf8 :
       {"caf\xe9", "\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\x80", "\xe2\x82"}) {
    EXPECT_FALSE(IsUtf8(not_utf8)) << not_utf8;
  }
}

TEST(EncodedWordsTest, DecodesWordsUnfoldsAndKeepsWhatDoesNotDecode) {
  const struct {
    const char* raw;
    const char* text;
  } cases[] = {
      {"plain text", "plain text"},
      {"=?ISO-8859-1?Q?Andr=E9?= Martin", "Andr\xc3\xa9 Martin"},
      {"=?utf-8?b?R3LDvMOfZQ==?=", "Gr\u00fc\u00dfe"},
      {"=?UTF-8?Q?a_b?= =?UTF-8?Q?_c?=", "a b c"},  // blanks between words go
      {"=?UTF-8?Q?a?=\r\n\t=?UTF-8?Q?b?=", "ab"},
      {"x =?UTF-8?Q?a?= y", "x a y"},  // blanks beside other text stay
      {"\"Zo=?utf-8?q?=C3=AB?=\" <z@h>", "\"Zo\xc3\xab\" <z@h>"},
      {"=?utf-8*en?q?hi?=", "hi"},
      {"=?windows-1252?q?=96?=", "\xe2\x80\x93"},
      {"=?koi8-r?q?=C1?=", "\xc1"},  // unknown charset: the bytes
      {"=?utf-8?b?not base64?=", "=?utf-8?b?not base64?="},
      {"=?utf-8?x?abc?=", "=?utf-8?x?abc?="},
      {"=?utf-8?q?open", "=?utf-8?q?open"},
      {"=??q?a?=", "=??q?a?="},
      {"line one\r\n\tline two", "line one\tline two"},
      {"Gr\xfc\xdf"
       "e",
       "Gr\u00fc\u00dfe"},  // raw 8-bit that is not UTF-8
      {"Gr\u00fc\u00dfe", "Gr\u00fc\u00dfe"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHeaderText(c.raw), c.text) << c.raw;
}

// Decodes text fed in two pieces cut at every offset, and checks each gives the same.
void ExpectDecodesInPieces(TransferEncoding encoding, std::string_view text,
                           std::string_view expected) {
  for (std::size_t cut = 0; cut <= text.size(); ++cut) {
    TransferDecoder decoder(encoding);
    std::string out;
    decoder.Feed(text.substr(0, cut), out);
    decoder.Feed(text.substr(cut), out);
    decoder.Finish(out);
    ASSERT_EQ(out, expected) << "cut at " << cut << " of " << text;
  }
}

TEST(TransferDecodingTest, QuotedPrintableAndBase64CutAnywhere) {
  ExpectDecodesInPieces(TransferEncoding::QuotedPrintable,
                        "caf=E9 pr=\r\n=E9sence=3D1 =\nsoft =x= =\r=41\r\nend=",
                        "caf\xe9 pr\xe9sence=1 soft =x= A\r\nend=");
  ExpectDecodesInPieces(TransferEncoding::Base64, "R3Jp\r\nZXQg\r\n*d29y\nbGQ=\r\n", "Griet world");
  ExpectDecodesInPieces(TransferEncoding::Base64, "YQ==YWI", "aab");  // unpadded last group
  ExpectDecodesInPieces(TransferEncoding::Identity, "as =E9 is", "as =E9 is");
  EXPECT_EQ(TransferEncodingNamed(" Quoted-Printable\r\n"), TransferEncoding::QuotedPrintable);
  EXPECT_EQ(TransferEncodingNamed("BASE64"), TransferEncoding::Base64);
  EXPECT_EQ(TransferEncodingNamed("8bit"), TransferEncoding::Identity);
}

TEST(MimeFieldsTest, MediaTypeAndParameters) {
  const struct {
    const char* value;
    const char* type;
    const char* subtype;
    const char* charset;  // null: none
  } cases[] = {
      {"text/plain; charset=\"ISO-8859-1\"", "text", "plain", "ISO-8859-1"},
      {" Text/HTML;\r\n\tCHARSET=utf-8 (comment)", "text", "html", "utf-8"},
      {"text/plain; name=\"a;charset=x\"; charset=koi8-r", "text", "plain", "koi8-r"},
      {"text/plain; format=flowed; charset = \"q\\\"t\"", "text", "plain", "q\"t"},
      {"(lead) multipart/mixed; boundary=\"b\"", "multipart", "mixed", nullptr},
      {"text", "text", "", nullptr},
      {"", "", "", nullptr},
  };
  for (const auto& c : cases) {
    const MediaType media = MediaTypeOf(c.value);
    EXPECT_EQ(media.type, c.type) << c.value;
    EXPECT_EQ(media.subtype, c.subtype) << c.value;
    EXPECT_EQ(MimeParameter(c.value, "charset"),
              c.charset ? std::optional<std::string>(c.charset) : std::nullopt)
        << c.value;
  }
}

TEST(TextFinderTest, CaseInsensitiveAcrossPiecesInLinearTime) {
  const struct {
    const char* needle;
    const char* text;
    bool found;
  } cases[] = {
      {"report", "Quarterly REPORT and photo", true},
      {"aab", "aaab", true},  // a failed partial match falls back, not restarts
      {"abab", "abaabab", true},
      {"abc", "ab", false},
      {"", "", true},
      {"\xc3\xbc", "Z\xc3\xbcrich", true},
      {"Z\xc3\xbc", "z\xc3\x9c", false},  // only A-Z fold
  };
  for (const auto& c : cases) {
    const std::string_view text = c.text;
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
      TextFinder finder(c.needle);
      finder.Feed(text.substr(0, cut));
      EXPECT_EQ(finder.Feed(text.substr(cut)), c.found)
          << c.needle << " in " << c.text << " cut " << cut;
    }
  }
  TextFinder finder("ab");
  EXPECT_FALSE(finder.Feed("xa"));
  finder.Reset();  // a new text: the "a" before does not count
  EXPECT_FALSE(finder.Feed("b"));

  // A needle that fails only at its end, against a long run of its start.
  const std::string needle = std::string(5000, 'a') + "b";
  TextFinder slow(needle);
  EXPECT_FALSE(slow.Feed(std::string(2'000'000, 'a')));
  EXPECT_TRUE(slow.Feed("b"));
}

TEST(Base64StreamTest, SkipsWhatIsNotBase64) {
  Base64Stream stream;
  std::string out;
  stream.Feed("Zm9v\r\n!YmFy", out);
  stream.Finish(out);
  EXPECT_EQ(out, "foobar");
  EXPECT_EQ(DecodeBase64("Zm9v YmFy"), std::nullopt);  // the strict one refuses
}

}  // namespace
}  // namespace kivimap::imap
