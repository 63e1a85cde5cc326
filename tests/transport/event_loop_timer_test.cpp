// Timers: the heap on its own (with made-up times) and through the loop (with the real clock).
#include <time.h>

#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include "transport/event_loop_test_support.h"
#include "transport/event_loop_timers.h"

namespace kivimap::testing {
namespace {

using transport::TimerHeap;
constexpr std::int64_t kMs = 1'000'000;

std::vector<std::pair<std::uint64_t, std::uint32_t>> DrainDue(TimerHeap& heap, std::int64_t now) {
  std::vector<std::pair<std::uint64_t, std::uint32_t>> fired;
  while (auto due = heap.PopDue(now)) fired.emplace_back(due->sink, due->timer_id);
  return fired;
}

TEST(TimerHeapTest, TenThousandTimersComeDueInDeadlineOrder) {
  std::vector<std::uint32_t> intervals(10000);
  for (std::uint32_t i = 0; i < intervals.size(); ++i) intervals[i] = i + 1;
  std::shuffle(intervals.begin(), intervals.end(), std::mt19937(7));
  TimerHeap heap;
  for (std::uint32_t id = 0; id < intervals.size(); ++id) heap.Set(1, id, intervals[id], 0);
  ASSERT_EQ(heap.size(), 10000u);

  std::int64_t last = 0;
  std::size_t count = 0;
  for (std::int64_t now = 1; now <= 10000; ++now) {
    for (const auto& [sink, id] : DrainDue(heap, now * kMs)) {
      heap.Kill(sink, id);  // periodic: it would come again
      EXPECT_EQ(intervals[id], now) << "timer " << id << " out of order";
      EXPECT_GE(now, last);
      last = now;
      ++count;
    }
  }
  EXPECT_EQ(count, 10000u);
}

TEST(TimerHeapTest, PeriodicRescheduleSkipsMissedPeriodsAndTiesKeepSetOrder) {
  TimerHeap heap;
  heap.Set(1, 1, 10, 0);
  heap.Set(2, 1, 10, 0);
  heap.Set(3, 1, 0, 0);  // 0 is taken as 1 ms
  EXPECT_EQ(heap.NextDeadline(), 1 * kMs);
  EXPECT_TRUE(heap.Kill(3, 1));
  EXPECT_FALSE(heap.Kill(3, 1));

  using Fired = std::vector<std::pair<std::uint64_t, std::uint32_t>>;
  EXPECT_EQ(DrainDue(heap, 10 * kMs), (Fired{{1, 1}, {2, 1}}));
  EXPECT_EQ(heap.NextDeadline(), 20 * kMs);
  // Held up until 35 ms: each fires once, and the next period counts from now.
  EXPECT_EQ(DrainDue(heap, 35 * kMs), (Fired{{1, 1}, {2, 1}}));
  EXPECT_EQ(heap.NextDeadline(), 45 * kMs);
  EXPECT_TRUE(DrainDue(heap, 44 * kMs).empty());
}

// Random operations against a plain ordered model: any slip in the heap's bookkeeping shows.
TEST(TimerHeapTest, AgreesWithASimpleModelUnderRandomOperations) {
  struct Entry {
    std::int64_t deadline;
    std::uint64_t order;
    std::int64_t interval;
  };
  std::map<std::pair<std::uint64_t, std::uint32_t>, Entry> model;
  std::uint64_t order = 0;
  TimerHeap heap;
  std::mt19937 random(42);
  std::int64_t now = 0;

  auto model_pop = [&]() -> std::optional<std::pair<std::uint64_t, std::uint32_t>> {
    auto best = model.end();
    for (auto it = model.begin(); it != model.end(); ++it) {
      if (it->second.deadline > now) continue;
      if (best == model.end() || it->second.deadline < best->second.deadline ||
          (it->second.deadline == best->second.deadline && it->second.order < best->second.order)) {
        best = it;
      }
    }
    if (best == model.end()) return std::nullopt;
    Entry& e = best->second;
    e.deadline += e.interval;
    if (e.deadline <= now) e.deadline = now + e.interval;
    e.order = order++;
    return best->first;
  };

  for (int step = 0; step < 20000; ++step) {
    const std::uint64_t sink = random() % 20;
    const std::uint32_t id = random() % 4;
    switch (random() % 5) {
      case 0:
      case 1: {
        const std::uint32_t interval = random() % 50;
        heap.Set(sink, id, interval, now);
        const std::int64_t interval_ns = std::max<std::uint32_t>(interval, 1) * kMs;
        model[{sink, id}] = Entry{now + interval_ns, order++, interval_ns};
        break;
      }
      case 2:
        ASSERT_EQ(heap.Kill(sink, id), model.erase({sink, id}) == 1);
        break;
      case 3:
        heap.KillAll(sink);
        std::erase_if(model, [sink](const auto& entry) { return entry.first.first == sink; });
        break;
      case 4:
        now += static_cast<std::int64_t>(random() % 20) * kMs;
        for (;;) {
          const auto expected = model_pop();
          const auto actual = heap.PopDue(now);
          ASSERT_EQ(expected.has_value(), actual.has_value()) << "step " << step;
          if (!actual) break;
          ASSERT_EQ(*expected, std::make_pair(actual->sink, actual->timer_id)) << "step " << step;
        }
        break;
    }
    ASSERT_EQ(heap.size(), model.size());
  }
}

TEST(EventLoopTimerTest, TimerFiresPeriodicallyAtMostOncePerRound) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  loop.SetTimer(sink, 5, 0);
  ASSERT_TRUE(RunUntil(loop, [&] { return target.timers.size() >= 3; }));
  const std::size_t before = target.timers.size();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // many periods missed
  loop.RunOnce(0);
  EXPECT_EQ(target.timers.size(), before + 1);
  EXPECT_TRUE(std::all_of(target.timers.begin(), target.timers.end(),
                          [](std::uint32_t id) { return id == 5; }));
}

TEST(EventLoopTimerTest, SetTimerRestartsARunningTimerWithTheNewInterval) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  loop.SetTimer(sink, 1, 60000);
  loop.SetTimer(sink, 1, 1);  // sooner
  loop.SetTimer(sink, 2, 1);
  loop.SetTimer(sink, 2, 60000);  // later
  EXPECT_EQ(loop.TimerCount(), 2u);
  ASSERT_TRUE(RunUntil(loop, [&] { return target.timers.size() >= 2; }));
  RunRounds(loop);
  EXPECT_EQ(std::count(target.timers.begin(), target.timers.end(), 2u), 0);
}

TEST(EventLoopTimerTest, KilledTimerStaysQuietAndKillingAStoppedOneIsHarmless) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  loop.KillTimer(sink, 3);  // never started
  loop.SetTimer(sink, 3, 1);
  loop.SetTimer(sink, 4, 1);
  loop.KillTimer(sink, 3);
  loop.KillTimer(sink, 3);
  EXPECT_EQ(loop.TimerCount(), 1u);
  ASSERT_TRUE(RunUntil(loop, [&] { return target.timers.size() >= 3; }));
  EXPECT_EQ(std::count(target.timers.begin(), target.timers.end(), 3u), 0);
}

TEST(EventLoopTimerTest, CallbackMayKillOrRestartItsOwnTimer) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  target.on_timer = [&](std::uint32_t id) {
    if (id == 1) loop.KillTimer(sink, 1);
    if (id == 2) loop.SetTimer(sink, 2, 60000);
  };
  loop.SetTimer(sink, 1, 1);
  loop.SetTimer(sink, 2, 1);
  loop.SetTimer(sink, 3, 1);
  ASSERT_TRUE(RunUntil(
      loop, [&] { return std::count(target.timers.begin(), target.timers.end(), 3u) >= 5; }));
  EXPECT_EQ(std::count(target.timers.begin(), target.timers.end(), 1u), 1);
  EXPECT_EQ(std::count(target.timers.begin(), target.timers.end(), 2u), 1);
  EXPECT_EQ(loop.TimerCount(), 2u);
}

TEST(EventLoopTimerTest, DestroyingASinkStopsOnlyItsTimers) {
  EventLoop loop;
  Recorder doomed, survivor, other;
  const auto survivor_sink = loop.CreateSink(&survivor);
  const auto doomed_sink = loop.CreateSink(&doomed);
  const auto other_sink = loop.CreateSink(&other);
  loop.SetTimer(survivor_sink, 1, 1);
  for (std::uint32_t id = 1; id <= 3; ++id) loop.SetTimer(doomed_sink, id, 1);
  loop.SetTimer(other_sink, 1, 60000);
  loop.DestroySink(other_sink);
  // The survivor's expiry comes first and destroys the sink whose timers are due right after it.
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  survivor.on_timer = [&](std::uint32_t) { loop.DestroySink(doomed_sink); };
  EXPECT_EQ(loop.TimerCount(), 4u);

  ASSERT_TRUE(RunUntil(loop, [&] { return survivor.timers.size() >= 3; }));
  EXPECT_TRUE(doomed.timers.empty());
  EXPECT_TRUE(other.timers.empty());
  EXPECT_EQ(loop.TimerCount(), 1u);
}

TEST(EventLoopTimerTest, TargetMayDestroyItselfInOnTimerWithSiblingTimersDue) {
  EventLoop loop;
  int calls = 0;
  class Doomed : public NotificationTarget {
   public:
    Doomed(EventLoop& loop, int& calls) : loop_(loop), calls_(calls) {}
    void OnNotification(std::uint16_t, std::uint16_t) override {}
    void OnTimer(std::uint32_t) override {
      ++calls_;
      loop_.DestroySink(sink);
      delete this;
    }
    EventLoop::SinkId sink = 0;

   private:
    EventLoop& loop_;
    int& calls_;
  };
  auto* doomed = new Doomed(loop, calls);
  doomed->sink = loop.CreateSink(doomed);
  for (std::uint32_t id = 1; id <= 3; ++id) loop.SetTimer(doomed->sink, id, 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_TRUE(loop.RunOnce(0));
  RunRounds(loop);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(loop.TimerCount(), 0u);
}

std::int64_t MonotonicNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// The loop reads the clock inside SetTimer; the test brackets that moment, so each timer's
// deadline is known to lie in [before + interval, after + interval]. Any two timers fired in
// a given order must not have brackets that prove the opposite order.
TEST(EventLoopTimerTest, TenThousandTimersFireInDeadlineOrder) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  constexpr std::uint32_t kCount = 10000;
  std::vector<std::uint32_t> intervals(kCount);
  std::mt19937 random(3);
  for (auto& interval : intervals) interval = 1 + random() % 200;
  std::vector<std::pair<std::int64_t, std::int64_t>> window(kCount);
  target.on_timer = [&](std::uint32_t id) { loop.KillTimer(sink, id); };
  for (std::uint32_t id = 0; id < kCount; ++id) {
    const std::int64_t before = MonotonicNs();
    loop.SetTimer(sink, id, intervals[id]);
    const std::int64_t after = MonotonicNs();
    window[id] = {before + intervals[id] * kMs, after + intervals[id] * kMs};
  }
  ASSERT_TRUE(RunUntil(loop, [&] { return target.timers.size() == kCount; }));
  EXPECT_EQ(loop.TimerCount(), 0u);

  std::vector<bool> seen(kCount);
  for (std::size_t i = 0; i < kCount; ++i) {
    const std::uint32_t id = target.timers[i];
    EXPECT_FALSE(seen[id]) << "timer " << id << " fired twice";
    seen[id] = true;
    if (i > 0) {
      const std::uint32_t previous = target.timers[i - 1];
      EXPECT_LE(window[previous].first, window[id].second)
          << "timer " << previous << " fired before " << id << " but was due later";
    }
  }
}

}  // namespace
}  // namespace kivimap::testing
