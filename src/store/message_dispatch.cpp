// Late-bound access to messages and message collections, by the dispatch ids of their
// interfaces.
#include "store/dispatch_helpers.h"
#include "store/guarded_call.h"
#include "store/messages.h"

namespace kivimap::store {
namespace {

using namespace dispatch;  // NOLINT: table building blocks
using MessageMember = automation::DispatchMember<ImapMessage>;
using MessagesMember = automation::DispatchMember<ImapMessages>;

constexpr MessageMember kMessageMembers[] = {
    {u"Body", DispIdValue, kGet, &Get<ImapMessage, WideString, &ImapMessage::get_Body>},
    {u"Tag", 1, kGet, &Get<ImapMessage, Variant, &ImapMessage::get_Tag>},
    {u"Tag", 1, kPutAny, &PutVariant<ImapMessage, &ImapMessage::put_Tag>},
    {u"Size", 2, kGet, &Get<ImapMessage, std::int32_t, &ImapMessage::get_Size>},
    {u"Filename", 3, kGet, &Get<ImapMessage, WideString, &ImapMessage::get_Filename>},
    {u"Filename", 3, kPut, &PutString<ImapMessage, &ImapMessage::put_Filename>},
    {u"StartPosition", 4, kGet, &Get<ImapMessage, std::int32_t, &ImapMessage::get_StartPosition>},
    {u"StartPosition", 4, kPut, &PutInt32<ImapMessage, &ImapMessage::put_StartPosition>},
    {u"EndPosition", 5, kGet, &Get<ImapMessage, std::int32_t, &ImapMessage::get_EndPosition>},
    {u"EndPosition", 5, kPut, &PutInt32<ImapMessage, &ImapMessage::put_EndPosition>},
    {u"Index", 6, kGet, &Get<ImapMessage, std::int16_t, &ImapMessage::get_Index>},
    {u"Flags", 7, kGet, &Get<ImapMessage, std::int32_t, &ImapMessage::get_Flags>},
    {u"Flags", 7, kPut, &PutInt32<ImapMessage, &ImapMessage::put_Flags>},
    {u"UID", 8, kGet, &Get<ImapMessage, std::int32_t, &ImapMessage::get_UID>},
    {u"UID", 8, kPut, &PutInt32<ImapMessage, &ImapMessage::put_UID>},
    {u"Text", 9, kGet, &Get<ImapMessage, WideString, &ImapMessage::get_Text>},
    {u"Headers", 10, kGet, &Get<ImapMessage, Ref<IImapMessageHeaders>, &ImapMessage::get_Headers>},
    {u"Parts", 11, kGet, &Get<ImapMessage, Ref<IImapMessages>, &ImapMessage::get_Parts>},
};

Status MessagesItem(ImapMessages& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  std::int16_t index = 0;
  if (Status s = ArgInt16(params, 0, &index); s != StatusOk) return s;
  Ref<IImapMessage> message;
  const Status s = self.get_Item(index, &message);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(message)));
  return s;
}

// The message argument is optional: without it a new message is created.
Status MessagesAdd(ImapMessages& self, DispParams& params, Variant* result) {
  if (params.count() > 1) return StatusBadParamCount;
  Ref<IImapMessage> message;
  const Status s = self.Add(ArgVariant(params, 0), &message);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(message)));
  return s;
}

Status MessagesRemove(ImapMessages& self, DispParams& params, Variant*) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  return self.Remove(params.Arg(0));
}

constexpr MessagesMember kMessagesMembers[] = {
    {u"Item", DispIdValue, kGet, &MessagesItem},
    {u"Count", 1, kGet, &Get<ImapMessages, std::int16_t, &ImapMessages::get_Count>},
    {u"Add", 2, kGet, &MessagesAdd},
    {u"Remove", 3, kGet, &MessagesRemove},
    {u"RemoveAll", 4, kGet, &Method<ImapMessages, &ImapMessages::RemoveAll>},
};

}  // namespace

std::span<const MessageMember> ImapMessage::Members() { return kMessageMembers; }

Status ImapMessage::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapMessage::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

std::span<const MessagesMember> ImapMessages::Members() { return kMessagesMembers; }

Status ImapMessages::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapMessages::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

}  // namespace kivimap::store
