#include "store/header.h"

#include "automation/guarded.h"

namespace kivimap::store {

Ref<ImapMessageHeader> ImapMessageHeader::Create() { return Ref(new ImapMessageHeader); }

Ref<ImapMessageHeader> ImapMessageHeader::Create(std::string name, std::string value) {
  Ref<ImapMessageHeader> header(new ImapMessageHeader);
  header->name_ = std::move(name);
  header->value_ = std::move(value);
  header->filled_ = true;
  return header;
}

ImapMessageHeader* ImapMessageHeader::FromInterface(IImapMessageHeader* header) {
  return dynamic_cast<ImapMessageHeader*>(header);
}

std::string ImapMessageHeader::Text() const {
  std::string text;
  text.reserve(name_.size() + 2 + value_.size());
  text.append(name_).append(": ").append(value_);
  return text;
}

void ImapMessageHeader::AppendContinuation(std::string_view line) {
  value_.append("\r\n").append(line);
}

Status ImapMessageHeader::get_Name(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    *out = filled_ ? ToWide(name_) : WideString::Null();
    return StatusOk;
  });
}

Status ImapMessageHeader::get_Value(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    *out = filled_ ? ToWide(value_) : WideString::Null();
    return StatusOk;
  });
}

// The 8-bit form is what the code page makes of the field, so characters it cannot carry come
// back replaced. Long folded fields are returned whole.
Status ImapMessageHeader::ToString(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    *out = ToWide(Text());
    return StatusOk;
  });
}

}  // namespace kivimap::store
