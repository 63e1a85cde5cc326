// TimerHeap: the periodic timers of one event loop, keyed by (sink, timer id).
//
// An indexed binary min-heap: every timer knows its position in the heap, so restarting or killing
// one is O(log n) and leaves nothing behind. The connection code kills and restarts its idle timer
// around every command, so a lazy "mark dead and skip later" heap would fill with garbage.
// Times are nanoseconds of the monotonic clock, passed in by the caller so the ordering can be
// tested without waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kivimap::transport {

class TimerHeap {
 public:
  using SinkId = std::uint64_t;

  struct Due {
    SinkId sink;
    std::uint32_t timer_id;
  };

  // Starts the timer, or restarts it with the new interval when it runs already. The first expiry
  // is at now_ns + interval; an interval of 0 is taken as 1 ms. Throws std::bad_alloc (nothing
  // changes then).
  void Set(SinkId sink, std::uint32_t timer_id, std::uint32_t interval_ms, std::int64_t now_ns);
  // False when that timer does not run.
  bool Kill(SinkId sink, std::uint32_t timer_id);
  void KillAll(SinkId sink);

  // The earliest deadline, if any timer runs.
  std::optional<std::int64_t> NextDeadline() const;
  // When the earliest timer is due at now_ns, moves it to its next period (always after now_ns, so
  // a loop calling PopDue with one now_ns ends) and returns it. Timers due at the same instant come
  // out in the order they were set.
  std::optional<Due> PopDue(std::int64_t now_ns);

  std::size_t size() const { return heap_.size(); }

 private:
  using Key = std::pair<SinkId, std::uint32_t>;

  struct Timer {
    std::int64_t deadline_ns;
    std::uint64_t order;  // breaks ties between equal deadlines: first set, first due
    std::int64_t interval_ns;
    SinkId sink;
    std::uint32_t timer_id;
    std::uint32_t heap_pos;
  };

  bool Earlier(std::uint32_t a, std::uint32_t b) const;
  void Place(std::uint32_t pos, std::uint32_t slot);
  void SiftUp(std::uint32_t pos);
  void SiftDown(std::uint32_t pos);
  void Reposition(std::uint32_t pos);
  void RemoveSlot(std::uint32_t slot);

  std::vector<Timer> slots_;  // storage; free entries are listed in free_slots_
  std::vector<std::uint32_t> free_slots_;
  std::vector<std::uint32_t> heap_;     // slot numbers in heap order
  std::map<Key, std::uint32_t> index_;  // ordered, so one sink's timers are adjacent
  std::uint64_t next_order_ = 0;
};

}  // namespace kivimap::transport
