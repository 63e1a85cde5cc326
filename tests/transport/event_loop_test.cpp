// Posted notifications, sink lifetime, the loop's descriptor and Run/Quit.
#include "kivimap/event_loop.h"

#include <thread>

#include "transport/transport_test_support.h"

namespace kivimap::testing {
namespace {

using EventLoopTest = LoopTest;

TEST(EventLoopSinkTest, PostedNotificationsArriveInOrderAndDiscardedOnesNever) {
  EventLoop loop;
  Lines log;
  Recorder a("a", &log), b("b", &log);
  const auto sink_a = loop.CreateSink(&a);
  const auto sink_b = loop.CreateSink(&b);
  a.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    if (kind == NotifyRead) loop.PostNotification(sink_a, 40);  // waits for the next round
  };
  loop.PostNotification(sink_a, 100);
  loop.PostNotification(sink_b, NotifyRead);
  loop.PostNotification(sink_a, NotifyClose, 104);
  loop.PostNotification(sink_b, 7);  // kinds a poster chose reach the target unchanged
  loop.PostNotification(sink_a, NotifyRead);
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(log, (Lines{"a:100", "b:1", "a:32/104", "b:7", "a:1"}));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_EQ(log.back(), "a:40");

  log.clear();
  loop.PostNotification(sink_a, 2);
  loop.PostNotification(sink_b, 3);
  loop.PostNotification(sink_a, 4);
  loop.DiscardNotifications(sink_a);
  loop.PostNotification(sink_a, 5);  // posted after the discard: kept
  loop.PostNotification(sink_b, 6);
  loop.PostNotification(sink_a, 7);
  b.on_notification = [&](std::uint16_t kind, std::uint16_t) {
    if (kind == 6) loop.DiscardNotifications(sink_a);  // drops the 7 queued in this round
  };
  RunRounds(loop);
  EXPECT_EQ(log, (Lines{"b:3", "a:5", "b:6"}));
}

// Sink c is destroyed by b's notification with its own post queued behind, d by b's timer with
// d's timers due right after it in the same round.
TEST(EventLoopSinkTest, DestroyedSinkGetsNothingMoreAndItsIdIsNeverReused) {
  EventLoop loop;
  Lines log;
  Recorder b("b", &log), c("c", &log), d("d", &log);
  const auto sink_b = loop.CreateSink(&b);
  const auto sink_c = loop.CreateSink(&c);
  const auto sink_d = loop.CreateSink(&d);
  loop.PostNotification(sink_b, 2);
  loop.PostNotification(sink_c, 3);
  loop.SetTimer(sink_c, 1, 1);
  loop.SetTimer(sink_b, 1, 1);
  for (std::uint32_t id = 1; id <= 3; ++id) loop.SetTimer(sink_d, id, 1);
  b.on_notification = [&](std::uint16_t, std::uint16_t) { loop.DestroySink(sink_c); };
  b.on_timer = [&](std::uint32_t) { loop.DestroySink(sink_d); };
  std::this_thread::sleep_for(std::chrono::milliseconds(5));  // every timer is due

  ASSERT_TRUE(RunUntil([&] { return b.timers.size() >= 3; }, loop));
  EXPECT_EQ(log, (Lines{"b:2"}));
  EXPECT_TRUE(c.timers.empty() && d.timers.empty());
  EXPECT_EQ(loop.SinkCount(), 1u);
  EXPECT_EQ(loop.TimerCount(), 1u);
  // Calls naming a destroyed sink are ignored, and a new sink never gets an old id.
  loop.PostNotification(sink_c, 9);
  loop.SetTimer(sink_d, 2, 1);
  EXPECT_EQ(loop.TimerCount(), 1u);
  EXPECT_GT(loop.CreateSink(&c), sink_d);
  RunRounds(loop);
  EXPECT_EQ(log, (Lines{"b:2"}));
}

// The target destroys its sink and itself in its first call while more is due behind that
// call; any later touch is a use after free that AddressSanitizer reports.
TEST(EventLoopSinkTest, TargetMayDestroyItselfWithMoreDueBehindItsCall) {
  enum Due { kPosted, kSiblingTimers, kSocketReport };
  for (const Due due : {kPosted, kSiblingTimers, kSocketReport}) {
    SCOPED_TRACE(due);
    EventLoop loop;
    int calls = 0;
    auto* doomed = new Recorder;
    const auto sink = loop.CreateSink(doomed);
    const auto die = [&loop, &calls, sink, doomed] {
      ++calls;
      loop.DestroySink(sink);
      delete doomed;  // nothing of the hook is touched after this
    };
    doomed->on_notification = [die](std::uint16_t, std::uint16_t) { die(); };
    doomed->on_timer = [die](std::uint32_t) { die(); };
    auto [ours, peer] = ConnectedPair();
    if (due == kPosted) {
      for (std::uint16_t kind : {1, 2, 32}) loop.PostNotification(sink, kind);
    } else if (due == kSiblingTimers) {
      for (std::uint32_t id = 2; id <= 4; ++id) loop.SetTimer(sink, id, 1);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } else {
      SendAll(peer.get(), "pending data");
      peer.Reset();  // Write, Read and Close are all due in the same round
      ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead | NotifyWrite | NotifyClose));
    }
    loop.SetTimer(sink, 1, 1);
    ASSERT_TRUE(RunUntil([&] { return calls > 0; }, loop));
    RunRounds(loop);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(loop.SinkCount() + loop.TimerCount(), 0u);
  }
}

// A host runs the loop with Run until Quit, or polls Fd(), which must wake it for work and stay
// quiet without any, idle sockets included.
TEST_F(EventLoopTest, AHostRunsTheLoopUntilQuitOrPollsItsFd) {
  target.on_timer = [&](std::uint32_t) {
    if (target.timers.size() == 3) loop.Quit();
  };
  loop.SetTimer(sink, 1, 1);
  loop.Run();
  EXPECT_EQ(target.timers.size(), 3u);
  loop.KillTimer(sink, 1);
  target.on_notification = [&](std::uint16_t, std::uint16_t) { loop.Quit(); };
  loop.PostNotification(sink, 100);
  loop.Run();  // a second Run works the same way
  EXPECT_EQ(target.deliveries.size(), 1u);

  auto [ours, peer] = ConnectedPair();
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead));
  RunRounds(loop, 2);
  EXPECT_FALSE(Readable(loop.Fd())) << "an idle socket, a killed timer";
  loop.PostNotification(sink, 101);
  EXPECT_TRUE(Readable(loop.Fd()));
  loop.DiscardNotifications(sink);
  EXPECT_FALSE(Readable(loop.Fd())) << "nothing left to deliver";
  SendAll(peer.get(), "x");
  EXPECT_TRUE(Readable(loop.Fd(), 5000));
}

}  // namespace
}  // namespace kivimap::testing
