#include "automation/property_notify.h"

#include <new>

namespace kivimap::automation {

Status PropertyNotifier::Advise(IPropertyNotifySink* sink, std::uint32_t* cookie) {
  if (!sink || !cookie) return StatusPointer;
  try {
    std::size_t slot = 0;
    while (slot < sinks_.size() && sinks_[slot]) ++slot;
    if (slot == sinks_.size()) {
      sinks_.push_back(sink);
    } else {
      sinks_[slot] = sink;
    }
    *cookie = static_cast<std::uint32_t>(slot + 1);
    return StatusOk;
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
}

Status PropertyNotifier::Unadvise(std::uint32_t cookie) {
  if (cookie == 0 || cookie > sinks_.size() || !sinks_[cookie - 1]) return StatusInvalidArg;
  sinks_[cookie - 1] = nullptr;
  return StatusOk;
}

void PropertyNotifier::Changed(DispId dispid) {
  dirty_ = true;
  // A listener may unadvise itself or others while it is told: index afresh each time.
  const std::size_t count = sinks_.size();
  for (std::size_t i = 0; i < count && i < sinks_.size(); ++i) {
    if (IPropertyNotifySink* sink = sinks_[i]) sink->OnChanged(dispid);
  }
}

}  // namespace kivimap::automation
