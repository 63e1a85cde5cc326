// Host-visible members run their bodies through GuardedCall so that no exception reaches the
// host: an allocation failure becomes StatusOutOfMemory, anything else StatusFail.
#pragma once

#include <new>

#include "kivimap/status.h"

namespace kivimap::store {

template <class Body>
Status GuardedCall(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  } catch (...) {
    return StatusFail;
  }
}

}  // namespace kivimap::store
