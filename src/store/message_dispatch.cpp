// Late-bound access to messages and message collections, by the dispatch ids of their
// interfaces.
#include "automation/dispatch_table.h"
#include "store/messages.h"

namespace kivimap::store {
namespace {

using namespace automation::glue;  // NOLINT: table building blocks
using MessageMember = automation::DispatchMember<ImapMessage>;
using MessagesMember = automation::DispatchMember<ImapMessages>;

constexpr MessageMember kMessageMembers[] = {
    {u"Body", DispIdValue, kGet, &Get<&ImapMessage::get_Body>},
    {u"Tag", 1, kGet, &Get<&ImapMessage::get_Tag>},
    {u"Tag", 1, kPutAny, &Put<&ImapMessage::put_Tag>},
    {u"Size", 2, kGet, &Get<&ImapMessage::get_Size>},
    {u"Filename", 3, kGet, &Get<&ImapMessage::get_Filename>},
    {u"Filename", 3, kPut, &Put<&ImapMessage::put_Filename>},
    {u"StartPosition", 4, kGet, &Get<&ImapMessage::get_StartPosition>},
    {u"StartPosition", 4, kPut, &Put<&ImapMessage::put_StartPosition>},
    {u"EndPosition", 5, kGet, &Get<&ImapMessage::get_EndPosition>},
    {u"EndPosition", 5, kPut, &Put<&ImapMessage::put_EndPosition>},
    {u"Index", 6, kGet, &Get<&ImapMessage::get_Index>},
    {u"Flags", 7, kGet, &Get<&ImapMessage::get_Flags>},
    {u"Flags", 7, kPut, &Put<&ImapMessage::put_Flags>},
    {u"UID", 8, kGet, &Get<&ImapMessage::get_UID>},
    {u"UID", 8, kPut, &Put<&ImapMessage::put_UID>},
    {u"Text", 9, kGet, &Get<&ImapMessage::get_Text>},
    {u"Headers", 10, kGet, &Get<&ImapMessage::get_Headers>},
    {u"Parts", 11, kGet, &Get<&ImapMessage::get_Parts>},
};

// The message argument is optional: without it a new message is created.
Status MessagesAdd(ImapMessages& self, DispParams& params, Variant* result) {
  if (params.count() > 1) return StatusBadParamCount;
  Ref<IImapMessage> message;
  const Status s = self.Add(automation::ArgVariant(params, 0), &message);
  if (s == StatusOk) automation::SetResult(result, AsVariant{}(std::move(message)));
  return s;
}

// Remove takes an index or the message itself.
constexpr MessagesMember kMessagesMembers[] = {
    {u"Item", DispIdValue, kGet, &GetWith<&ImapMessages::get_Item>},
    {u"Count", 1, kGet, &Get<&ImapMessages::get_Count>},
    {u"Add", 2, kGet, &MessagesAdd},
    {u"Remove", 3, kGet, &Put<&ImapMessages::Remove>},
    {u"RemoveAll", 4, kGet, &Method<&ImapMessages::RemoveAll>},
};

}  // namespace

std::span<const MessageMember> ImapMessage::Members() { return kMessageMembers; }

Status ImapMessage::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapMessage::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

std::span<const MessagesMember> ImapMessages::Members() { return kMessagesMembers; }

Status ImapMessages::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapMessages::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

}  // namespace kivimap::store
