// ImapMessageHeader: one header field of a message, a name and a value as the file holds them.
// The parser makes them; a host-created field stays empty.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"

namespace kivimap::store {

class ImapMessageHeader final : public automation::DispatchObject<IImapMessageHeader> {
 public:
  // An empty field, as a host creates one: no name and no value.
  static Ref<ImapMessageHeader> Create();
  // A parsed field. Name and value are 8-bit text as read from the file.
  static Ref<ImapMessageHeader> Create(std::string name, std::string value);
  static ImapMessageHeader* FromInterface(IImapMessageHeader* header);

  // IImapMessageHeader
  Status get_Name(WideString* out) override;
  Status get_Value(WideString* out) override;
  Status ToString(WideString* out) override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // The stored 8-bit name and value (empty for a host-created field).
  std::string_view name() const { return name_; }
  std::string_view value() const { return value_; }
  // Name ": " Value as 8-bit text, whatever its length.
  std::string Text() const;

  // A continuation line (it begins with a tab): appended to the value after CR LF, tab kept.
  void AppendContinuation(std::string_view line);

  static std::span<const automation::DispatchMember<ImapMessageHeader>> Members();

 private:
  ImapMessageHeader() = default;

  std::string name_;
  std::string value_;
  bool filled_ = false;  // false for a host-created field: Name and Value read as absent
};

}  // namespace kivimap::store
