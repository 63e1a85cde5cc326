// SendQueue: output waiting for the socket, as one run of bytes in the order queued.
//
// Chunks queued one after another go out back to back, so a single send can carry many queued
// responses; a partly sent front is shortened in place. Storage is compacted once more than half
// of it is sent, so a long stream costs amortised O(1) per byte, and it is given back when the
// queue runs empty so that an idle connection holds almost nothing.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kivimap::transport {

class SendQueue {
 public:
  // Queues a copy of n bytes (NUL bytes allowed). Throws std::bad_alloc; the queue is then
  // unchanged.
  void Append(const char* data, std::size_t n);
  // Every queued byte, oldest first.
  std::string_view Front() const { return std::string_view(bytes_).substr(head_); }
  // Drops the first n queued bytes (at most all of them).
  void Consume(std::size_t n);
  void Clear();

  bool empty() const { return head_ == bytes_.size(); }
  std::size_t size() const { return bytes_.size() - head_; }
  std::size_t capacity() const { return bytes_.capacity(); }

 private:
  static constexpr std::size_t kKeepWhenEmpty = 4096;

  std::string bytes_;
  std::size_t head_ = 0;  // bytes before head_ are sent
};

}  // namespace kivimap::transport
