#include "store/headers.h"

#include <string>

#include "automation/guarded.h"
#include "common/ascii.h"
#include "store/variant_args.h"

namespace kivimap::store {

Ref<ImapMessageHeaders> ImapMessageHeaders::Create() { return Ref(new ImapMessageHeaders); }

ImapMessageHeaders* ImapMessageHeaders::FromInterface(IImapMessageHeaders* headers) {
  return dynamic_cast<ImapMessageHeaders*>(headers);
}

ImapMessageHeader* ImapMessageHeaders::Find(std::string_view name) const {
  for (const auto& field : items_) {
    if (EqualsNoCase(field->name(), name)) return field.get();
  }
  return nullptr;
}

void ImapMessageHeaders::AddHeaderLine(std::string_view line) {
  const std::size_t separator = line.find(": ");
  if (separator == std::string_view::npos) return;
  items_.push_back(ImapMessageHeader::Create(std::string(line.substr(0, separator)),
                                             std::string(line.substr(separator + 2))));
}

Status ImapMessageHeaders::get_Item(const Variant& index, Ref<IImapMessageHeader>* out) {
  return automation::Guarded([&]() -> Status {
    const Variant key = ResolveVariant(index);
    ImapMessageHeader* found = nullptr;
    if (const WideString* name = VariantString(key)) {
      found = Find(name->ToNarrow());
    } else {
      std::int16_t position = 0;
      if (ToInt16(key, &position) != StatusOk || position < 0 ||
          static_cast<std::size_t>(position) >= items_.size()) {
        return StatusInvalidArg;
      }
      found = items_[static_cast<std::size_t>(position)].get();
    }
    if (!found) return StatusInvalidArg;
    if (out) *out = Ref<IImapMessageHeader>(found);
    return StatusOk;
  });
}

Status ImapMessageHeaders::get_Count(std::int16_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int16_t>(items_.size());
  return StatusOk;
}

Status ImapMessageHeaders::ToString(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    std::string text;
    for (const auto& field : items_) text.append(field->Text()).append("\r\n");
    *out = ToWide(text);
    return StatusOk;
  });
}

}  // namespace kivimap::store
