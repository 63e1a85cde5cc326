// Late-bound access to folders and folder collections, by the dispatch ids of their interfaces.
#include "automation/dispatch_table.h"
#include "store/folders.h"

namespace kivimap::store {
namespace {

using namespace automation::glue;  // NOLINT: table building blocks
using FolderMember = automation::DispatchMember<ImapFolder>;
using FoldersMember = automation::DispatchMember<ImapFolders>;

constexpr FolderMember kFolderMembers[] = {
    {u"Name", 1, kGet, &Get<&ImapFolder::get_Name>},
    {u"Name", 1, kPut, &Put<&ImapFolder::put_Name>},
    {u"Messages", 2, kGet, &Get<&ImapFolder::get_Messages>},
    {u"SubFolders", 3, kGet, &Get<&ImapFolder::get_SubFolders>},
    {u"Tag", 4, kGet, &Get<&ImapFolder::get_Tag>},
    {u"Tag", 4, kPutAny, &Put<&ImapFolder::put_Tag>},
    {u"UID", 5, kGet, &Get<&ImapFolder::get_UID>},
    {u"UID", 5, kPut, &Put<&ImapFolder::put_UID>},
    {u"Location", 6, kGet, &Get<&ImapFolder::get_Location>},
    {u"Location", 6, kPut, &Put<&ImapFolder::put_Location>},
    {u"Subscribed", 7, kGet, &Get<&ImapFolder::get_Subscribed, AsBool>},
    {u"Subscribed", 7, kPut, &Put<&ImapFolder::put_Subscribed>},
    {u"Path", 8, kGet, &Get<&ImapFolder::get_Path>},
    {u"NextMessageUID", 9, kGet, &Get<&ImapFolder::get_NextMessageUID>},
    {u"NextMessageUID", 9, kPut, &Put<&ImapFolder::put_NextMessageUID>},
};

// Item and Remove take an index, a name or (Remove) the folder itself.
constexpr FoldersMember kFoldersMembers[] = {
    {u"Item", DispIdValue, kGet, &GetWith<&ImapFolders::get_Item>},
    {u"Count", 1, kGet, &Get<&ImapFolders::get_Count>},
    {u"Add", 2, kGet, &GetWith<&ImapFolders::Add>},
    {u"Remove", 3, kGet, &Put<&ImapFolders::Remove>},
    {u"RemoveAll", 4, kGet, &Method<&ImapFolders::RemoveAll>},
};

}  // namespace

std::span<const FolderMember> ImapFolder::Members() { return kFolderMembers; }

Status ImapFolder::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapFolder::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

std::span<const FoldersMember> ImapFolders::Members() { return kFoldersMembers; }

Status ImapFolders::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapFolders::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

}  // namespace kivimap::store
