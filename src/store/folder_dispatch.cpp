// Late-bound access to folders and folder collections, by the dispatch ids of their interfaces.
#include "store/dispatch_helpers.h"
#include "store/folders.h"
#include "store/guarded_call.h"

namespace kivimap::store {
namespace {

using namespace dispatch;  // NOLINT: table building blocks
using FolderMember = automation::DispatchMember<ImapFolder>;
using FoldersMember = automation::DispatchMember<ImapFolders>;

Status GetSubscribed(ImapFolder& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 0); s != StatusOk) return s;
  VariantBool value = VariantFalse;
  const Status s = self.get_Subscribed(&value);
  if (s == StatusOk) SetResult(result, Variant(value != VariantFalse));
  return s;
}

Status PutSubscribed(ImapFolder& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  std::int16_t value = 0;
  if (Status s = ArgInt16(params, 0, &value); s != StatusOk) return s;
  return self.put_Subscribed(value);
}

constexpr FolderMember kFolderMembers[] = {
    {u"Name", 1, kGet, &Get<ImapFolder, WideString, &ImapFolder::get_Name>},
    {u"Name", 1, kPut, &PutString<ImapFolder, &ImapFolder::put_Name>},
    {u"Messages", 2, kGet, &Get<ImapFolder, Ref<IImapMessages>, &ImapFolder::get_Messages>},
    {u"SubFolders", 3, kGet, &Get<ImapFolder, Ref<IImapFolders>, &ImapFolder::get_SubFolders>},
    {u"Tag", 4, kGet, &Get<ImapFolder, Variant, &ImapFolder::get_Tag>},
    {u"Tag", 4, kPutAny, &PutVariant<ImapFolder, &ImapFolder::put_Tag>},
    {u"UID", 5, kGet, &Get<ImapFolder, std::int32_t, &ImapFolder::get_UID>},
    {u"UID", 5, kPut, &PutInt32<ImapFolder, &ImapFolder::put_UID>},
    {u"Location", 6, kGet, &Get<ImapFolder, WideString, &ImapFolder::get_Location>},
    {u"Location", 6, kPut, &PutString<ImapFolder, &ImapFolder::put_Location>},
    {u"Subscribed", 7, kGet, &GetSubscribed},
    {u"Subscribed", 7, kPut, &PutSubscribed},
    {u"Path", 8, kGet, &Get<ImapFolder, WideString, &ImapFolder::get_Path>},
    {u"NextMessageUID", 9, kGet, &Get<ImapFolder, std::int32_t, &ImapFolder::get_NextMessageUID>},
    {u"NextMessageUID", 9, kPut, &PutInt32<ImapFolder, &ImapFolder::put_NextMessageUID>},
};

Status FoldersItem(ImapFolders& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  Ref<IImapFolder> folder;
  const Status s = self.get_Item(params.Arg(0), &folder);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(folder)));
  return s;
}

Status FoldersAdd(ImapFolders& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  WideString name;
  if (Status s = ArgString(params, 0, &name); s != StatusOk) return s;
  Ref<IImapFolder> folder;
  const Status s = self.Add(name, &folder);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(folder)));
  return s;
}

Status FoldersRemove(ImapFolders& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  return self.Remove(params.Arg(0));
}

constexpr FoldersMember kFoldersMembers[] = {
    {u"Item", DispIdValue, kGet, &FoldersItem},
    {u"Count", 1, kGet, &Get<ImapFolders, std::int16_t, &ImapFolders::get_Count>},
    {u"Add", 2, kGet, &FoldersAdd},
    {u"Remove", 3, kGet, &FoldersRemove},
    {u"RemoveAll", 4, kGet, &Method<ImapFolders, &ImapFolders::RemoveAll>},
};

}  // namespace

std::span<const FolderMember> ImapFolder::Members() { return kFolderMembers; }

Status ImapFolder::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapFolder::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

std::span<const FoldersMember> ImapFolders::Members() { return kFoldersMembers; }

Status ImapFolders::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapFolders::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

}  // namespace kivimap::store
