// Timers: the heap on its own (with made-up times) and through the loop (with the real clock).
#include <time.h>

#include <algorithm>
#include <map>
#include <optional>
#include <random>

#include "transport/event_loop_timers.h"
#include "transport/transport_test_support.h"

namespace kivimap::testing {
namespace {

using EventLoopTimerTest = LoopTest;
constexpr std::int64_t kMs = 1'000'000;

// Random operations against a plain ordered model: any slip in the heap's bookkeeping shows, as
// do a restart that keeps its old deadline, a Kill that claims a stopped timer, a wrong order
// among equal deadlines (set order wins) or a late periodic timer that does not skip its missed
// periods (its next deadline then counts from now).
TEST(TimerHeapTest, AgreesWithASimpleModelUnderRandomOperations) {
  using Key = std::pair<std::uint64_t, std::uint32_t>;
  struct Entry {
    std::int64_t deadline;
    std::uint64_t order;
    std::int64_t interval;
  };
  std::map<Key, Entry> model;
  std::uint64_t order = 0;
  std::int64_t now = 0;
  transport::TimerHeap heap;
  std::mt19937 random(42);
  for (int step = 0; step < 20000; ++step) {
    const std::uint64_t sink = random() % 20;
    const Key key(sink, random() % 4);
    const std::uint32_t operation = random() % 5;
    if (operation <= 1) {
      const std::uint32_t interval = random() % 50;  // 0 is taken as 1 ms
      heap.Set(key.first, key.second, interval, now);
      const std::int64_t interval_ns = std::max<std::uint32_t>(interval, 1) * kMs;
      model[key] = Entry{now + interval_ns, order++, interval_ns};
    } else if (operation == 2) {
      ASSERT_EQ(heap.Kill(key.first, key.second), model.erase(key) == 1);
    } else if (operation == 3) {
      heap.KillAll(key.first);
      std::erase_if(model, [&](const auto& entry) { return entry.first.first == key.first; });
    } else {
      now += static_cast<std::int64_t>(random() % 20) * kMs;
      for (;;) {
        auto due = std::min_element(model.begin(), model.end(), [](const auto& x, const auto& y) {
          return std::tie(x.second.deadline, x.second.order) <
                 std::tie(y.second.deadline, y.second.order);
        });
        const auto actual = heap.PopDue(now);
        const bool expected = due != model.end() && due->second.deadline <= now;
        ASSERT_EQ(expected, actual.has_value()) << "step " << step;
        if (!actual) break;
        ASSERT_EQ(due->first, Key(actual->sink, actual->timer_id)) << "step " << step;
        Entry& e = due->second;
        e.deadline = e.deadline + e.interval > now ? e.deadline + e.interval : now + e.interval;
        e.order = order++;
      }
    }
    ASSERT_EQ(heap.size(), model.size());
  }
}

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// Every timer is restarted once, sooner or later than first set. The loop reads the clock inside
// SetTimer; the test brackets that moment, so each timer's deadline is known to lie in
// [before + interval, after + interval]. Any two timers fired in a given order must not have
// brackets that prove the opposite order.
TEST_F(EventLoopTimerTest, TenThousandTimersFireInDeadlineOrder) {
  constexpr std::uint32_t kCount = 10000;
  std::vector<std::pair<std::int64_t, std::int64_t>> window(kCount);
  std::mt19937 random(3);
  target.on_timer = [&](std::uint32_t id) { loop.KillTimer(sink, id); };
  for (std::uint32_t id = 0; id < kCount; ++id) loop.SetTimer(sink, id, 1 + random() % 200);
  for (std::uint32_t id = 0; id < kCount; ++id) {
    const std::int64_t interval = 1 + random() % 200;
    const std::int64_t before = MonotonicNs();
    loop.SetTimer(sink, id, static_cast<std::uint32_t>(interval));
    window[id] = {before + interval * kMs, MonotonicNs() + interval * kMs};
  }
  ASSERT_TRUE(RunUntil([&] { return target.timers.size() == kCount; }, loop));
  EXPECT_EQ(loop.TimerCount(), 0u);
  std::vector<bool> seen(kCount);
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::uint32_t id = target.timers[i];
    EXPECT_FALSE(seen[id]) << "timer " << id << " fired twice";
    seen[id] = true;
    const std::uint32_t previous = target.timers[i > 0 ? i - 1 : 0];
    EXPECT_LE(window[previous].first, window[id].second)
        << "timer " << previous << " fired before " << id << " but was due later";
  }
}

}  // namespace
}  // namespace kivimap::testing
