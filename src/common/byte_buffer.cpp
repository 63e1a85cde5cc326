#include "common/byte_buffer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <string>
#include <utility>

namespace kivimap {

namespace {

// The buffer carries passwords and mail text; a plain memset before delete may be elided.
void SecureZero(char* p, std::size_t n) {
  if (p == nullptr || n == 0) return;
  volatile char* v = p;
  for (std::size_t i = 0; i < n; ++i) v[i] = 0;
}

}  // namespace

ByteBuffer::WipeObserver ByteBuffer::wipe_observer_ = nullptr;

ByteBuffer::ByteBuffer(std::size_t initial_capacity)
    : storage_(new char[initial_capacity]), capacity_(initial_capacity) {}

ByteBuffer::~ByteBuffer() { Wipe(); }

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : storage_(std::move(other.storage_)),
      capacity_(std::exchange(other.capacity_, 0)),
      start_(std::exchange(other.start_, 0)),
      end_(std::exchange(other.end_, 0)),
      touched_(std::exchange(other.touched_, 0)) {}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
  if (this != &other) {
    Wipe();
    storage_ = std::move(other.storage_);
    capacity_ = std::exchange(other.capacity_, 0);
    start_ = std::exchange(other.start_, 0);
    end_ = std::exchange(other.end_, 0);
    touched_ = std::exchange(other.touched_, 0);
  }
  return *this;
}

void ByteBuffer::Append(const void* data, std::size_t n) {
  // No real allocation comes near a quarter of the address space; the bound keeps the sums
  // below exact.
  if (n > std::numeric_limits<std::size_t>::max() / 4) throw std::bad_alloc();
  const char* src = static_cast<const char*>(data);
  // Bytes taken from this buffer itself would move or be freed below: copy them out first.
  std::string own_copy;
  const auto at = reinterpret_cast<std::uintptr_t>(src);
  const auto base = reinterpret_cast<std::uintptr_t>(storage_.get());
  if (n != 0 && storage_ && at >= base && at - base < capacity_) {
    own_copy.assign(src, n);
    src = own_copy.data();
  }

  std::size_t start = start_;
  std::size_t end = end_;
  if (start == end) start = end = 0;

  // Work out the final layout first, so that a failed allocation leaves the buffer unchanged.
  std::size_t capacity = capacity_;
  bool compact = false;
  while (end + n >= capacity) {
    if (start > capacity / 2) {
      end -= start;
      start = 0;
      compact = true;
    } else {
      capacity += n + kGrowthSlack;
    }
  }

  const std::size_t unconsumed = end_ - start_;
  if (capacity != capacity_) {
    std::unique_ptr<char[]> grown(new char[capacity]);
    if (unconsumed != 0) std::memcpy(grown.get() + start, storage_.get() + start_, unconsumed);
    SecureZero(storage_.get(), touched_);
    if (wipe_observer_ && storage_) wipe_observer_(storage_.get(), touched_);
    storage_ = std::move(grown);
    capacity_ = capacity;
    touched_ = 0;
  } else if (compact && unconsumed != 0) {
    std::memmove(storage_.get(), storage_.get() + start_, unconsumed);
  }
  start_ = start;
  end_ = end;
  if (n != 0) std::memcpy(storage_.get() + end_, src, n);
  end_ += n;
  touched_ = std::max(touched_, end_);
}

bool ByteBuffer::Consume(std::size_t n) {
  if (n > end_ - start_) return false;
  start_ += n;
  return true;
}

bool ByteBuffer::DropTail(std::size_t n) {
  if (n > end_ - start_) return false;
  end_ -= n;
  return true;
}

const char* ByteBuffer::c_str() {
  if (end_ >= capacity_) return "";  // only a moved-from or zero-capacity buffer
  storage_[end_] = '\0';
  touched_ = std::max(touched_, end_ + 1);
  return storage_.get() + start_;
}

void ByteBuffer::Reset(std::size_t capacity) {
  std::unique_ptr<char[]> fresh(new char[capacity]);
  Wipe();
  storage_ = std::move(fresh);
  capacity_ = capacity;
  start_ = end_ = 0;
  touched_ = 0;
}

void ByteBuffer::Wipe() {
  if (!storage_) return;
  // Bytes past touched_ never held data: a large buffer that held a short line costs a short
  // wipe.
  SecureZero(storage_.get(), touched_);
  if (wipe_observer_) wipe_observer_(storage_.get(), touched_);
  storage_.reset();
  touched_ = 0;
}

}  // namespace kivimap
