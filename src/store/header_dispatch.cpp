// Late-bound access to header fields and header collections, by the dispatch ids of their
// interfaces.
#include "store/dispatch_helpers.h"
#include "store/guarded_call.h"
#include "store/headers.h"

namespace kivimap::store {
namespace {

using namespace dispatch;  // NOLINT: table building blocks
using HeaderMember = automation::DispatchMember<ImapMessageHeader>;
using HeadersMember = automation::DispatchMember<ImapMessageHeaders>;

constexpr HeaderMember kHeaderMembers[] = {
    {u"ToString", DispIdValue, kGet,
     &Get<ImapMessageHeader, WideString, &ImapMessageHeader::ToString>},
    {u"Name", 1, kGet, &Get<ImapMessageHeader, WideString, &ImapMessageHeader::get_Name>},
    {u"Value", 2, kGet, &Get<ImapMessageHeader, WideString, &ImapMessageHeader::get_Value>},
};

Status HeadersItem(ImapMessageHeaders& self, DispParams& params, Variant* result) {
  if (Status s = ExpectArgs(params, 1); s != StatusOk) return s;
  Ref<IImapMessageHeader> header;
  const Status s = self.get_Item(params.Arg(0), &header);
  if (s == StatusOk) SetResult(result, ToVariant(std::move(header)));
  return s;
}

constexpr HeadersMember kHeadersMembers[] = {
    {u"Item", DispIdValue, kGet, &HeadersItem},
    {u"Count", 4, kGet, &Get<ImapMessageHeaders, std::int16_t, &ImapMessageHeaders::get_Count>},
    {u"ToString", 5, kGet, &Get<ImapMessageHeaders, WideString, &ImapMessageHeaders::ToString>},
};

}  // namespace

std::span<const HeaderMember> ImapMessageHeader::Members() { return kHeaderMembers; }

Status ImapMessageHeader::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapMessageHeader::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

std::span<const HeadersMember> ImapMessageHeaders::Members() { return kHeadersMembers; }

Status ImapMessageHeaders::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return GuardedCall([&] { return automation::DispatchGetIDsOfNames(Members(), name, id); });
}

Status ImapMessageHeaders::Invoke(DispId id, InvokeFlags kind, DispParams& params,
                                  Variant* result) {
  return GuardedCall(
      [&] { return automation::DispatchInvoke(Members(), *this, id, kind, params, result); });
}

}  // namespace kivimap::store
