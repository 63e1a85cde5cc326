// How much output a connection may hold before it stops taking commands, and where it ends.
#pragma once

#include <cstddef>

namespace kivimap {

struct OutputLimits {
  // At or above this many queued bytes a connection takes no further command and reads
  // nothing more; a command producing more output parks until the queue drains.
  std::size_t high_water = 256 * 1024;
  // Below this many queued bytes it takes commands (and resumes a parked one) again.
  std::size_t low_water = 64 * 1024;
  // A connection whose owned queued bytes would pass this is closed (one debug-log line says
  // why); the server and every other connection go on. Byte ranges of message files count
  // only their read-ahead.
  std::size_t hard_limit = 16 * 1024 * 1024;

  // low_water < high_water <= hard_limit.
  bool valid() const { return low_water < high_water && high_water <= hard_limit; }
};

}  // namespace kivimap
