// The server object's properties: defaults, change notification, refusals with their error
// records, restarting, and late-bound access.
#include <gtest/gtest.h>
#include <unistd.h>

#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

using TextGetter = Status (IkivImapServer::*)(WideString*);

void ExpectErrorRecord(Status status, const char* description) {
  ErrorRecord record;
  ASSERT_TRUE(GetErrorRecord(&record));
  EXPECT_EQ(record.status, status);
  EXPECT_EQ(record.description.ToNarrow(), description);
  EXPECT_EQ(record.source.ToNarrow(), "Quillon.kivImapServer.1");
  ClearErrorRecord();
}

class ChangeRecorder final : public IPropertyNotifySink {
 public:
  std::vector<std::int32_t> changed;
  void OnChanged(std::int32_t dispid) override { changed.push_back(dispid); }
};

TEST(ServerPropertiesTest, DefaultsThenSavedPropertiesMarkTheObjectAndNotifyListeners) {
  EXPECT_EQ(CreateImapServer(nullptr), StatusPointer);
  Ref<IkivImapServer> server;
  ASSERT_EQ(CreateImapServer(&server), StatusOk);
  char host[1024] = {};
  ::gethostname(host, sizeof host - 1);
  const std::pair<TextGetter, std::string> texts[] = {
      {&IkivImapServer::get_Version, "1.0.0.7"},
      {&IkivImapServer::get_GreetingMessage, "Quillon Imap server version 1.0.0.7"},
      {&IkivImapServer::get_GoodbyeMessage, "Quillon Imap server version 1.0.0.7"},
      {&IkivImapServer::get_BindIP, ""},
      {&IkivImapServer::get_DebugFile, ""},
      {&IkivImapServer::get_MyHostname, host},
  };
  for (const auto& [get, expected] : texts) EXPECT_EQ(Text(server.get(), get), expected);
  std::int32_t port = 0;
  std::int32_t timeout = 0;
  server->get_Port(&port);
  server->get_Timeout(&timeout);
  EXPECT_EQ(std::make_pair(port, timeout), std::make_pair(143, 120));
  EXPECT_FALSE(server->IsDirty());

  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  ASSERT_EQ(server->AdvisePropertyNotify(&recorder, &cookie), StatusOk);
  server->put_BindIP(u"127.0.0.1");
  server->put_GoodbyeMessage(u"bye");
  server->put_GreetingMessage(u"hi");
  server->put_Port(1143);
  server->put_Timeout(30);
  // Not saved, not announced; Version does not change at all.
  server->put_DebugFile(u"");
  server->put_MyIP(u"1.2.3.4");
  EXPECT_EQ(server->put_Version(u"9.9"), StatusOk);
  EXPECT_EQ(Text(server.get(), &IkivImapServer::get_Version), "1.0.0.7");
  EXPECT_EQ(recorder.changed, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(server->IsDirty());
  server->UnadvisePropertyNotify(cookie);
}

TEST(ServerPropertiesTest, WhileStartedStartPortAndAddressAreRefusedThenItRestartsOnThePort) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  {
    Client client(server);
    client.Send("a1 LOGOUT\r\n");
    client.ReadUntilClosed();  // the server closed first: its side lingers
  }
  constexpr Status kStarted = 0x800A7530u;
  ClearErrorRecord();
  EXPECT_EQ(server->Start(), kStarted);
  ExpectErrorRecord(kStarted, "Server already started. Use Stop first.");
  EXPECT_EQ(server->put_Port(1), kStarted);
  ExpectErrorRecord(kStarted, "Server already started. Use Stop first.");
  EXPECT_EQ(server->put_BindIP(u"10.0.0.1"), kStarted);
  ExpectErrorRecord(kStarted, "Server already started. Use Stop first.");
  std::int32_t port = -1;
  server->get_Port(&port);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(Text<IkivImapServer>(server.object.get(), &IkivImapServer::get_BindIP), "127.0.0.1");
  EXPECT_EQ(server->put_Timeout(5), StatusOk);
  EXPECT_EQ(server->put_GreetingMessage(u"later"), StatusOk);

  EXPECT_EQ(server->Stop(), StatusOk);
  EXPECT_EQ(server->Stop(), StatusOk) << "Stop always succeeds";
  EXPECT_FALSE(Client(server.port).connected) << "nothing listens after Stop";
  EXPECT_EQ(server->put_Port(server.port), StatusOk);
  ASSERT_EQ(server->Start(), StatusOk);
  const std::string greeting = "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] later ready.\r\n";
  EXPECT_EQ(Client(server.port).Read(greeting.size()), greeting);
}

TEST(ServerPropertiesTest, AFailedStartKeepsTheSettingsAndCanBeRetried) {
  TestServer blocker;
  ASSERT_EQ(blocker.Start(), StatusOk);
  TestServer server;
  server->put_Port(blocker.port);
  server->put_BindIP(u"1.2.3.4.5");
  EXPECT_EQ(server->Start(), 0x800A7531u);
  ExpectErrorRecord(0x800A7531u, "An invalid argument was supplied in BindIP property.");
  EXPECT_EQ(Text<IkivImapServer>(server.object.get(), &IkivImapServer::get_BindIP), "1.2.3.4.5");
  server->put_BindIP(u"127.0.0.1");
  EXPECT_EQ(server->Start(), StatusFromErrorCode(EADDRINUSE));
  ExpectErrorRecord(StatusFromErrorCode(EADDRINUSE), "Could not bind socket.");
  EXPECT_FALSE(server.object->started());
  blocker->Stop();
  ASSERT_EQ(server->Start(), StatusOk);
  Client client(blocker.port);
  EXPECT_EQ(client.Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
}

TEST(ServerPropertiesTest, MembersAnswerByDispatchId) {
  TestServer server;
  DispId id = 0;
  EXPECT_EQ(server->GetIDsOfNames(u"greetingMESSAGE", &id), StatusOk);
  EXPECT_EQ(id, 3);
  DispParams none;
  Variant result;
  EXPECT_EQ(server->Invoke(4, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result.i4(), 143);
  DispParams port = DispParams::FromNatural({Variant(std::int32_t{0})});
  EXPECT_EQ(server->Invoke(4, DispatchPropertyPut, port, nullptr), StatusOk);
  EXPECT_EQ(server->Invoke(10, DispatchMethod, none, nullptr), StatusOk);
  EXPECT_TRUE(server.object->started());
  EXPECT_EQ(server->Invoke(9, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_NE(dynamic_cast<IImapUsers*>(result.dispatch()), nullptr);
  EXPECT_EQ(server->Invoke(11, DispatchMethod, none, nullptr), StatusOk);
  EXPECT_FALSE(server.object->started());
}

}  // namespace
}  // namespace kivimap::testing

namespace kivimap::testing {
namespace {

TEST(ServerPropertiesTest, TheProtocolLevelIsDescribedUntilTheHostChoosesAnother) {
  Ref<IkivImapServer> server;
  ASSERT_EQ(CreateImapServer(&server), StatusOk);
  EXPECT_EQ(server->GetProtocolLevel(), ProtocolLevel::Described);
  EXPECT_EQ(server->SetProtocolLevel(ProtocolLevel::Modern), StatusOk);
  EXPECT_EQ(server->GetProtocolLevel(), ProtocolLevel::Modern);
  EXPECT_EQ(server->SetProtocolLevel(static_cast<ProtocolLevel>(7)), StatusInvalidArg);
  EXPECT_EQ(server->GetProtocolLevel(), ProtocolLevel::Modern);
  // Not a saved property: nothing to save, nothing changed.
  EXPECT_FALSE(server->IsDirty());
}

}  // namespace
}  // namespace kivimap::testing
