// Late-bound access to the server object: its members by dispatch id.
#include <array>
#include <new>

#include "automation/dispatch_table.h"
#include "server/imap_server.h"

namespace kivimap::server {

namespace {

constexpr InvokeFlags kGet = DispatchPropertyGet | DispatchMethod;
constexpr InvokeFlags kPut = DispatchPropertyPut;

using automation::ExpectArgs;
using automation::SetResult;
using Member = automation::DispatchMember<CkivImapServer>;

template <Status (CkivImapServer::*Get)(WideString*)>
Status GetString(CkivImapServer& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  WideString value;
  const Status s = (self.*Get)(&value);
  if (s == StatusOk) SetResult(result, Variant(std::move(value)));
  return s;
}

template <Status (CkivImapServer::*Put)(const WideString&)>
Status PutString(CkivImapServer& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  WideString value;
  if (Status s = automation::ArgString(p, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

template <Status (CkivImapServer::*Get)(std::int32_t*)>
Status GetInt32(CkivImapServer& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  std::int32_t value = 0;
  const Status s = (self.*Get)(&value);
  if (s == StatusOk) SetResult(result, Variant(value));
  return s;
}

template <Status (CkivImapServer::*Put)(std::int32_t)>
Status PutInt32(CkivImapServer& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  std::int32_t value = 0;
  if (Status s = automation::ArgInt32(p, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

template <Status (CkivImapServer::*Call)()>
Status Method(CkivImapServer& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  return (self.*Call)();
}

Status GetUsers(CkivImapServer& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  Ref<IImapUsers> users;
  const Status s = self.get_Users(&users);
  if (s == StatusOk) SetResult(result, Variant(static_cast<IDispatch*>(users.get())));
  return s;
}

const std::array<Member, 21> kMembers = {{
    {u"BindIP", 1, kGet, GetString<&CkivImapServer::get_BindIP>},
    {u"BindIP", 1, kPut, PutString<&CkivImapServer::put_BindIP>},
    {u"GoodbyeMessage", 2, kGet, GetString<&CkivImapServer::get_GoodbyeMessage>},
    {u"GoodbyeMessage", 2, kPut, PutString<&CkivImapServer::put_GoodbyeMessage>},
    {u"GreetingMessage", 3, kGet, GetString<&CkivImapServer::get_GreetingMessage>},
    {u"GreetingMessage", 3, kPut, PutString<&CkivImapServer::put_GreetingMessage>},
    {u"Port", 4, kGet, GetInt32<&CkivImapServer::get_Port>},
    {u"Port", 4, kPut, PutInt32<&CkivImapServer::put_Port>},
    {u"Timeout", 5, kGet, GetInt32<&CkivImapServer::get_Timeout>},
    {u"Timeout", 5, kPut, PutInt32<&CkivImapServer::put_Timeout>},
    {u"MyHostname", 6, kGet, GetString<&CkivImapServer::get_MyHostname>},
    {u"MyHostname", 6, kPut, PutString<&CkivImapServer::put_MyHostname>},
    {u"MyIP", 7, kGet, GetString<&CkivImapServer::get_MyIP>},
    {u"MyIP", 7, kPut, PutString<&CkivImapServer::put_MyIP>},
    {u"Version", 8, kGet, GetString<&CkivImapServer::get_Version>},
    {u"Version", 8, kPut, PutString<&CkivImapServer::put_Version>},
    {u"Users", 9, kGet, GetUsers},
    {u"Start", 10, DispatchMethod, Method<&CkivImapServer::Start>},
    {u"Stop", 11, DispatchMethod, Method<&CkivImapServer::Stop>},
    {u"DebugFile", 12, kGet, GetString<&CkivImapServer::get_DebugFile>},
    {u"DebugFile", 12, kPut, PutString<&CkivImapServer::put_DebugFile>},
}};

}  // namespace

Status CkivImapServer::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<CkivImapServer>(kMembers, name, id);
}

Status CkivImapServer::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  try {
    return automation::DispatchInvoke<CkivImapServer>(kMembers, *this, id, kind, params, result);
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
}

}  // namespace kivimap::server
