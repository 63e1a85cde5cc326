// Property-change listeners and the modified flag of one object.
#pragma once

#include <cstdint>
#include <vector>

#include "kivimap/host_support.h"
#include "kivimap/object.h"

namespace kivimap::automation {

class PropertyNotifier {
 public:
  Status Advise(IPropertyNotifySink* sink, std::uint32_t* cookie);
  Status Unadvise(std::uint32_t cookie);
  // Marks the object modified and tells every listener the property's dispatch id.
  void Changed(DispId dispid);
  bool dirty() const { return dirty_; }
  void set_dirty(bool d) { dirty_ = d; }

 private:
  std::vector<IPropertyNotifySink*> sinks_;  // listeners unadvise before they end
  bool dirty_ = false;
};

}  // namespace kivimap::automation
