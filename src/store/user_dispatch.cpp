// Late-bound access to users, by the dispatch ids of IImapUser.
#include <array>

#include "automation/dispatch_table.h"
#include "store/user.h"

namespace kivimap::store {

namespace {

using namespace automation::glue;  // NOLINT: table building blocks
using Member = automation::DispatchMember<ImapUser>;

// Folders takes a folder collection, or nothing (Empty or Null) to keep the one the user has.
Status PutFolders(ImapUser& self, DispParams& p, Variant*) {
  if (Status s = automation::ExpectArgs(p, 1); s != StatusOk) return s;
  IDispatch* object = nullptr;
  if (Status s = automation::ArgObject(p, 0, &object); s != StatusOk) return s;
  auto* folders = dynamic_cast<IImapFolders*>(object);
  if (object && !folders) return StatusInvalidArg;
  return self.putref_Folders(folders);
}

const std::array<Member, 20> kMembers = {{
    {u"Hostname", 1, kGet, Get<&ImapUser::get_Hostname>},
    {u"Hostname", 1, kPut, Put<&ImapUser::put_Hostname>},
    {u"Username", 2, kGet, Get<&ImapUser::get_Username>},
    {u"Username", 2, kPut, Put<&ImapUser::put_Username>},
    {u"Password", 3, kGet, Get<&ImapUser::get_Password>},
    {u"Password", 3, kPut, Put<&ImapUser::put_Password>},
    {u"BytesUpload", 4, kGet, Get<&ImapUser::get_BytesUpload>},
    {u"BytesUpload", 4, kPut, Put<&ImapUser::put_BytesUpload>},
    {u"BytesDownload", 5, kGet, Get<&ImapUser::get_BytesDownload>},
    {u"BytesDownload", 5, kPut, Put<&ImapUser::put_BytesDownload>},
    {u"TimeConnected", 6, kGet, Get<&ImapUser::get_TimeConnected, AsDate>},
    {u"TimeConnected", 6, kPut, Put<&ImapUser::put_TimeConnected>},
    {u"Tag", 7, kGet, Get<&ImapUser::get_Tag>},
    {u"Tag", 7, kPutAny, Put<&ImapUser::put_Tag>},
    {u"State", 8, kGet, Get<&ImapUser::get_State>},
    {u"Index", 9, kGet, Get<&ImapUser::get_Index>},
    {u"Folders", 10, kGet, Get<&ImapUser::get_Folders>},
    {u"Folders", 10, kPutAny, PutFolders},
    {u"Disconnect", 11, DispatchMethod, Method<&ImapUser::Disconnect>},
    {u"Send", 12, DispatchMethod, Put<&ImapUser::Send>},
}};

}  // namespace

Status ImapUser::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<ImapUser>(kMembers, name, id);
}

Status ImapUser::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke<ImapUser>(kMembers, *this, id, kind, params, result);
}

}  // namespace kivimap::store
