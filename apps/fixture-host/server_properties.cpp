#include "server_properties.h"

namespace fixture_host {
namespace {

using kivimap::IkivImapServer;

constexpr ServerPropertyInfo kProperties[] = {
    {"BindIP", &IkivImapServer::put_BindIP, nullptr},
    {"Port", nullptr, &IkivImapServer::put_Port},
    {"GreetingMessage", &IkivImapServer::put_GreetingMessage, nullptr},
    {"GoodbyeMessage", &IkivImapServer::put_GoodbyeMessage, nullptr},
    {"Timeout", nullptr, &IkivImapServer::put_Timeout},
    {"DebugFile", &IkivImapServer::put_DebugFile, nullptr},
    {"MyHostname", &IkivImapServer::put_MyHostname, nullptr},
    {"MyIP", &IkivImapServer::put_MyIP, nullptr},
    {"Version", &IkivImapServer::put_Version, nullptr},
};

}  // namespace

const ServerPropertyInfo* FindServerProperty(std::string_view name) {
  for (const ServerPropertyInfo& p : kProperties) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace fixture_host
