#include "transport/send_queue.h"

#include <algorithm>

namespace kivimap::transport {

void SendQueue::Append(const char* data, std::size_t n) {
  if (n == 0) return;
  // Reclaim the sent front before the string would have to grow for it.
  if (head_ > 0 && bytes_.size() + n > bytes_.capacity() && head_ >= size()) {
    bytes_.erase(0, head_);
    head_ = 0;
  }
  bytes_.append(data, n);
}

void SendQueue::Consume(std::size_t n) {
  head_ += std::min(n, size());
  if (empty()) {
    Clear();
  } else if (head_ > 65536 && head_ > bytes_.size() / 2) {
    bytes_.erase(0, head_);
    head_ = 0;
  }
}

void SendQueue::Clear() {
  head_ = 0;
  if (bytes_.capacity() > kKeepWhenEmpty) {
    std::string().swap(bytes_);
  } else {
    bytes_.clear();
  }
}

}  // namespace kivimap::transport
