// The rules the plain properties of folders and messages share beyond automation::CopyOut and
// CopyIn: a name never set reads as empty, and a Tag keeps a value, never a reference to the
// caller's variable, which would dangle. Each copy that allocates runs under Guarded.
#pragma once

#include "automation/guarded.h"
#include "kivimap/status.h"
#include "kivimap/variant.h"
#include "kivimap/wide_string.h"

namespace kivimap::store {

// As automation::CopyOut, but a name that was never set (null) reads back as an empty one.
inline Status CopyNameOut(const WideString& name, WideString* out) noexcept {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    *out = name.IsNull() ? WideString::Empty() : name;
    return StatusOk;
  });
}

// The Tag property: whatever the host keeps with an object.
class TagValue {
 public:
  // A null out-pointer is accepted and ignored.
  Status Get(Variant* out) const noexcept {
    return automation::Guarded([&] {
      if (out) *out = value_;
      return StatusOk;
    });
  }
  // A by-reference value is stored as the value it points at.
  Status Put(const Variant& value) noexcept {
    return automation::Guarded([&] {
      value_ = value.Deref();
      return StatusOk;
    });
  }

 private:
  Variant value_;
};

}  // namespace kivimap::store
