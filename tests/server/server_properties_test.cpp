// The server object's properties, their defaults, refusals and late-bound access.
#include <gtest/gtest.h>
#include <unistd.h>

#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

std::string Narrow(Status (IkivImapServer::*get)(WideString*), IkivImapServer* server) {
  WideString value;
  EXPECT_EQ((server->*get)(&value), StatusOk);
  return value.ToNarrow();
}

class ChangeRecorder final : public IPropertyNotifySink {
 public:
  std::vector<std::int32_t> changed;
  void OnChanged(std::int32_t dispid) override { changed.push_back(dispid); }
};

void ExpectErrorRecord(Status status, const char* description) {
  ErrorRecord record;
  ASSERT_TRUE(GetErrorRecord(&record));
  EXPECT_EQ(record.status, status);
  EXPECT_EQ(record.description.ToNarrow(), description);
  EXPECT_EQ(record.source.ToNarrow(), "Quillon.kivImapServer.1");
}

TEST(ServerPropertiesTest, StartsWithTheDefaults) {
  TestServer server;
  IkivImapServer* s = server.object.get();
  EXPECT_EQ(Narrow(&IkivImapServer::get_Version, s), "1.0.0.7");
  EXPECT_EQ(Narrow(&IkivImapServer::get_GreetingMessage, s), "Quillon Imap server version 1.0.0.7");
  EXPECT_EQ(Narrow(&IkivImapServer::get_GoodbyeMessage, s), "Quillon Imap server version 1.0.0.7");
  EXPECT_EQ(Narrow(&IkivImapServer::get_BindIP, s), "");
  EXPECT_EQ(Narrow(&IkivImapServer::get_DebugFile, s), "");
  char host[1024] = {};
  ::gethostname(host, sizeof host - 1);
  EXPECT_EQ(Narrow(&IkivImapServer::get_MyHostname, s), host);
  std::int32_t n = 0;
  EXPECT_EQ(s->get_Port(&n), StatusOk);
  EXPECT_EQ(n, 143);
  EXPECT_EQ(s->get_Timeout(&n), StatusOk);
  EXPECT_EQ(n, 120);
  EXPECT_EQ(server.UserCount(), 0);
  EXPECT_EQ(s->get_Users(nullptr), StatusOk);
  EXPECT_FALSE(s->IsDirty());
}

TEST(ServerPropertiesTest, VersionIgnoresWritesAndInformationalFieldsStoreThem) {
  TestServer server;
  EXPECT_EQ(server->put_Version(u"9.9"), StatusOk);
  EXPECT_EQ(Narrow(&IkivImapServer::get_Version, server.object.get()), "1.0.0.7");
  EXPECT_EQ(server->put_MyIP(u"10.1.2.3"), StatusOk);
  EXPECT_EQ(Narrow(&IkivImapServer::get_MyIP, server.object.get()), "10.1.2.3");
  EXPECT_EQ(server->put_MyHostname(u"box"), StatusOk);
  EXPECT_EQ(Narrow(&IkivImapServer::get_MyHostname, server.object.get()), "box");
}

TEST(ServerPropertiesTest, SavedPropertiesMarkTheObjectAndNotifyListeners) {
  TestServer server;
  ChangeRecorder recorder;
  std::uint32_t cookie = 0;
  ASSERT_EQ(server->AdvisePropertyNotify(&recorder, &cookie), StatusOk);
  server->put_BindIP(u"127.0.0.1");
  server->put_GoodbyeMessage(u"bye");
  server->put_GreetingMessage(u"hi");
  server->put_Port(1143);
  server->put_Timeout(30);
  // Not saved, not announced:
  server->put_DebugFile(u"");
  server->put_MyIP(u"1.2.3.4");
  server->put_Version(u"x");
  EXPECT_EQ(recorder.changed, (std::vector<std::int32_t>{1, 2, 3, 4, 5}));
  EXPECT_TRUE(server->IsDirty());
  server->UnadvisePropertyNotify(cookie);
}

TEST(ServerPropertiesTest, WhileStartedAddressAndPortAreRefusedAndTheRestIsTaken) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  ClearErrorRecord();
  EXPECT_EQ(server->Start(), 0x800A7530u);
  ExpectErrorRecord(0x800A7530u, "Server already started. Use Stop first.");
  EXPECT_EQ(server->put_Port(1), 0x800A7530u);
  ExpectErrorRecord(0x800A7530u, "Server already started. Use Stop first.");
  EXPECT_EQ(server->put_BindIP(u"10.0.0.1"), 0x800A7530u);
  std::int32_t port = 0;
  server->get_Port(&port);
  EXPECT_EQ(port, 0);
  EXPECT_EQ(Narrow(&IkivImapServer::get_BindIP, server.object.get()), "127.0.0.1");
  EXPECT_EQ(server->put_Timeout(5), StatusOk);
  EXPECT_EQ(server->put_GreetingMessage(u"later"), StatusOk);
  EXPECT_EQ(server->Stop(), StatusOk);
  EXPECT_EQ(server->Stop(), StatusOk) << "Stop always succeeds";
  EXPECT_EQ(server->put_Port(1143), StatusOk);
}

TEST(ServerPropertiesTest, AnAddressThatDoesNotParseIsRefusedAtStart) {
  for (const char16_t* address : {u"abc", u"255.255.255.255", u"1.2.3.4.5"}) {
    TestServer server;
    server->put_BindIP(address);
    server->put_Port(0);
    ClearErrorRecord();
    EXPECT_EQ(server->Start(), 0x800A7531u);
    ExpectErrorRecord(0x800A7531u, "An invalid argument was supplied in BindIP property.");
    EXPECT_FALSE(server.object->started());
    // The configuration is kept, and a corrected address starts.
    EXPECT_EQ(Narrow(&IkivImapServer::get_BindIP, server.object.get()),
              WideString(address).ToNarrow());
    server->put_BindIP(u"127.0.0.1");
    EXPECT_EQ(server->Start(), StatusOk);
  }
}

TEST(ServerPropertiesTest, MembersAnswerByDispatchId) {
  TestServer server;
  DispId id = 0;
  EXPECT_EQ(server->GetIDsOfNames(u"greetingMESSAGE", &id), StatusOk);
  EXPECT_EQ(id, 3);
  EXPECT_EQ(server->GetIDsOfNames(u"DebugFile", &id), StatusOk);
  EXPECT_EQ(id, 12);
  EXPECT_EQ(server->GetIDsOfNames(u"Nothing", &id), StatusUnknownName);

  DispParams none;
  Variant result;
  EXPECT_EQ(server->Invoke(4, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_EQ(result.i4(), 143);
  DispParams port = DispParams::FromNatural({Variant(std::int32_t{0})});
  EXPECT_EQ(server->Invoke(4, DispatchPropertyPut, port, nullptr), StatusOk);
  DispParams address = DispParams::FromNatural({Variant(u"127.0.0.1")});
  EXPECT_EQ(server->Invoke(1, DispatchPropertyPut, address, nullptr), StatusOk);
  EXPECT_EQ(server->Invoke(10, DispatchMethod, none, nullptr), StatusOk);
  EXPECT_TRUE(server.object->started());
  EXPECT_EQ(server->Invoke(9, DispatchPropertyGet, none, &result), StatusOk);
  EXPECT_NE(dynamic_cast<IImapUsers*>(result.dispatch()), nullptr);
  EXPECT_EQ(server->Invoke(11, DispatchMethod, none, nullptr), StatusOk);
  EXPECT_FALSE(server.object->started());
  EXPECT_EQ(server->Invoke(13, DispatchMethod, none, nullptr), StatusMemberNotFound);
  DispParams text = DispParams::FromNatural({Variant(u"x")});
  EXPECT_EQ(server->Invoke(4, DispatchPropertyPut, text, nullptr), StatusInvalidArg);
}

TEST(ServerPropertiesTest, CreateImapServerHandsOutAWorkingServer) {
  Ref<IkivImapServer> server;
  ASSERT_EQ(CreateImapServer(&server), StatusOk);
  ASSERT_TRUE(server);
  EXPECT_EQ(CreateImapServer(nullptr), StatusPointer);
  WideString version;
  EXPECT_EQ(server->get_Version(&version), StatusOk);
  EXPECT_EQ(version.ToNarrow(), "1.0.0.7");
}

}  // namespace
}  // namespace kivimap::testing
