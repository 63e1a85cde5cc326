#include <algorithm>
#include <cstring>
#include <new>

#include "kivimap/host_support.h"

namespace kivimap {

Status MemoryStream::Read(void* data, std::uint32_t n, std::uint32_t* read) {
  if (!read || (!data && n != 0)) return StatusPointer;
  const std::size_t available = bytes_.size() - std::min(pos_, bytes_.size());
  const std::size_t take = std::min<std::size_t>(n, available);
  if (take != 0) std::memcpy(data, bytes_.data() + pos_, take);
  pos_ += take;
  *read = static_cast<std::uint32_t>(take);
  return StatusOk;
}

Status MemoryStream::Write(const void* data, std::uint32_t n) {
  if (!data && n != 0) return StatusPointer;
  try {
    if (n != 0) bytes_.append(static_cast<const char*>(data), n);
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
  return StatusOk;
}

}  // namespace kivimap
