// Running searches over messages: flags, sets and UIDs without touching a file; when the file
// hook fires and what stops a search; and what the text keys find in real-shaped messages
// (encoded words, quoted-printable, base64, Latin-1, parts that are not text, forwarded mail).
#include "imap/search_evaluator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "imap/search_parser.h"
#include "kivimap/interfaces.h"
#include "store/store_test_support.h"

namespace kivimap::imap {
namespace {

using store::testing::MessageOn;
using store::testing::TempDir;
using Numbers = std::vector<std::uint32_t>;

std::optional<Numbers> Search(std::string_view query,
                              const std::vector<Ref<store::ImapMessage>>& messages,
                              bool by_uid = false, const BeforeRead& before_read = nullptr) {
  SearchParse parse = ParseSearch(query);
  EXPECT_EQ(parse.status, SearchParseStatus::Ok) << query;
  int reads = 0;
  const BeforeRead counting = [&](store::ImapMessage& message) {
    ++reads;
    return before_read ? before_read(message) : true;
  };
  return SearchMessages(parse.root, messages, by_uid, counting);
}

Ref<store::ImapMessage> Message(std::int32_t uid, std::int32_t flags) {
  Ref<store::ImapMessage> message = store::ImapMessage::Create();
  message->SetUid(uid);
  message->SetFlags(flags);
  return message;
}

TEST(SearchFlagsTest, FlagsSetsAndUidsNeverReadAFile) {
  // No message has a file: any read would find nothing, and before_read must never run.
  const std::vector<Ref<store::ImapMessage>> folder = {
      Message(10, Seen), Message(20, Recent), Message(20, Recent | Seen | Flagged),
      Message(40, Deleted | Answered), Message(5, Draft)};
  const BeforeRead never = [](store::ImapMessage&) {
    ADD_FAILURE() << "a flags-only search read a file";
    return true;
  };
  const struct {
    const char* query;
    Numbers sequence;
    Numbers uids;
  } cases[] = {
      {"ALL", {1, 2, 3, 4, 5}, {5, 10, 20, 40}},  // UIDs ascending, each once
      {"SEEN", {1, 3}, {10, 20}},
      {"UNSEEN", {2, 4, 5}, {5, 20, 40}},
      {"NEW", {2}, {20}},
      {"OLD", {1, 4, 5}, {5, 10, 40}},
      {"RECENT FLAGGED", {3}, {20}},
      {"ANSWERED DELETED", {4}, {40}},
      {"UNANSWERED UNDELETED UNDRAFT UNFLAGGED", {1, 2}, {10, 20}},
      {"DRAFT", {5}, {5}},
      {"KEYWORD work", {}, {}},
      {"UNKEYWORD work", {1, 2, 3, 4, 5}, {5, 10, 20, 40}},
      {"NOT SEEN", {2, 4, 5}, {5, 20, 40}},
      {"OR DELETED DRAFT", {4, 5}, {5, 40}},
      {"NOT (SEEN OR RECENT DRAFT)", {1, 2, 4, 5}, {5, 10, 20, 40}},
      {"OR (SEEN FLAGGED) NOT OR 1 2", {3, 4, 5}, {5, 20, 40}},
      // Sets inside keys: "*" is the highest number, ranges run either way.
      {"*", {5}, {5}},
      {"4:2", {2, 3, 4}, {20, 40}},
      {"2,4:*", {2, 4, 5}, {5, 20, 40}},
      {"9:*", {5}, {5}},
      {"6:9", {}, {}},
      {"UID *", {4}, {40}},
      {"UID 41:*", {4}, {40}},  // the way clients poll for new mail
      {"UID 20", {2, 3}, {20}},
      {"UID 30:6", {1, 2, 3}, {10, 20}},
      {"UID 1:4,6:9", {}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Search(c.query, folder, false, never), c.sequence) << c.query;
    EXPECT_EQ(Search(c.query, folder, true, never), c.uids) << "UID " << c.query;
  }
  for (const char* query : {"ALL", "1:*", "*", "UID *", "UID 1:*", "NOT 1"}) {
    EXPECT_EQ(Search(query, {}, false, never), Numbers()) << query;
  }
}

TEST(SearchFlagsTest, ReadMessageFiresOncePerMessageAndOnlyWhereAFileIsRead) {
  TempDir dir;
  const std::string file = dir.Write("m.eml", "Subject: hello\r\n\r\nbody text\r\n");
  std::vector<Ref<store::ImapMessage>> folder;
  for (int i = 0; i < 4; ++i) {
    folder.push_back(MessageOn(file));
    folder.back()->SetUid(i + 1);
    folder.back()->SetFlags(i % 2 == 0 ? Seen : 0);
  }
  std::vector<std::int32_t> read;
  const BeforeRead record = [&](store::ImapMessage& message) {
    read.push_back(message.Uid());
    return true;
  };
  const struct {
    const char* query;
    Numbers found;
    std::vector<std::int32_t> read;
  } cases[] = {
      // The cheap key first, whatever the order written: unseen messages are never read.
      {"BODY text SEEN", {1, 3}, {1, 3}},
      {"OR SEEN SUBJECT hello", {1, 2, 3, 4}, {2, 4}},
      {"SUBJECT hello BODY text TEXT body LARGER 3 SENTBEFORE 1-Jan-2000", {}, {1, 2, 3, 4}},
      {"NOT SEEN NOT BODY nothing", {2, 4}, {2, 4}},
      {"UID 2:3 SMALLER 1000", {2, 3}, {2, 3}},
  };
  for (const auto& c : cases) {
    read.clear();
    EXPECT_EQ(Search(c.query, folder, false, record), c.found) << c.query;
    EXPECT_EQ(read, c.read) << c.query;
  }

  // The host going away inside ReadMessage stops the search there.
  read.clear();
  const BeforeRead stop_at_second = [&](store::ImapMessage& message) {
    read.push_back(message.Uid());
    return read.size() < 2;
  };
  EXPECT_EQ(Search("BODY text", folder, false, stop_at_second), std::nullopt);
  EXPECT_EQ(read, (std::vector<std::int32_t>{1, 2}));
}

// The messages of tests/data/search and tests/data/corpus, and one of our own, in this order.
class SearchTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string data = KIVIMAP_TEST_DATA;
    for (const char* name :
         {"search/qp_latin1_crlf.eml", "search/base64_utf8_crlf.eml", "search/forwarded_lf.eml",
          "corpus/headers_8bit_crlf.eml", "corpus/alternative_attachments_crlf.eml",
          "corpus/nested_related_lf.eml"}) {
      folder_.push_back(MessageOn(data + "/" + name));
    }
    folder_.push_back(MessageOn(dir_.Write("undated.eml", "Subject: no date\n\nshort\n")));
  }

  Numbers Find(const std::string& query) { return *Search(query, folder_); }

  TempDir dir_;
  std::vector<Ref<store::ImapMessage>> folder_;
};

TEST_F(SearchTextTest, HeaderKeysDecodeEncodedWordsAndEightBitText) {
  const struct {
    const char* query;
    Numbers found;
  } cases[] = {
      {"CHARSET UTF-8 SUBJECT \"r\xc3\xa9sum\xc3\xa9 de la\"", {1}},  // Q, ISO-8859-1
      {"CHARSET UTF-8 SUBJECT \"Konzert in Z\xc3\xbcrich\"", {2}},    // across two B words
      {"CHARSET UTF-8 SUBJECT \"gr\u00fc\u00dfe aus\"", {4}},         // raw Latin-1
      {"SUBJECT \"und noch\"", {4}},                                  // a continuation line
      {"CHARSET UTF-8 FROM J\xc3\xbcrgen", {4}},
      {"CHARSET UTF-8 FROM andr\xc3\xa9", {1}},
      {"CHARSET UTF-8 CC Zo\xc3\xab", {1}},
      {"TO bob", {5}},
      {"BCC hidden", {2}},
      {"SUBJECT minutes", {3}},  // the top message only: its own Subject is "Fwd: minutes"
      {"SUBJECT board", {}},
      {"SUBJECT \"\"", {1, 2, 3, 4, 5, 6, 7}},
      {"HEADER Bcc \"\"", {2}},
      {"HEADER content-type MULTIPART", {2, 3, 5, 6}},
      {"HEADER Message-ID qp-latin1", {1}},
      {"HEADER Received mx.example.net", {5}},  // a folded field
      {"HEADER X-None \"\"", {}},
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.query), c.found) << c.query;
}

TEST_F(SearchTextTest, BodyAndTextSearchDecodedTextParts) {
  const struct {
    const char* query;
    Numbers found;
  } cases[] = {
      {"CHARSET UTF-8 BODY \"le caf\xc3\xa9 sera\"", {1}},    // quoted-printable Latin-1
      {"CHARSET UTF-8 BODY \"pr\xc3\xa9sence avant\"", {1}},  // across a soft line break
      {"CHARSET UTF-8 BODY \"GR\u00fc\u00dfE AUS Z\xc3\xbcRICH\"", {2}},  // base64 UTF-8
      {"BODY konzert", {2}},
      {"BODY secret-attachment-word", {}},  // an application part is not text
      {"TEXT secret-attachment-word", {}},
      {"CHARSET UTF-8 BODY \"approved \xe2\x80\x93 unanimously\"", {3}},  // Windows-1252 QP
      {"BODY \"forwarded message\"", {3}},
      {"BODY \"minutes of the board\"", {3}},  // the header of a forwarded message is its body
      {"CHARSET UTF-8 BODY \"Sch\xc3\xb6ne\"", {4}},  // 8bit ISO-8859-1
      {"BODY \"Thursday.\"", {5}},                    // "=2E"
      {"BODY \"the report is attached\"", {5}},
      {"BODY report.pdf", {}},  // a part's header is not text
      {"BODY \"Plain newsletter\"", {6}},
      {"BODY VCALENDAR", {6}},
      {"BODY \"Trailing epilogue\"", {}},
      {"BODY \"multi-part message in MIME\"", {}},  // the preamble
      {"BODY \"\"", {1, 2, 3, 4, 5, 6, 7}},
      {"BODY short", {7}},
      {"BODY subject", {3}},  // in the forwarded message's header
      {"TEXT \"subject: no date\"", {7}},
      {"TEXT quarterly", {5}},
      {"TEXT \"Fwd: minutes\"", {3}},
      {"OR BODY konzert TEXT vcalendar", {2, 6}},
      {"NOT TEXT example", {7}},
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.query), c.found) << c.query;
}

TEST_F(SearchTextTest, DatesAndSizes) {
  const std::int32_t sizes[] = {folder_[0]->EndPosition(), folder_[6]->EndPosition()};
  const struct {
    std::string query;
    Numbers found;
  } cases[] = {
      // 23:45 at -0800 is the next day in UTC; the day the message writes counts.
      {"SENTON 14-Feb-2025", {1}},
      {"ON 14-feb-2025", {1}},
      {"SENTSINCE 2-Mar-2025", {3, 4, 6}},
      {"SENTBEFORE 1-Mar-2025", {1, 5}},
      {"SENTBEFORE 1-Jan-2004", {5}},
      {"SENTSINCE 1-Jan-1900 NOT SENTBEFORE 1-Jan-1900", {1, 2, 3, 4, 5, 6}},  // 7: no Date
      {"NOT SENTON 1-Jan-2000", {1, 2, 3, 4, 5, 6, 7}},
      {"SINCE 1-Mar-2025 BEFORE 3-Mar-2025", {2, 3}},
      {"LARGER " + std::to_string(sizes[0] - 1) + " SMALLER " + std::to_string(sizes[0] + 1), {1}},
      {"SMALLER " + std::to_string(sizes[1] + 1), {7}},
      {"NOT LARGER 100", {7}},
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.query), c.found) << c.query;
}

}  // namespace
}  // namespace kivimap::imap
