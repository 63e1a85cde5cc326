#include "transport/event_loop_timers.h"

#include <algorithm>

namespace kivimap::transport {

namespace {

constexpr std::int64_t kNanosPerMilli = 1'000'000;

// Makes room for at least `needed` elements, growing geometrically (a plain reserve(n + 1) per
// insertion would copy the whole vector every time).
template <typename T>
void EnsureCapacity(std::vector<T>& v, std::size_t needed) {
  if (v.capacity() < needed) v.reserve(std::max<std::size_t>({16, needed, 2 * v.capacity()}));
}

}  // namespace

void TimerHeap::Set(SinkId sink, std::uint32_t timer_id, std::uint32_t interval_ms,
                    std::int64_t now_ns) {
  const std::int64_t interval_ns =
      static_cast<std::int64_t>(std::max<std::uint32_t>(interval_ms, 1)) * kNanosPerMilli;
  const std::uint64_t order = next_order_++;

  auto found = index_.find({sink, timer_id});
  if (found != index_.end()) {
    Timer& timer = slots_[found->second];
    timer.deadline_ns = now_ns + interval_ns;
    timer.interval_ns = interval_ns;
    timer.order = order;
    Reposition(timer.heap_pos);
    return;
  }

  // Reserve everything first so that a failed allocation leaves the heap as it was.
  if (free_slots_.empty()) {
    EnsureCapacity(slots_, slots_.size() + 1);
    EnsureCapacity(free_slots_, slots_.size() + 1);
  }
  EnsureCapacity(heap_, heap_.size() + 1);
  auto inserted = index_.emplace(Key{sink, timer_id}, 0).first;

  std::uint32_t slot;
  if (free_slots_.empty()) {
    slot = static_cast<std::uint32_t>(slots_.size());
    slots_.push_back({});
  } else {
    slot = free_slots_.back();
    free_slots_.pop_back();
  }
  inserted->second = slot;
  slots_[slot] = Timer{now_ns + interval_ns, order, interval_ns, sink, timer_id, 0};
  heap_.push_back(slot);
  slots_[slot].heap_pos = static_cast<std::uint32_t>(heap_.size() - 1);
  SiftUp(slots_[slot].heap_pos);
}

bool TimerHeap::Kill(SinkId sink, std::uint32_t timer_id) {
  auto found = index_.find({sink, timer_id});
  if (found == index_.end()) return false;
  const std::uint32_t slot = found->second;
  index_.erase(found);
  RemoveSlot(slot);
  return true;
}

void TimerHeap::KillAll(SinkId sink) {
  auto it = index_.lower_bound({sink, 0});
  while (it != index_.end() && it->first.first == sink) {
    RemoveSlot(it->second);
    it = index_.erase(it);
  }
}

std::optional<std::int64_t> TimerHeap::NextDeadline() const {
  if (heap_.empty()) return std::nullopt;
  return slots_[heap_.front()].deadline_ns;
}

std::optional<TimerHeap::Due> TimerHeap::PopDue(std::int64_t now_ns) {
  if (heap_.empty()) return std::nullopt;
  Timer& timer = slots_[heap_.front()];
  if (timer.deadline_ns > now_ns) return std::nullopt;

  // The next period counts from the missed deadline, but a loop that was held up does not fire a
  // burst of catch-up expiries: it skips to one interval after now.
  timer.deadline_ns += timer.interval_ns;
  if (timer.deadline_ns <= now_ns) timer.deadline_ns = now_ns + timer.interval_ns;
  timer.order = next_order_++;
  const Due due{timer.sink, timer.timer_id};
  SiftDown(0);
  return due;
}

bool TimerHeap::Earlier(std::uint32_t a, std::uint32_t b) const {
  const Timer& x = slots_[a];
  const Timer& y = slots_[b];
  if (x.deadline_ns != y.deadline_ns) return x.deadline_ns < y.deadline_ns;
  return x.order < y.order;
}

void TimerHeap::Place(std::uint32_t pos, std::uint32_t slot) {
  heap_[pos] = slot;
  slots_[slot].heap_pos = pos;
}

void TimerHeap::SiftUp(std::uint32_t pos) {
  const std::uint32_t slot = heap_[pos];
  while (pos > 0) {
    const std::uint32_t parent = (pos - 1) / 2;
    if (!Earlier(slot, heap_[parent])) break;
    Place(pos, heap_[parent]);
    pos = parent;
  }
  Place(pos, slot);
}

void TimerHeap::SiftDown(std::uint32_t pos) {
  const std::uint32_t slot = heap_[pos];
  const std::size_t count = heap_.size();
  for (;;) {
    std::size_t child = 2 * static_cast<std::size_t>(pos) + 1;
    if (child >= count) break;
    if (child + 1 < count && Earlier(heap_[child + 1], heap_[child])) ++child;
    if (!Earlier(heap_[child], slot)) break;
    Place(pos, heap_[child]);
    pos = static_cast<std::uint32_t>(child);
  }
  Place(pos, slot);
}

void TimerHeap::Reposition(std::uint32_t pos) {
  if (pos > 0 && Earlier(heap_[pos], heap_[(pos - 1) / 2])) {
    SiftUp(pos);
  } else {
    SiftDown(pos);
  }
}

void TimerHeap::RemoveSlot(std::uint32_t slot) {
  const std::uint32_t pos = slots_[slot].heap_pos;
  const std::uint32_t last = heap_.back();
  heap_.pop_back();
  if (last != slot) {
    Place(pos, last);
    Reposition(pos);
  }
  // Cannot throw: free_slots_ never holds more entries than slots_ has, and it is given that
  // capacity whenever slots_ grows.
  free_slots_.push_back(slot);
}

}  // namespace kivimap::transport
