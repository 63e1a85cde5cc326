// BODYSTRUCTURE: parameter lists, single parts by their header fields, and the structures of
// the corpus messages. The sizes were counted by hand from the files: a line counts its length
// without line end plus 2, and a part counts from its delimiter line on.
#include "imap/body_structure.h"

#include <gtest/gtest.h>

#include <string>

#include "store/store_test_support.h"

namespace kivimap::imap {
namespace {

using store::testing::MessageOn;
using store::testing::TempDir;

std::string StructureOf(store::ImapMessage& message) {
  std::string out;
  BuildBodyStructure(out, message);
  return out;
}

std::string StructureOf(const TempDir& dir, std::string_view content) {
  Ref<store::ImapMessage> message = MessageOn(dir.Write("m.eml", content));
  return StructureOf(*message);
}

TEST(BuildParameterListTest, OnlyTabLedParametersEachToItsOwnEnd) {
  const std::string long_value(10000, 'n');
  const struct {
    std::string value;
    std::string list;
  } cases[] = {
      {"text/plain; charset=us-ascii", "() "},
      {"text/plain;\r\n\tcharset=\"us-ascii\"", "(\"charset\" \"us-ascii\") "},
      {"text/plain;\r\n\tcharset=us-ascii;\r\n\tformat = flowed ;",
       "(\"charset\" \"us-ascii\" \"format\" \"flowed\") "},
      // A quoted value keeps ";", "=", tabs and quoted pairs, and is quoted again for IMAP.
      {"x/y;\r\n\tname=\"a;b=c\td \\\"e\\\" \\\\\"", "(\"name\" \"a;b=c\td \\\"e\\\" \\\\\") "},
      {"x/y;\r\n\tname=\"unclosed\r\n\ta=1", "(\"name\" \"unclosed\" \"a\" \"1\") "},
      {"x/y;\r\n\tnoequals;\r\n\t=nokey\r\n\tempty=", "(\"empty\" \"\") "},
      {"x/y;\r\n\tname=\"" + long_value + "\"", "(\"name\" \"" + long_value + "\") "},
  };
  for (const auto& c : cases) {
    std::string out;
    BuildParameterList(out, c.value);
    EXPECT_EQ(out, c.list) << c.value;
  }
}

TEST(BodyStructureTest, SinglePartFromItsFieldsAndBodyCounts) {
  TempDir dir;
  // The body: lines of 5 and 0 bytes, the second ending in a bare LF: 9 bytes counted, 2 lines.
  const std::string body = "\r\nhello\r\n\n";
  const std::string us_ascii =
      "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 9 2)";
  const struct {
    const char* header;
    std::string structure;
  } cases[] = {
      {"Content-Type: text/plain;\r\n\tcharset=\"us-ascii\"\r\n"
       "Content-Transfer-Encoding: quoted-printable\r\n",
       "(\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"quoted-printable\" 9 2)"},
      {"Content-Type: TEXT/PLAIN;\r\n", "(\"TEXT\" \"PLAIN\" () NIL NIL \"7BIT\" 9 2)"},
      {"Content-Type: text/plain\r\n", "(\"text\" \"plain\" () NIL NIL \"7BIT\" 9 2)"},
      {"Content-Type: image/gif; name=a.gif\r\n", "(\"image\" \"gif\" () NIL NIL \"7BIT\" 9)"},
      {"Content-Type: message/rfc822\r\n", "(\"message\" \"rfc\" () NIL NIL \"7BIT\" 9)"},
      {"Subject: no type\r\n", us_ascii},
      {"Content-Type: text\r\n", us_ascii},
      {"Content-Type: image/png\r\nContent-ID: <a@b>\r\nContent-Description: a \"b\"\r\n"
       "\tc\r\nContent-Transfer-Encoding: base64\r\n",
       "(\"image\" \"png\" () \"<a@b>\" {9}\r\na \"b\"\r\n\tc \"base64\" 9)"},
      // A multipart type whose boundary never shows is one part.
      {"Content-Type: multipart/mixed; boundary=\"b\"\r\n",
       "(\"multipart\" \"mixed\" () NIL NIL \"7BIT\" 9)"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(StructureOf(dir, std::string(c.header) + body), c.structure) << c.header;
  }
  Ref<store::ImapMessage> missing = MessageOn(dir.File("missing"));
  EXPECT_EQ(StructureOf(*missing),
            "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 0 0)");
}

TEST(BodyStructureTest, MultipartSubtypeInAnyCaseOrMixed) {
  TempDir dir;
  const std::string parts = "\r\n--b\r\nContent-Type: image/gif\r\n\r\nGIF\r\n--b--\r\n";
  const std::string gif =
      "((\"image\" \"gif\" () NIL NIL \"7BIT\" 32) ";  // 23 + 0 + 3, and 3 line ends
  EXPECT_EQ(StructureOf(dir, "Content-Type: Multipart/Related; boundary=\"b\"\r\n" + parts),
            gif + "\"Related\")");
  // The boundary from a second Content-Type field: the first has no subtype to give.
  EXPECT_EQ(StructureOf(dir,
                        "Content-Type: text/plain\r\nContent-Type: multipart/x; "
                        "boundary=\"b\"\r\n" +
                            parts),
            gif + "\"MIXED\")");
}

TEST(BodyStructureTest, NestingBeyondAHundredLevelsEndsInASinglePart) {
  TempDir dir;
  std::string content;
  const int levels = 150;
  // No boundary begins another, as a delimiter line is recognised by its beginning.
  for (int i = 0; i < levels; ++i) {
    const std::string boundary = std::string("b").append(std::to_string(i)).append("z");
    content.append("Content-Type: multipart/mixed; boundary=\"").append(boundary);
    content.append("\"\r\n\r\n--").append(boundary).append("\r\n");
  }
  content += "Content-Type: text/plain\r\n\r\nx\r\n";
  for (int i = levels - 1; i >= 0; --i) {
    content.append("--b").append(std::to_string(i)).append("z--\r\n");
  }
  const std::string structure = StructureOf(dir, content);
  EXPECT_EQ(structure.find("(\"multipart\" \"mixed\" () NIL NIL \"7BIT\" "), 100u);
  EXPECT_EQ(structure.find("\"text\""), std::string::npos);
  EXPECT_EQ(structure.substr(structure.size() - 8), "\"mixed\")");
}

TEST(BodyStructureTest, CorpusMessages) {
  const std::string corpus = std::string(KIVIMAP_TEST_DATA) + "/corpus/";
  const struct {
    const char* file;
    std::int32_t start, end;  // end 0: to the end of the file
    std::string structure;
  } cases[] = {
      {"alternative_attachments_crlf.eml", 0, 0,
       "(((\"text\" \"plain\" (\"charset\" \"us-ascii\") NIL NIL \"quoted-printable\" 161 9)"
       "(\"text\" \"html\" (\"charset\" \"us-ascii\") NIL NIL \"quoted-printable\" 181 6)"
       " \"alternative\")"
       "(\"application\" \"pdf\" (\"name\" \"report.pdf\") NIL NIL \"base64\" 1249)"
       "(\"image\" \"png\" (\"name\" \"photo.png\") \"<photo1@example.org>\" NIL \"base64\" 485)"
       " \"mixed\")"},
      {"headers_8bit_crlf.eml", 0, 0, "(\"text\" \"plain\" () NIL NIL \"8bit\" 23 2)"},
      {"nested_related_lf.eml", 0, 0,
       "((((\"text\" \"plain\" () NIL NIL \"7BIT\" 62 3)(\"text\" \"html\" () NIL NIL \"7BIT\" 98 "
       "4)"
       " \"alternative\")(\"image\" \"gif\" () \"<logo>\" NIL \"base64\" 202) \"related\")"
       "(\"text\" \"calendar\" () NIL NIL \"7BIT\" 153 6) \"mixed\")"},
      // The part that the missing closing delimiter leaves.
      {"no_closing_delimiter_crlf.eml", 0, 0,
       "((\"text\" \"plain\" () NIL NIL \"7BIT\" 40 3) \"mixed\")"},
      {"two_messages_lf.mbox", 48, 125,
       "(\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") NIL NIL \"7BIT\" 40 3)"},
      {"two_messages_lf.mbox", 171, 0,
       "((\"text\" \"plain\" () NIL NIL \"7BIT\" 42 3)(\"text\" \"html\" () NIL NIL \"7BIT\" 47 4)"
       " \"alternative\")"},
  };
  for (const auto& c : cases) {
    Ref<store::ImapMessage> message = MessageOn(corpus + c.file);
    message->put_StartPosition(c.start);
    if (c.end) message->put_EndPosition(c.end);
    EXPECT_EQ(StructureOf(*message), c.structure) << c.file << " at " << c.start;
  }
}

}  // namespace
}  // namespace kivimap::imap
