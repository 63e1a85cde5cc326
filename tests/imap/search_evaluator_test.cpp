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
      {"NEW", {2}, {20}},
      {"OLD", {1, 4, 5}, {5, 10, 40}},
      {"RECENT FLAGGED", {3}, {20}},
      {"OR DELETED DRAFT", {4, 5}, {5, 40}},
      {"NOT (SEEN OR RECENT DRAFT)", {1, 2, 4, 5}, {5, 10, 20, 40}},
      {"OR (SEEN FLAGGED) NOT OR 1 2", {3, 4, 5}, {5, 20, 40}},
      // Sets inside keys: "*" is the highest number, ranges run either way.
      {"*", {5}, {5}},
      {"4:2", {2, 3, 4}, {20, 40}},
      {"2,4:*", {2, 4, 5}, {5, 20, 40}},
      {"9:*", {5}, {5}},
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

// What the protocol tests' key-by-key table does not show: where each text key looks and where
// it does not (other parts, preamble and epilogue, a forwarded message, folded fields).
TEST_F(SearchTextTest, WhereTextKeysLook) {
  const struct {
    const char* query;
    Numbers found;
  } cases[] = {
      {"SUBJECT \"und noch\"", {4}},                           // a continuation line
      {"CHARSET UTF-8 SUBJECT \"gr\u00fc\u00dfe aus\"", {4}},  // raw Latin-1
      {"SUBJECT minutes", {3}},  // the top message's own Subject, "Fwd: minutes"
      {"SUBJECT board", {}},     // not the forwarded message's
      {"SUBJECT \"\"", {1, 2, 3, 4, 5, 6, 7}},
      {"HEADER Bcc \"\"", {2}},
      {"HEADER X-None \"\"", {}},
      {"HEADER Received mx.example.net", {5}},  // a folded field
      {"HEADER content-type MULTIPART", {2, 3, 5, 6}},
      {"BODY \"minutes of the board\"", {3}},  // a forwarded message's header is body text
      {"BODY subject", {3}},
      {"CHARSET UTF-8 BODY \"approved \xe2\x80\x93 unanimously\"", {3}},  // Windows-1252 QP
      {"TEXT secret-attachment-word", {}},  // an application part is not text
      {"BODY report.pdf", {}},              // nor is a part's header
      {"BODY VCALENDAR", {6}},              // text/calendar is
      {"BODY \"Trailing epilogue\"", {}},
      {"BODY \"multi-part message in MIME\"", {}},  // the preamble
      {"BODY \"\"", {1, 2, 3, 4, 5, 6, 7}},
      {"BODY short", {7}},
      {"TEXT \"subject: no date\"", {7}},
      {"NOT TEXT example", {7}},
      // 23:45 at -0800 is the next day in UTC; the day the message writes counts.
      {"SENTON 14-Feb-2025 ON 14-Feb-2025", {1}},
      {"NOT SENTON 1-Jan-2000", {1, 2, 3, 4, 5, 6, 7}},  // 7 has no Date field
      {"SENTSINCE 1-Jan-1900", {1, 2, 3, 4, 5, 6}},
  };
  for (const auto& c : cases) EXPECT_EQ(Find(c.query), c.found) << c.query;
}

}  // namespace
}  // namespace kivimap::imap
