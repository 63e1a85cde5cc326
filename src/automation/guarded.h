// The one guard every host call runs its body through: no exception may cross to the host. With
// it, the plain copies in and out that properties are made of.
#pragma once

#include <new>

#include "kivimap/status.h"

namespace kivimap::automation {

// Runs body() and returns its status; a failed allocation becomes StatusOutOfMemory and any other
// exception StatusFail.
template <class Body>
Status Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  } catch (...) {
    return StatusFail;
  }
}

// A getter's copy: a null out-pointer is refused, then value is copied to *out under Guarded.
template <class T>
Status CopyOut(const T& value, T* out) noexcept {
  if (!out) return StatusPointer;
  return Guarded([&] {
    *out = value;
    return StatusOk;
  });
}

// A setter's copy: value is stored in *to under Guarded.
template <class T>
Status CopyIn(const T& value, T* to) noexcept {
  return Guarded([&] {
    *to = value;
    return StatusOk;
  });
}

}  // namespace kivimap::automation
