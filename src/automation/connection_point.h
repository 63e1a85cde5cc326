// The ordered list of event sinks of one outgoing interface. Slots keep their place: Unadvise
// empties a slot, Advise fills the first empty one. Firing walks the slots as they were counted
// when it started, so sinks added or removed by a sink during an event are handled safely.
#pragma once

#include <cstdint>
#include <vector>

#include "kivimap/interfaces.h"

namespace kivimap::automation {

class ConnectionPoint {
 public:
  // The cookie is the slot's position + 1. A null sink gives StatusPointer.
  Status Advise(IDispatch* sink, std::uint32_t* cookie);
  // StatusInvalidArg for a cookie that names no occupied slot.
  Status Unadvise(std::uint32_t cookie);

  // Invokes dispid as a method on every sink in slot order. args are in natural order; each sink
  // gets a fresh copy of the by-value arguments, while by-reference arguments point at the
  // caller's variables, so a sink sees what earlier sinks left there. Results, failures and
  // exceptions of sinks are ignored. The owner of this list must stay alive until Fire returns
  // (the server holds a reference to itself around every firing).
  void Fire(DispId dispid, const std::vector<Variant>& args);

  std::size_t SlotCount() const { return slots_.size(); }
  bool empty() const;

 private:
  std::vector<Ref<IDispatch>> slots_;
};

}  // namespace kivimap::automation
