#include "server_properties.h"

#include <array>

namespace fixture_host {
namespace {

using kivimap::IkivImapServer;
using kivimap::Status;
using kivimap::WideString;
using Type = ServerPropertyInfo::Type;

constexpr std::array<ServerPropertyInfo, 9> kProperties = {{
    {"BindIP", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_BindIP(v); }, nullptr},
    {"Port", Type::Int32, nullptr,
     [](IkivImapServer* s, std::int32_t v) -> Status { return s->put_Port(v); }},
    {"GreetingMessage", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_GreetingMessage(v); },
     nullptr},
    {"GoodbyeMessage", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_GoodbyeMessage(v); },
     nullptr},
    {"Timeout", Type::Int32, nullptr,
     [](IkivImapServer* s, std::int32_t v) -> Status { return s->put_Timeout(v); }},
    {"DebugFile", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_DebugFile(v); }, nullptr},
    {"MyHostname", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_MyHostname(v); },
     nullptr},
    {"MyIP", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_MyIP(v); }, nullptr},
    {"Version", Type::String,
     [](IkivImapServer* s, const WideString& v) -> Status { return s->put_Version(v); }, nullptr},
}};

}  // namespace

const ServerPropertyInfo* FindServerProperty(std::string_view name) {
  for (const ServerPropertyInfo& p : kProperties) {
    if (p.name == name) return &p;
  }
  return nullptr;
}

}  // namespace fixture_host
