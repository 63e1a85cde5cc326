// Late-bound access to the server object: its members by dispatch id.
#include <array>

#include "automation/dispatch_table.h"
#include "server/imap_server.h"

namespace kivimap::server {

namespace {

using namespace automation::glue;  // NOLINT: table building blocks
using Member = automation::DispatchMember<CkivImapServer>;

const std::array<Member, 21> kMembers = {{
    {u"BindIP", 1, kGet, Get<&CkivImapServer::get_BindIP>},
    {u"BindIP", 1, kPut, Put<&CkivImapServer::put_BindIP>},
    {u"GoodbyeMessage", 2, kGet, Get<&CkivImapServer::get_GoodbyeMessage>},
    {u"GoodbyeMessage", 2, kPut, Put<&CkivImapServer::put_GoodbyeMessage>},
    {u"GreetingMessage", 3, kGet, Get<&CkivImapServer::get_GreetingMessage>},
    {u"GreetingMessage", 3, kPut, Put<&CkivImapServer::put_GreetingMessage>},
    {u"Port", 4, kGet, Get<&CkivImapServer::get_Port>},
    {u"Port", 4, kPut, Put<&CkivImapServer::put_Port>},
    {u"Timeout", 5, kGet, Get<&CkivImapServer::get_Timeout>},
    {u"Timeout", 5, kPut, Put<&CkivImapServer::put_Timeout>},
    {u"MyHostname", 6, kGet, Get<&CkivImapServer::get_MyHostname>},
    {u"MyHostname", 6, kPut, Put<&CkivImapServer::put_MyHostname>},
    {u"MyIP", 7, kGet, Get<&CkivImapServer::get_MyIP>},
    {u"MyIP", 7, kPut, Put<&CkivImapServer::put_MyIP>},
    {u"Version", 8, kGet, Get<&CkivImapServer::get_Version>},
    {u"Version", 8, kPut, Put<&CkivImapServer::put_Version>},
    {u"Users", 9, kGet, Get<&CkivImapServer::get_Users>},
    {u"Start", 10, DispatchMethod, Method<&CkivImapServer::Start>},
    {u"Stop", 11, DispatchMethod, Method<&CkivImapServer::Stop>},
    {u"DebugFile", 12, kGet, Get<&CkivImapServer::get_DebugFile>},
    {u"DebugFile", 12, kPut, Put<&CkivImapServer::put_DebugFile>},
}};

}  // namespace

Status CkivImapServer::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<CkivImapServer>(kMembers, name, id);
}

Status CkivImapServer::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke<CkivImapServer>(kMembers, *this, id, kind, params, result);
}

}  // namespace kivimap::server
