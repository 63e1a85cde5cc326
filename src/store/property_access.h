// The rules the plain properties of folders and messages share: a getter refuses a null
// out-pointer; a copy that allocates runs under GuardedCall; a name never set reads as empty;
// and a Tag keeps a value, never a reference to the caller's variable, which would dangle.
#pragma once

#include "kivimap/status.h"
#include "kivimap/variant.h"
#include "kivimap/wide_string.h"
#include "store/guarded_call.h"

namespace kivimap::store {

// Copies value to *out.
template <class T>
Status CopyOut(const T& value, T* out) noexcept {
  if (!out) return StatusPointer;
  return GuardedCall([&] {
    *out = value;
    return StatusOk;
  });
}

// As CopyOut, but a name that was never set (null) reads back as an empty one.
inline Status CopyNameOut(const WideString& name, WideString* out) noexcept {
  if (!out) return StatusPointer;
  return GuardedCall([&] {
    *out = name.IsNull() ? WideString::Empty() : name;
    return StatusOk;
  });
}

// Stores value in *to.
template <class T>
Status CopyIn(const T& value, T* to) noexcept {
  return GuardedCall([&] {
    *to = value;
    return StatusOk;
  });
}

// The Tag property: whatever the host keeps with an object.
class TagValue {
 public:
  // A null out-pointer is accepted and ignored.
  Status Get(Variant* out) const noexcept {
    return GuardedCall([&] {
      if (out) *out = value_;
      return StatusOk;
    });
  }
  // A by-reference value is stored as the value it points at.
  Status Put(const Variant& value) noexcept {
    return GuardedCall([&] {
      value_ = value.Deref();
      return StatusOk;
    });
  }

 private:
  Variant value_;
};

}  // namespace kivimap::store
