// ImapMessageHeaders: the header fields of one message in file order, filled once by the
// parser. Fields are looked up by name without regard to ASCII case; the first match wins.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"
#include "store/header.h"

namespace kivimap::store {

class ImapMessageHeaders final : public automation::DispatchObject<IImapMessageHeaders> {
 public:
  static Ref<ImapMessageHeaders> Create();
  static ImapMessageHeaders* FromInterface(IImapMessageHeaders* headers);

  // IImapMessageHeaders
  Status get_Item(const Variant& index, Ref<IImapMessageHeader>* out) override;
  Status get_Count(std::int16_t* out) override;
  Status ToString(WideString* out) override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // The first field whose name equals name ignoring ASCII case, or null. An empty name finds a
  // field with an empty name.
  ImapMessageHeader* Find(std::string_view name) const;
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  ImapMessageHeader* at(std::size_t i) const { return items_[i].get(); }
  ImapMessageHeader* back() const { return items_.empty() ? nullptr : items_.back().get(); }

  // Parser side: a field line (cut at its line end). Split at the first ": " into name and
  // value, nothing trimmed; a line without ": " makes no field.
  void AddHeaderLine(std::string_view line);

  static std::span<const automation::DispatchMember<ImapMessageHeaders>> Members();

 private:
  ImapMessageHeaders() = default;

  std::vector<Ref<ImapMessageHeader>> items_;
};

}  // namespace kivimap::store
