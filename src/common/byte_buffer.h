// ByteBuffer: a growable byte buffer with a consumed front and an appended end.
//
// Append resets both indices to 0 when nothing is unconsumed; while end + n is not strictly below
// the capacity it either moves the unconsumed bytes to the front (when more than half of the
// capacity is consumed) or grows the capacity by n + 32768. The end therefore always stays below
// the capacity, so there is room for a terminating zero. Destruction wipes every byte of the
// storage that held data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace kivimap {

class ByteBuffer {
 public:
  static constexpr std::size_t kInitialCapacity = 4096;
  static constexpr std::size_t kGrowthSlack = 32768;

  explicit ByteBuffer(std::size_t initial_capacity = kInitialCapacity);
  ~ByteBuffer();
  ByteBuffer(const ByteBuffer&) = delete;
  ByteBuffer& operator=(const ByteBuffer&) = delete;
  ByteBuffer(ByteBuffer&& other) noexcept;
  ByteBuffer& operator=(ByteBuffer&& other) noexcept;

  // Throws std::bad_alloc when the storage cannot grow; the buffer is then unchanged.
  void Append(const void* data, std::size_t n);
  void Append(std::string_view s) { Append(s.data(), s.size()); }
  // Advances the start; false (and nothing changes) when n exceeds the unconsumed count.
  bool Consume(std::size_t n);
  // Moves the end back; false (and nothing changes) when n exceeds the unconsumed count.
  bool DropTail(std::size_t n);
  void Clear() { start_ = end_ = 0; }

  const char* data() const { return storage_.get() + start_; }  // the unconsumed bytes
  char* data() { return storage_.get() + start_; }
  std::size_t size() const { return end_ - start_; }
  bool empty() const { return end_ == start_; }
  std::string_view view() const { return {data(), size()}; }
  // The unconsumed bytes followed by a zero byte (always room: end < capacity).
  const char* c_str();

  std::size_t capacity() const { return capacity_; }
  std::size_t start_index() const { return start_; }
  std::size_t end_index() const { return end_; }

  // Wipes and frees the storage, leaving an empty buffer of the given capacity.
  void Reset(std::size_t capacity = kInitialCapacity);

  // Test hook: called with the old storage and the count of its bytes that ever held data,
  // after those were zeroed and before the storage is freed (destruction, Reset, and growth to
  // a new block).
  using WipeObserver = void (*)(const char* storage, std::size_t capacity);
  static void SetWipeObserverForTesting(WipeObserver observer) { wipe_observer_ = observer; }

 private:
  void Wipe();

  static WipeObserver wipe_observer_;

  std::unique_ptr<char[]> storage_;
  std::size_t capacity_ = 0;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  std::size_t touched_ = 0;  // bytes of the storage that ever held data, from its start
};

}  // namespace kivimap
