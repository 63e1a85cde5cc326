// ENVELOPE: the one-address parser, and whole envelopes of written messages.
#include "imap/envelope.h"

#include <gtest/gtest.h>

#include <string>

#include "store/store_test_support.h"

namespace kivimap::imap {
namespace {

using store::testing::MessageOn;
using store::testing::TempDir;

TEST(ParseAddressTest, Table) {
  const std::nullopt_t none = std::nullopt;
  const struct {
    const char* text;
    std::optional<std::string_view> name, mailbox, host;
  } cases[] = {
      {"Ann <ann@h>", none, "ann", "h"},
      {"\"Ann\" <ann@h>", "Ann", "ann", "h"},
      {"ann@h", none, "ann", "h"},
      {"\"Ann\" ann@h", "Ann", none, none},
      {"undisclosed-recipients:;", "undisclosed-recipients:;", none, none},
      {"<ann>", "<ann", none, none},
      {"Ann <ann> trailing", "Ann <ann", none, none},  // cut at ">" also for the name
      {"\"\" <@h>", "\"\" <@h", "", "h"},
  };
  for (const auto& c : cases) {
    const ParsedAddress address = ParseAddress(c.text);
    EXPECT_EQ(address.name, c.name) << c.text;
    EXPECT_EQ(address.mailbox, c.mailbox) << c.text;
    EXPECT_EQ(address.host, c.host) << c.text;
  }
}

TEST(EnvelopeTest, FieldsInTheirPlacesAndEveryValueAValidImapString) {
  TempDir dir;
  const std::string ann = " ((\"Ann Lee\" NIL \"ann\" \"h\"))";
  const std::string bare = " ((NIL NIL \"ann\" \"h\"))";
  const struct {
    const char* header;
    std::string envelope;
  } cases[] = {
      {"Date: Tue, 1 Jul 2003 10:52:37 +0200\r\nSubject: Hi\r\nFrom: \"Ann Lee\" <ann@h>\r\n",
       "(\"Tue, 1 Jul 2003 10:52:37 +0200\" \"Hi\"" + ann + ann + ann +
           " NIL NIL NIL NIL \"<?>\")"},
      {"", "(NIL NIL NIL NIL NIL NIL NIL NIL NIL \"<?>\")"},
      // Sender and Reply-To always repeat From; To and Cc hold one address each.
      {"message-id: <1@h>\r\ncc: c@h\r\nto: a@h, b@h\r\nreply-to: r@h\r\nsender: s@h\r\n",
       "(NIL NIL NIL NIL NIL ((NIL NIL \"a\" \"h, b@h\")) ((NIL NIL \"c\" \"h\")) NIL NIL "
       "\"<1@h>\")"},
      {"From: Ann Lee <ann@h>\r\n", "(NIL NIL" + bare + bare + bare + " NIL NIL NIL NIL \"<?>\")"},
      {"To: ann@h (Ann)\r\n",
       "(NIL NIL NIL NIL NIL ((NIL NIL \"ann\" \"h (Ann)\")) NIL NIL NIL \"<?>\")"},
      {"Subject: a\\b \"c\"\r\n", "(NIL \"a\\\\b \\\"c\\\"\" NIL NIL NIL NIL NIL NIL NIL \"<?>\")"},
      {"Subject: one\r\n\ttwo\r\n",
       "(NIL {9}\r\none\r\n\ttwo NIL NIL NIL NIL NIL NIL NIL \"<?>\")"},
      {"To: \"A\\\\B\" <a\"b@h>\r\nCc: friends:\r\n\t;\r\n",
       "(NIL NIL NIL NIL NIL ((\"A\\\\\\\\B\" NIL \"a\\\"b\" \"h\")) "
       "(({12}\r\nfriends:\r\n\t; NIL NIL NIL)) NIL NIL \"<?>\")"},
  };
  for (const auto& c : cases) {
    Ref<store::ImapMessage> message =
        MessageOn(dir.Write("m.eml", std::string(c.header) + "\r\nbody\r\n"));
    std::string out;
    BuildEnvelope(out, *message);
    EXPECT_EQ(out, c.envelope) << c.header;
  }
  Ref<store::ImapMessage> missing = MessageOn(dir.File("missing"));
  std::string out;
  BuildEnvelope(out, *missing);
  EXPECT_EQ(out, "()");
}

}  // namespace
}  // namespace kivimap::imap
