// The General property page: activation from the first server, apply to all of them, the
// reading of Port and Timeout, and the changed flag its site is told about.
#include <gtest/gtest.h>

#include "server/server_test_support.h"

namespace kivimap::testing {
namespace {

using Page = kivImapServerPropPageGeneral;

class SiteRecorder final : public IPropertyPageSite {
 public:
  std::vector<bool> told;
  void OnStatusChange(bool changed) override { told.push_back(changed); }
};

Ref<IkivImapServer> NewServer() {
  Ref<IkivImapServer> server;
  EXPECT_EQ(CreateImapServer(&server), StatusOk);
  return server;
}

std::pair<std::int32_t, std::int32_t> PortAndTimeout(IkivImapServer* server) {
  std::pair<std::int32_t, std::int32_t> values;
  server->get_Port(&values.first);
  server->get_Timeout(&values.second);
  return values;
}

TEST(PropertyPageTest, ActivationFillsTheFieldsFromTheFirstServer) {
  Ref<IkivImapServer> first = NewServer(), second = NewServer();
  first->put_GreetingMessage(u"h\u00e9llo");
  first->put_BindIP(u"127.0.0.1");
  first->put_Port(65679);
  first->put_Timeout(-1);
  second->put_GreetingMessage(u"other");
  SiteRecorder site;
  Page page(&site);
  EXPECT_EQ(page.Activate(), StatusOk) << "nothing attached: nothing happens";
  EXPECT_EQ(page.Field(Page::FieldPort), "");

  IkivImapServer* servers[] = {first.get(), second.get()};
  ASSERT_EQ(page.SetObjects(servers), StatusOk);
  ASSERT_EQ(page.Activate(), StatusOk);
  EXPECT_EQ(page.Field(Page::FieldGreetingMessage), "h\xC3\xA9llo");
  EXPECT_EQ(page.Field(Page::FieldGoodbyeMessage), "Quillon Imap server version 1.0.0.7");
  EXPECT_EQ(page.Field(Page::FieldBindIP), "127.0.0.1");
  EXPECT_EQ(page.Field(Page::FieldPort), "65679");
  EXPECT_EQ(page.Field(Page::FieldTimeout), "4294967295");
  EXPECT_FALSE(page.IsChanged());
  EXPECT_TRUE(site.told.empty());

  EXPECT_EQ(page.SetField(Page::FieldBindIP, "0.0.0.0"), StatusOk);
  EXPECT_EQ(page.SetField(Page::FieldPort, "25"), StatusOk);
  EXPECT_TRUE(page.IsChanged());
  EXPECT_EQ(site.told, std::vector<bool>{true}) << "told once, when the flag changed";
  EXPECT_EQ(page.SetField(206, "x"), StatusInvalidArg);
  EXPECT_EQ(page.Field(212), "");
  IkivImapServer* with_null[] = {first.get(), nullptr};
  EXPECT_EQ(page.SetObjects(with_null), StatusPointer);
  EXPECT_EQ(page.ObjectCount(), 2u);
}

TEST(PropertyPageTest, ApplyReadsTheLeadingIntegerOfPortAndTimeoutIntoEveryServer) {
  const std::pair<const char*, std::int32_t> cases[] = {
      {"abc", 0},
      {"25x", 25},
      {"", 0},
      {"  -7 ", -7},
      {"+8", 8},
      {"4294967295", -1},  // what activation shows for -1
      {"2147483648", INT32_MIN},
      {"99999999999999999999999", -1},
      {"-99999999999999999999999", INT32_MIN},
      {"- 5", 0},
  };
  Ref<IkivImapServer> first = NewServer(), second = NewServer();
  IkivImapServer* servers[] = {first.get(), second.get()};
  SiteRecorder site;
  Page page(&site);
  ASSERT_EQ(page.SetObjects(servers), StatusOk);
  ASSERT_EQ(page.Activate(), StatusOk);
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    page.SetField(Page::FieldPort, text);
    page.SetField(Page::FieldTimeout, text);
    site.told.clear();
    ASSERT_EQ(page.Apply(), StatusOk);
    EXPECT_FALSE(page.IsChanged());
    EXPECT_EQ(site.told, std::vector<bool>{false});
    EXPECT_EQ(PortAndTimeout(first.get()), std::make_pair(expected, expected));
    EXPECT_EQ(PortAndTimeout(second.get()), std::make_pair(expected, expected));
  }
  // Activation then Apply with no edit leaves every value as it was, negative ones included.
  first->put_Port(-143);
  first->put_Timeout(INT32_MIN);
  first->put_GreetingMessage(WideString(std::u16string(3000, u'g')));
  ASSERT_EQ(page.Activate(), StatusOk);
  ASSERT_EQ(page.Apply(), StatusOk);
  EXPECT_EQ(PortAndTimeout(second.get()), std::make_pair(-143, INT32_MIN));
  EXPECT_EQ(Text(second.get(), &IkivImapServer::get_GreetingMessage), std::string(3000, 'g'))
      << "a long text is applied whole";
}

TEST(PropertyPageTest, ApplyWhileListeningChangesTheTextsAndTimeoutButNotTheAddress) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  IkivImapServer* servers[] = {server.object.get()};
  Page page;
  ASSERT_EQ(page.SetObjects(servers), StatusOk);
  ASSERT_EQ(page.Activate(), StatusOk);
  page.SetField(Page::FieldGreetingMessage, "Hello");
  page.SetField(Page::FieldGoodbyeMessage, "So long");
  page.SetField(Page::FieldBindIP, "10.0.0.1");
  page.SetField(Page::FieldPort, "1143");
  page.SetField(Page::FieldTimeout, "30");
  EXPECT_EQ(page.Apply(), StatusOk) << "refused setters are not looked at";
  EXPECT_FALSE(page.IsChanged());
  EXPECT_EQ(Text<IkivImapServer>(server.object.get(), &IkivImapServer::get_BindIP), "127.0.0.1");
  EXPECT_EQ(PortAndTimeout(server.object.get()), std::make_pair(0, 30));
  EXPECT_EQ(Text<IkivImapServer>(server.object.get(), &IkivImapServer::get_GoodbyeMessage),
            "So long");
  const std::string greeting = "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] Hello ready.\r\n";
  EXPECT_EQ(Client(server.port).Read(greeting.size()), greeting);
}

}  // namespace
}  // namespace kivimap::testing
