// Late-bound access to users, by the dispatch ids of IImapUser.
#include <array>
#include <new>
#include <utility>

#include "automation/dispatch_table.h"
#include "store/user.h"

namespace kivimap::store {

namespace {

constexpr InvokeFlags kGet = DispatchPropertyGet | DispatchMethod;
constexpr InvokeFlags kPut = DispatchPropertyPut;
constexpr InvokeFlags kPutRef = DispatchPropertyPut | DispatchPropertyPutRef;

using automation::ExpectArgs;
using automation::SetResult;
using Member = automation::DispatchMember<ImapUser>;

template <class V, Status (ImapUser::*Get)(V*)>
Status GetMember(ImapUser& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  V value{};
  const Status s = (self.*Get)(&value);
  if (s == StatusOk) SetResult(result, Variant(std::move(value)));
  return s;
}

template <Status (ImapUser::*Put)(const WideString&)>
Status PutString(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  WideString value;
  if (Status s = automation::ArgString(p, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

template <Status (ImapUser::*Put)(std::int32_t)>
Status PutInt32(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  std::int32_t value = 0;
  if (Status s = automation::ArgInt32(p, 0, &value); s != StatusOk) return s;
  return (self.*Put)(value);
}

Status GetTimeConnected(ImapUser& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  Date value = 0;
  const Status s = self.get_TimeConnected(&value);
  if (s == StatusOk) SetResult(result, Variant::FromDate(value));
  return s;
}

Status PutTimeConnected(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  double value = 0;
  if (Status s = automation::ArgDouble(p, 0, &value); s != StatusOk) return s;
  return self.put_TimeConnected(value);
}

Status PutTag(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  return self.put_Tag(automation::ArgVariant(p, 0));
}

Status GetFolders(ImapUser& self, DispParams& p, Variant* result) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  Ref<IImapFolders> folders;
  const Status s = self.get_Folders(&folders);
  if (s == StatusOk) SetResult(result, Variant(static_cast<IDispatch*>(folders.get())));
  return s;
}

Status PutFolders(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 1); s != StatusOk) return s;
  IDispatch* object = nullptr;
  if (Status s = automation::ArgObject(p, 0, &object); s != StatusOk) return s;
  auto* folders = dynamic_cast<IImapFolders*>(object);
  if (object && !folders) return StatusInvalidArg;
  return self.putref_Folders(folders);
}

Status CallDisconnect(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = ExpectArgs(p, 0); s != StatusOk) return s;
  return self.Disconnect();
}

Status CallSend(ImapUser& self, DispParams& p, Variant*) {
  return PutString<&ImapUser::Send>(self, p, nullptr);
}

const std::array<Member, 20> kMembers = {{
    {u"Hostname", 1, kGet, GetMember<WideString, &ImapUser::get_Hostname>},
    {u"Hostname", 1, kPut, PutString<&ImapUser::put_Hostname>},
    {u"Username", 2, kGet, GetMember<WideString, &ImapUser::get_Username>},
    {u"Username", 2, kPut, PutString<&ImapUser::put_Username>},
    {u"Password", 3, kGet, GetMember<WideString, &ImapUser::get_Password>},
    {u"Password", 3, kPut, PutString<&ImapUser::put_Password>},
    {u"BytesUpload", 4, kGet, GetMember<std::int32_t, &ImapUser::get_BytesUpload>},
    {u"BytesUpload", 4, kPut, PutInt32<&ImapUser::put_BytesUpload>},
    {u"BytesDownload", 5, kGet, GetMember<std::int32_t, &ImapUser::get_BytesDownload>},
    {u"BytesDownload", 5, kPut, PutInt32<&ImapUser::put_BytesDownload>},
    {u"TimeConnected", 6, kGet, GetTimeConnected},
    {u"TimeConnected", 6, kPut, PutTimeConnected},
    {u"Tag", 7, kGet, GetMember<Variant, &ImapUser::get_Tag>},
    {u"Tag", 7, kPutRef, PutTag},
    {u"State", 8, kGet, GetMember<std::int32_t, &ImapUser::get_State>},
    {u"Index", 9, kGet, GetMember<std::int16_t, &ImapUser::get_Index>},
    {u"Folders", 10, kGet, GetFolders},
    {u"Folders", 10, kPutRef, PutFolders},
    {u"Disconnect", 11, DispatchMethod, CallDisconnect},
    {u"Send", 12, DispatchMethod, CallSend},
}};

}  // namespace

Status ImapUser::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<ImapUser>(kMembers, name, id);
}

Status ImapUser::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  try {
    return automation::DispatchInvoke<ImapUser>(kMembers, *this, id, kind, params, result);
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
}

}  // namespace kivimap::store
