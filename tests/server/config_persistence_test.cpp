// Saving and loading the configuration: the stream record and the text form, what a load sets and
// announces, and that damaged or malformed input changes nothing.
#include <gtest/gtest.h>
#include <unistd.h>

#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

class ChangeRecorder final : public IPropertyNotifySink {
 public:
  std::vector<std::int32_t> changed;
  void OnChanged(std::int32_t dispid) override { changed.push_back(dispid); }
};

// The five saved properties, as one comparable value.
struct Saved {
  WideString bind_ip, greeting, goodbye;
  std::int32_t port = 0, timeout = 0;
  bool operator==(const Saved&) const = default;
};

Saved Read(IkivImapServer* server) {
  Saved s;
  server->get_BindIP(&s.bind_ip);
  server->get_GreetingMessage(&s.greeting);
  server->get_GoodbyeMessage(&s.goodbye);
  server->get_Port(&s.port);
  server->get_Timeout(&s.timeout);
  return s;
}

Ref<IkivImapServer> NewServer() {
  Ref<IkivImapServer> server;
  EXPECT_EQ(CreateImapServer(&server), StatusOk);
  return server;
}

std::string ErrorText() {
  ErrorRecord record;
  if (!GetErrorRecord(&record)) return "(no error record)";
  EXPECT_EQ(record.source.ToNarrow(), "Quillon.kivImapServer.1");
  return record.description.ToNarrow();
}

std::string SavedRecord(IkivImapServer* server) {
  MemoryStream stream;
  EXPECT_EQ(SaveConfigToStream(server, &stream), StatusOk);
  return stream.bytes();
}

// Loads bytes into a server with a listener attached; returns the status, and what the load
// announced in *changed.
Status LoadRecord(IkivImapServer* server, const std::string& bytes,
                  std::vector<std::int32_t>* changed = nullptr) {
  MemoryStream stream;
  stream.Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  server->AdvisePropertyNotify(&recorder, &cookie);
  const Status s = LoadConfigFromStream(server, &stream);
  server->UnadvisePropertyNotify(cookie);
  if (changed) *changed = recorder.changed;
  return s;
}

TEST(ConfigStreamTest, ARecordRestoresTheFivePropertiesInOrderButNotDebugFile) {
  char debug_path[] = "/tmp/kivimap-config-debug-XXXXXX";
  const int fd = ::mkstemp(debug_path);
  ASSERT_GE(fd, 0);
  ::close(fd);
  Ref<IkivImapServer> original = NewServer();
  original->put_BindIP(u"127.0.0.1");
  original->put_Port(1143);
  original->put_Timeout(300);
  // Any UTF-16, a NUL and an escaped 8-bit byte included, and a null text survive.
  original->put_GreetingMessage(std::u16string_view(u"Gr\u00fc\u00dfe \U0001F600 \0 \xDCFF", 13));
  original->put_GoodbyeMessage(WideString::Null());
  original->put_DebugFile(ToWide(debug_path));
  EXPECT_TRUE(original->IsDirty());

  MemoryStream stream;
  ASSERT_EQ(SaveConfigToStream(original.get(), &stream), StatusOk);
  EXPECT_FALSE(original->IsDirty());
  stream.Write("next", 4);  // the host's own data after the record

  Ref<IkivImapServer> restored = NewServer();
  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  restored->AdvisePropertyNotify(&recorder, &cookie);
  ASSERT_EQ(LoadConfigFromStream(restored.get(), &stream), StatusOk);
  restored->UnadvisePropertyNotify(cookie);
  EXPECT_EQ(Read(restored.get()), Read(original.get()));
  EXPECT_EQ(std::make_pair(Read(restored.get()).port, Read(restored.get()).timeout),
            std::make_pair(1143, 300));
  EXPECT_EQ(Text(restored.get(), &IkivImapServer::get_DebugFile), "");
  EXPECT_EQ(recorder.changed, (std::vector<std::int32_t>{1, 4, 3, 2, 5}));
  EXPECT_TRUE(restored->IsDirty());
  char rest[8] = {};
  std::uint32_t got = 0;
  stream.Read(rest, sizeof rest, &got);
  EXPECT_EQ(std::string(rest, got), "next") << "the load reads its record and no further";
  original->put_DebugFile(u"");
  ::unlink(debug_path);
}

TEST(ConfigStreamTest, TruncatedDamagedOrForeignRecordsFailAndChangeNothing) {
  Ref<IkivImapServer> source = NewServer();
  source->put_Port(1143);
  source->put_GreetingMessage(u"hello");
  const std::string record = SavedRecord(source.get());
  Ref<IkivImapServer> target = NewServer();
  target->put_Timeout(77);
  target->SetDirty(false);
  const Saved before = Read(target.get());
  std::vector<std::int32_t> changed;

  for (std::size_t n = 0; n < record.size(); ++n) {
    SCOPED_TRACE("truncated to " + std::to_string(n));
    EXPECT_EQ(LoadRecord(target.get(), record.substr(0, n), &changed), StatusConfigMalformed);
    EXPECT_EQ(
        ErrorText().rfind("Configuration record is truncated: " + std::to_string(n) + " of ", 0),
        0u);
  }
  for (std::size_t i = 0; i < record.size(); ++i) {
    for (const unsigned char mask : {0x01, 0x80}) {
      SCOPED_TRACE("byte " + std::to_string(i) + " ^ " + std::to_string(mask));
      std::string damaged = record;
      damaged[i] = static_cast<char>(damaged[i] ^ mask);
      const Status s = LoadRecord(target.get(), damaged, &changed);
      EXPECT_TRUE(s == StatusConfigMalformed || (s == StatusConfigVersion && (i == 4 || i == 5)));
      EXPECT_TRUE(changed.empty());
      ClearErrorRecord();
    }
  }
  std::string newer = record;
  newer[4] = 2;
  EXPECT_EQ(LoadRecord(target.get(), newer), StatusConfigVersion);
  EXPECT_EQ(ErrorText(),
            "Configuration record version 2 is not supported; this build reads version 1.");
  EXPECT_EQ(LoadRecord(target.get(), "PK\3\4 not a configuration"), StatusConfigMalformed);
  EXPECT_EQ(ErrorText(), "The stream holds no kivimap configuration record.");
  EXPECT_EQ(Read(target.get()), before);
  EXPECT_FALSE(target->IsDirty());
}

TEST(ConfigStreamTest, WhileListeningALoadedBindIPAndPortAreRefusedAndTheRestApplied) {
  Ref<IkivImapServer> source = NewServer();
  source->put_BindIP(u"10.1.2.3");
  source->put_Port(1143);
  source->put_GreetingMessage(u"hi");
  source->put_GoodbyeMessage(u"bye");
  source->put_Timeout(30);
  const std::string record = SavedRecord(source.get());

  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  std::vector<std::int32_t> changed;
  EXPECT_EQ(LoadRecord(server.object.get(), record, &changed), 0x800A7530u);
  EXPECT_EQ(ErrorText(), "Server already started. Use Stop first.");
  EXPECT_EQ(changed, (std::vector<std::int32_t>{3, 2, 5}));
  const Saved now = Read(server.object.get());
  EXPECT_EQ(std::tie(now.bind_ip, now.port), std::make_tuple(WideString(u"127.0.0.1"), 0));
  EXPECT_EQ(std::tie(now.greeting, now.goodbye, now.timeout),
            std::make_tuple(WideString(u"hi"), WideString(u"bye"), 30));
  const std::string greeting = "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] hi ready.\r\n";
  EXPECT_EQ(Client(server.port).Read(greeting.size()), greeting);
}

TEST(ConfigTextTest, SaveWritesAHeadingAndTheFiveNamesThatLoadReadsBack) {
  Ref<IkivImapServer> server = NewServer();
  server->put_Port(1143);
  server->put_GreetingMessage(u"Welcome = \u00e9t\u00e9 # not a comment ");
  server->put_GoodbyeMessage(WideString::Null());
  server->put_Timeout(-1);
  std::string text;
  ASSERT_EQ(SaveConfigText(server.get(), &text), StatusOk);
  EXPECT_FALSE(server->IsDirty());
  EXPECT_EQ(text,
            "# kivimap server configuration: one Name = value a line (BindIP, Port, "
            "GreetingMessage, GoodbyeMessage, Timeout)\n"
            "BindIP =\n"
            "Port = 1143\n"
            "GreetingMessage = Welcome = \xC3\xA9t\xC3\xA9 # not a comment \n"
            "GoodbyeMessage =\n"
            "Timeout = -1\n");
  Ref<IkivImapServer> restored = NewServer();
  ASSERT_EQ(LoadConfigText(restored.get(), text), StatusOk);
  Saved expected = Read(server.get());
  expected.goodbye = WideString::Empty();  // the text form has no null: it reads back empty
  EXPECT_EQ(Read(restored.get()), expected);
}

TEST(ConfigTextTest, LoadSetsWhatTheTextNamesAndHandsBackTheRest) {
  const std::string text =
      "\xEF\xBB\xBF# kivimapd\r\n"
      "maildir = /srv/mail\r\n"
      "\r\n"
      "   # indented comment\n"
      "  pORt=2143\n"
      "TIMEOUT =\t 60 \n"
      "log level = debug";
  Ref<IkivImapServer> server = NewServer();
  PropertyBag unknown;
  unknown.Add("stale", "entry");
  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  server->AdvisePropertyNotify(&recorder, &cookie);
  ASSERT_EQ(LoadConfigText(server.get(), text, &unknown), StatusOk);
  server->UnadvisePropertyNotify(cookie);
  EXPECT_EQ(recorder.changed, (std::vector<std::int32_t>{4, 5}));
  const Saved s = Read(server.get());
  EXPECT_EQ(std::make_pair(s.port, s.timeout), std::make_pair(2143, 60));
  EXPECT_EQ(s.greeting, WideString(u"Quillon Imap server version 1.0.0.7")) << "not named";
  ASSERT_EQ(unknown.entries().size(), 2u);
  EXPECT_EQ(std::tie(unknown.entries()[0].name, unknown.entries()[0].value),
            std::make_tuple("maildir", "/srv/mail"));
  EXPECT_EQ(unknown.entries()[0].line, 2u);
  EXPECT_EQ(std::tie(unknown.entries()[1].name, unknown.entries()[1].value),
            std::make_tuple("log level", "debug"));
  EXPECT_EQ(unknown.entries()[1].line, 7u);
  EXPECT_NE(unknown.Find("LOG LEVEL"), nullptr);
}

TEST(ConfigTextTest, AMalformedTextIsRefusedWithItsLineAndChangesNothing) {
  const std::pair<const char*, const char*> cases[] = {
      {"Port = 1\nnonsense here\n",
       "Configuration line 2: expected Name = value, found \"nonsense here\"."},
      {"# c\n = 5\n", "Configuration line 2: no name before '=' in \"= 5\"."},
      {"Port = abc",
       "Configuration line 1: Port must be a decimal integer of 32 bits, not \"abc\"."},
      {"Timeout = 12x",
       "Configuration line 1: Timeout must be a decimal integer of 32 bits, not \"12x\"."},
      {"Port = 2147483648",
       "Configuration line 1: Port must be a decimal integer of 32 bits, not \"2147483648\"."},
      {"Port =", "Configuration line 1: Port must be a decimal integer of 32 bits, not \"\"."},
      {"Port = - 1",
       "Configuration line 1: Port must be a decimal integer of 32 bits, not \"- 1\"."},
      {"port = 1\nGreetingMessage = x\nPORT = 2",
       "Configuration line 3: Port is given twice (first on line 1)."},
  };
  Ref<IkivImapServer> server = NewServer();
  const Saved before = Read(server.get());
  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  server->AdvisePropertyNotify(&recorder, &cookie);
  for (const auto& [text, message] : cases) {
    SCOPED_TRACE(text);
    PropertyBag unknown;
    unknown.Add("kept", "as it was");
    EXPECT_EQ(LoadConfigText(server.get(), text, &unknown), StatusConfigMalformed);
    EXPECT_EQ(ErrorText(), message);
    EXPECT_EQ(unknown.entries().size(), 1u);
  }
  server->UnadvisePropertyNotify(cookie);
  EXPECT_TRUE(recorder.changed.empty());
  EXPECT_EQ(Read(server.get()), before);
  // Both bounds of 32 bits are integers.
  EXPECT_EQ(LoadConfigText(server.get(), "Port = -2147483648\nTimeout = +2147483647"), StatusOk);
  EXPECT_EQ(std::make_pair(Read(server.get()).port, Read(server.get()).timeout),
            std::make_pair(INT32_MIN, INT32_MAX));
}

TEST(ConfigTextTest, AValueTheTextFormCannotKeepIsNotWritten) {
  const std::pair<std::u16string, const char*> cases[] = {
      {u"two\r\nlines", "GreetingMessage cannot be saved as text: it contains a line break."},
      {u" padded",
       "GreetingMessage cannot be saved as text: it begins with a blank, which the text form does "
       "not keep."},
      {u"lone \xD800",
       "GreetingMessage cannot be saved as text: it holds characters with no "
       "8-bit form."},
      // Two escaped bytes that together read back as one UTF-8 character.
      {u"\xDCC3\xDCA9",
       "GreetingMessage cannot be saved as text: it holds characters with no "
       "8-bit form."},
  };
  for (const auto& [greeting, message] : cases) {
    Ref<IkivImapServer> server = NewServer();
    server->put_GreetingMessage(std::u16string_view(greeting));
    std::string text = "untouched";
    PropertyBag bag;
    bag.Add("maildir", "/srv");
    EXPECT_EQ(SaveConfigText(server.get(), &text), StatusConfigUnwritable);
    EXPECT_EQ(ErrorText(), message);
    EXPECT_EQ(SaveConfigToBag(server.get(), &bag), StatusConfigUnwritable);
    ClearErrorRecord();
    EXPECT_EQ(text, "untouched");
    EXPECT_EQ(bag.entries().size(), 1u);
    EXPECT_TRUE(server->IsDirty());
  }
}

TEST(ConfigTextTest, SavingToABagPutsTheServerFirstAndKeepsTheHostsEntries) {
  PropertyBag bag;
  ASSERT_EQ(PropertyBag::Parse("maildir = /srv/mail\nport = 9\nusers = /etc/users\n", &bag),
            StatusOk);
  ASSERT_EQ(SaveConfigToBag(NewServer().get(), &bag), StatusOk);
  std::vector<std::string> names;
  for (const PropertyBagEntry& e : bag.entries()) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"BindIP", "Port", "GreetingMessage", "GoodbyeMessage",
                                             "Timeout", "maildir", "users"}));
  EXPECT_EQ(bag.Find("PORT")->value, "143");
  // A host's entry is taken only when it reads back as written.
  for (const auto& [name, value] : {std::pair{" name", "v"}, {"#name", "v"}, {"name", " v"}}) {
    EXPECT_EQ(bag.Add(name, value), StatusInvalidArg) << name << "|" << value;
  }
  EXPECT_EQ(bag.entries().size(), 7u);
}

}  // namespace
}  // namespace kivimap::testing
