#include "automation/connection_point.h"

#include <new>

namespace kivimap::automation {

Status ConnectionPoint::Advise(IDispatch* sink, std::uint32_t* cookie) {
  if (!sink || !cookie) return StatusPointer;
  try {
    std::size_t slot = 0;
    while (slot < slots_.size() && slots_[slot]) ++slot;
    if (slot == slots_.size()) {
      slots_.push_back(Ref<IDispatch>(sink));
    } else {
      slots_[slot] = Ref<IDispatch>(sink);
    }
    *cookie = static_cast<std::uint32_t>(slot + 1);
    return StatusOk;
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
}

Status ConnectionPoint::Unadvise(std::uint32_t cookie) {
  if (cookie == 0 || cookie > slots_.size() || !slots_[cookie - 1]) return StatusInvalidArg;
  // The sink's destructor may call back into this list; release it only once the slot is empty.
  Ref<IDispatch> released = std::move(slots_[cookie - 1]);
  return StatusOk;
}

void ConnectionPoint::Fire(DispId dispid, const std::vector<Variant>& args) {
  // A sink may advise or unadvise while it runs, so the vector may change (and reallocate)
  // under the loop: count the slots once, re-check the index, and hold no reference into it.
  const std::size_t count = slots_.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i >= slots_.size()) continue;
    Ref<IDispatch> sink = slots_[i];
    if (!sink) continue;
    try {
      DispParams params = DispParams::FromNatural(args);
      Variant ignored;
      sink->Invoke(dispid, DispatchMethod, params, &ignored);
    } catch (...) {
      // The outcome of a handler, failures included, does not change what the server does.
    }
  }
}

bool ConnectionPoint::empty() const {
  for (const auto& slot : slots_) {
    if (slot) return false;
  }
  return true;
}

}  // namespace kivimap::automation
