// SEARCH arguments: the tokenizer's escapes and errors, which commands parse and which do not,
// the charset answer, dates, and the order in which an And tries its keys.
#include "imap/search_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "imap/internal_date.h"
#include "imap/search_tokenizer.h"

namespace kivimap::imap {
namespace {

// The tokens as "kind:text" words, for comparing in one line.
std::string Tokens(std::string_view text) {
  SearchTokenizer tokens(text);
  std::string out;
  for (;;) {
    const SearchToken token = tokens.Next();
    if (!out.empty()) out.push_back(' ');
    switch (token.kind) {
      case SearchTokenKind::End:
        return out + "END";
      case SearchTokenKind::Error:
        return out + "ERROR";
      case SearchTokenKind::Open:
        out += "(";
        break;
      case SearchTokenKind::Close:
        out += ")";
        break;
      case SearchTokenKind::Atom:
        out += "a:" + token.text;
        break;
      case SearchTokenKind::Quoted:
        out += "q:" + token.text;
        break;
    }
  }
}

TEST(SearchTokenizerTest, EscapesInQuotesAndWhatEndsTheTokens) {
  const struct {
    const char* text;
    const char* tokens;
  } cases[] = {
      {"", "END"},
      {"  ALL   SEEN ", "a:ALL a:SEEN END"},
      {"NOT(SEEN)", "a:NOT ( a:SEEN ) END"},
      {R"(SUBJECT "say \"hi\" \\ bye")", R"(a:SUBJECT q:say "hi" \ bye END)"},
      {R"("" x)", "q: a:x END"},
      {R"("a"b)", "q:a a:b END"},
      {R"(KEYWORD \Seen 1:*,5)", R"(a:KEYWORD a:\Seen a:1:*,5 END)"},
      {R"("\n")", "ERROR"},
      {R"("open)", "ERROR"},
      {R"("ends in \)", "ERROR"},
      {"BODY {5}", "a:BODY ERROR"},
      {"a\tb", "ERROR"},
      {"\"line\rend\"", "ERROR"},
  };
  for (const auto& c : cases) EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;

  // After an error, the tokenizer gives nothing but errors.
  SearchTokenizer tokens("\"x\\y\" SEEN");
  EXPECT_EQ(tokens.Next().kind, SearchTokenKind::Error);
  EXPECT_EQ(tokens.Peek().kind, SearchTokenKind::Error);
  EXPECT_EQ(tokens.Next().kind, SearchTokenKind::Error);
}

TEST(SearchParserTest, AcceptsEveryKeyAndRefusesMalformedArguments) {
  // clang-format off
  const char* const accepted[] = {
      "ALL", "all", "ANSWERED DELETED DRAFT FLAGGED NEW OLD RECENT SEEN",
      "UNANSWERED UNDELETED UNDRAFT UNFLAGGED UNSEEN", "BCC x", "CC \"a b\"", "FROM ann", "TO \"\"",
      "SUBJECT hi", "BODY x", "TEXT x", "HEADER X-Spam yes", "HEADER \"To\" \"\"",
      "KEYWORD $Forwarded", "UNKEYWORD work", "LARGER 0", "SMALLER 4294967295", "BEFORE 1-Feb-1994",
      "ON \"29-Feb-2024\"", "SINCE 01-jan-2000", "SENTBEFORE 1-Jan-2000", "SENTON 31-Dec-1999",
      "SENTSINCE 1-Jan-1970", "UID 1:*", "UID 4:2,7", "1,3:*", "*", "NOT SEEN", "OR SEEN FLAGGED",
      "OR (SEEN FLAGGED) NOT (DELETED OR 1 2)", "((((SEEN))))",
      "CHARSET UTF-8 SUBJECT \"Gr\u00fc\u00dfe\"", "charset us-ascii ALL",
      "CHARSET \"UTF-8\" BODY Z\xc3\xbcrich"};
  const char* const refused[] = {
      "", " ", "FOO", "SEEN FOO", "(", "()", "(SEEN", "SEEN)", "NOT", "OR SEEN", "FROM",
      "HEADER X-Spam", "KEYWORD", "KEYWORD \"quoted\"", "LARGER", "LARGER -1", "LARGER x",
      "LARGER 4294967296", "UID", "UID x", "UID \"1\"", "0", "1:0", "1,", ",1", "1::2", "1:2:3",
      "4294967296", "BEFORE 32-Jan-2020", "BEFORE 29-Feb-2023", "BEFORE 0-Jan-2020",
      "BEFORE 1-Jan-20", "BEFORE 1-Jann-2020", "BEFORE 1 Jan 2020", "SINCE 001-Jan-2020",
      "SUBJECT Gr\u00fc\u00dfe", "SUBJECT \"Gr\u00fc\u00dfe\"",
      "CHARSET US-ASCII SUBJECT \"\xc3\xbc\"", "CHARSET", "CHARSET UTF-8", "SUBJECT {3}"};
  // clang-format on
  for (const char* ok : accepted) {
    EXPECT_EQ(ParseSearch(ok).status, SearchParseStatus::Ok) << ok;
  }
  for (const char* bad : refused) {
    EXPECT_EQ(ParseSearch(bad).status, SearchParseStatus::SyntaxError) << bad;
  }
  for (const char* charset : {"CHARSET ISO-8859-1 ALL", "CHARSET x ALL", "charset utf8 SEEN"}) {
    EXPECT_EQ(ParseSearch(charset).status, SearchParseStatus::BadCharset) << charset;
  }
}

TEST(SearchParserTest, NestingIsBounded) {
  std::string deep;
  for (int i = 0; i < kMaxSearchDepth - 1; ++i) deep += "NOT ";
  EXPECT_EQ(ParseSearch(deep + "SEEN").status, SearchParseStatus::Ok);
  EXPECT_EQ(ParseSearch("NOT " + deep + "SEEN").status, SearchParseStatus::SyntaxError);
  // A line full of parentheses answers, rather than exhausting the stack.
  EXPECT_EQ(ParseSearch(std::string(30000, '(')).status, SearchParseStatus::SyntaxError);
}

TEST(SearchParserTest, KeysCarryTheirArguments) {
  SearchParse parse =
      ParseSearch(R"(HEADER "X-Spam Flag" "a\"b" NEW SENTBEFORE 9-Mar-2025 LARGER 300 BCC bob)");
  ASSERT_EQ(parse.status, SearchParseStatus::Ok);
  const std::vector<SearchKey>& keys = parse.root.children;
  ASSERT_EQ(keys.size(), 5u);
  // Cheapest first: flags, then the size, then the header keys in the order written.
  EXPECT_EQ(keys[0].kind, SearchKeyKind::Flags);
  EXPECT_EQ(keys[0].set_flags, Recent);
  EXPECT_EQ(keys[0].clear_flags, Seen);
  EXPECT_EQ(keys[1].kind, SearchKeyKind::Larger);
  EXPECT_EQ(keys[1].number, 300u);
  EXPECT_EQ(keys[2].kind, SearchKeyKind::HeaderField);
  EXPECT_EQ(keys[2].field, "X-Spam Flag");
  EXPECT_EQ(keys[2].text, "a\"b");
  EXPECT_EQ(keys[3].kind, SearchKeyKind::Date);
  EXPECT_TRUE(keys[3].sent);
  EXPECT_EQ(keys[3].relation, DateRelation::Before);
  EXPECT_EQ(keys[3].day, DaysSinceEpoch(2025, 3, 9));
  EXPECT_EQ(keys[4].field, "Bcc");
  EXPECT_EQ(parse.root.cost, SearchCost::Header);
}

}  // namespace
}  // namespace kivimap::imap
