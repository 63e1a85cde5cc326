// Late-bound access to header fields and header collections, by the dispatch ids of their
// interfaces.
#include "automation/dispatch_table.h"
#include "store/headers.h"

namespace kivimap::store {
namespace {

using namespace automation::glue;  // NOLINT: table building blocks
using HeaderMember = automation::DispatchMember<ImapMessageHeader>;
using HeadersMember = automation::DispatchMember<ImapMessageHeaders>;

constexpr HeaderMember kHeaderMembers[] = {
    {u"ToString", DispIdValue, kGet, &Get<&ImapMessageHeader::ToString>},
    {u"Name", 1, kGet, &Get<&ImapMessageHeader::get_Name>},
    {u"Value", 2, kGet, &Get<&ImapMessageHeader::get_Value>},
};

// Item takes an index or a field name.
constexpr HeadersMember kHeadersMembers[] = {
    {u"Item", DispIdValue, kGet, &GetWith<&ImapMessageHeaders::get_Item>},
    {u"Count", 4, kGet, &Get<&ImapMessageHeaders::get_Count>},
    {u"ToString", 5, kGet, &Get<&ImapMessageHeaders::ToString>},
};

}  // namespace

std::span<const HeaderMember> ImapMessageHeader::Members() { return kHeaderMembers; }

Status ImapMessageHeader::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapMessageHeader::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

std::span<const HeadersMember> ImapMessageHeaders::Members() { return kHeadersMembers; }

Status ImapMessageHeaders::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames(Members(), name, id);
}

Status ImapMessageHeaders::Invoke(DispId id, InvokeFlags kind, DispParams& params,
                                  Variant* result) {
  return automation::DispatchInvoke(Members(), *this, id, kind, params, result);
}

}  // namespace kivimap::store
