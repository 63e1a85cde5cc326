// Posted notifications, sink lifetime, the loop's descriptor and Run/Quit.
#include "kivimap/event_loop.h"

#include <poll.h>

#include <thread>

#include "transport/event_loop_test_support.h"

namespace kivimap::testing {
namespace {

bool Readable(int fd, int timeout_ms = 0) {
  pollfd entry{fd, POLLIN, 0};
  return poll(&entry, 1, timeout_ms) == 1 && (entry.revents & POLLIN) != 0;
}

// Appends "<name>:<kind>" for every notification to a log shared by several targets.
class Logger : public NotificationTarget {
 public:
  Logger(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
  void OnNotification(std::uint16_t kind, std::uint16_t error) override {
    std::string entry = name_ + ":" + std::to_string(kind);
    if (error != 0) entry.append("/").append(std::to_string(error));
    log_.push_back(std::move(entry));
    if (hook) hook(kind);
  }
  void OnTimer(std::uint32_t id) override { log_.push_back(name_ + ":timer" + std::to_string(id)); }
  std::function<void(std::uint16_t)> hook;

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

using Log = std::vector<std::string>;

TEST(EventLoopTest, PostedNotificationsArriveInTheOrderTheyWerePosted) {
  EventLoop loop;
  Log log;
  Logger a("a", log), b("b", log);
  const auto sink_a = loop.CreateSink(&a);
  const auto sink_b = loop.CreateSink(&b);
  loop.PostNotification(sink_a, 100);
  loop.PostNotification(sink_b, NotifyRead);
  loop.PostNotification(sink_a, NotifyClose, 104);
  loop.PostNotification(sink_b, 7);  // kinds a poster chose reach the target unchanged
  loop.PostNotification(sink_a, NotifyRead);

  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(log, (Log{"a:100", "b:1", "a:32/104", "b:7", "a:1"}));
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST(EventLoopTest, DiscardedNotificationsNeverArrive) {
  EventLoop loop;
  Log log;
  Logger a("a", log), b("b", log);
  const auto sink_a = loop.CreateSink(&a);
  const auto sink_b = loop.CreateSink(&b);
  loop.PostNotification(sink_a, 1);
  loop.PostNotification(sink_b, 2);
  loop.PostNotification(sink_a, 3);
  loop.DiscardNotifications(sink_a);
  loop.PostNotification(sink_a, 4);  // posted after the discard: kept
  // Discarding from inside a callback drops what is still queued in the same round.
  loop.PostNotification(sink_b, 5);
  loop.PostNotification(sink_a, 6);
  b.hook = [&](std::uint16_t kind) {
    if (kind == 5) loop.DiscardNotifications(sink_a);
  };

  loop.RunOnce(0);
  loop.RunOnce(0);
  EXPECT_EQ(log, (Log{"b:2", "a:4", "b:5"}));
}

TEST(EventLoopTest, NotificationsPostedDuringARoundWaitForTheNextRound) {
  EventLoop loop;
  Log log;
  Logger a("a", log), b("b", log);
  const auto sink_a = loop.CreateSink(&a);
  const auto sink_b = loop.CreateSink(&b);
  a.hook = [&](std::uint16_t kind) {
    if (kind < 3) loop.PostNotification(sink_a, kind + 1);  // a target that keeps posting
  };
  loop.PostNotification(sink_a, 1);
  loop.PostNotification(sink_b, 10);

  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(log, (Log{"a:1", "b:10"}));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(loop.RunOnce(0));
  EXPECT_EQ(log, (Log{"a:1", "b:10", "a:2", "a:3"}));
}

TEST(EventLoopTest, PostedBeforeARoundPrecedesTheSocketReadinessOfThatRound) {
  auto [ours, peer] = ConnectedPair();
  EventLoop loop;
  Log log;
  Logger a("a", log);
  const auto sink = loop.CreateSink(&a);
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead));
  a.hook = [&](std::uint16_t kind) {
    if (kind == NotifyRead) loop.PostNotification(sink, 200);
  };
  ASSERT_EQ(send(peer.get(), "x", 1, 0), 1);
  ASSERT_TRUE(Readable(ours.get(), 5000));
  loop.PostNotification(sink, 100);

  loop.RunOnce(0);
  EXPECT_EQ(log, (Log{"a:100", "a:1"}));
  loop.RunOnce(0);  // the byte is still unread, so Read comes again, behind the post
  EXPECT_EQ(log, (Log{"a:100", "a:1", "a:200", "a:1"}));
}

TEST(EventLoopTest, DestroyedSinkGetsNothingMoreAndItsIdIsNeverReused) {
  EventLoop loop;
  Log log;
  Logger a("a", log), b("b", log), c("c", log);
  const auto sink_a = loop.CreateSink(&a);
  const auto sink_b = loop.CreateSink(&b);
  const auto sink_c = loop.CreateSink(&c);
  loop.PostNotification(sink_a, 1);
  loop.SetTimer(sink_a, 1, 1);
  loop.PostNotification(sink_b, 2);
  loop.PostNotification(sink_c, 3);
  loop.PostNotification(sink_c, 4);
  loop.SetTimer(sink_c, 1, 1);
  loop.DestroySink(sink_a);
  b.hook = [&](std::uint16_t) { loop.DestroySink(sink_c); };  // c's queued entries are behind

  EXPECT_EQ(loop.SinkCount(), 2u);
  EXPECT_EQ(loop.TimerCount(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));  // the timers are due
  loop.RunOnce(0);
  RunRounds(loop);
  EXPECT_EQ(log, (Log{"b:2"}));
  EXPECT_EQ(loop.SinkCount(), 1u);
  EXPECT_EQ(loop.TimerCount(), 0u);

  // Calls naming a destroyed sink are ignored, and a new sink never gets an old id.
  loop.PostNotification(sink_a, 9);
  loop.SetTimer(sink_c, 2, 1);
  loop.DestroySink(sink_c);
  EXPECT_EQ(loop.TimerCount(), 0u);
  const auto sink_d = loop.CreateSink(&a);
  EXPECT_GT(sink_d, sink_c);
  EXPECT_NE(sink_d, 0u);
  EXPECT_FALSE(loop.RunOnce(0));
}

TEST(EventLoopTest, TargetMayDestroyItselfWithPostedNotificationsStillQueued) {
  EventLoop loop;
  int calls = 0;
  // Deletes itself in the first call; later ones would touch freed memory (caught by ASan).
  class Doomed : public NotificationTarget {
   public:
    Doomed(EventLoop& loop, int& calls) : loop_(loop), calls_(calls) {}
    void OnNotification(std::uint16_t, std::uint16_t) override {
      ++calls_;
      loop_.DestroySink(sink);
      delete this;
    }
    void OnTimer(std::uint32_t) override { ++calls_; }
    EventLoop::SinkId sink = 0;

   private:
    EventLoop& loop_;
    int& calls_;
  };
  auto* doomed = new Doomed(loop, calls);
  doomed->sink = loop.CreateSink(doomed);
  for (std::uint16_t kind : {1, 2, 32}) loop.PostNotification(doomed->sink, kind);
  loop.SetTimer(doomed->sink, 1, 1);

  EXPECT_TRUE(loop.RunOnce(0));
  RunRounds(loop);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(loop.SinkCount(), 0u);
}

TEST(EventLoopTest, FdIsReadableExactlyWhileWorkIsWaiting) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  EXPECT_FALSE(Readable(loop.Fd()));

  loop.PostNotification(sink, 100);
  EXPECT_TRUE(Readable(loop.Fd()));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_FALSE(Readable(loop.Fd()));

  loop.PostNotification(sink, 101);
  loop.DiscardNotifications(sink);
  EXPECT_FALSE(Readable(loop.Fd())) << "nothing left to deliver";

  loop.SetTimer(sink, 7, 1);
  EXPECT_TRUE(Readable(loop.Fd(), 5000));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(target.timers, (std::vector<std::uint32_t>{7}));
  loop.KillTimer(sink, 7);

  auto [ours, peer] = ConnectedPair();
  ASSERT_TRUE(loop.Subscribe(sink, ours.get(), NotifyRead));
  RunRounds(loop, 2);
  EXPECT_FALSE(Readable(loop.Fd()));
  ASSERT_EQ(send(peer.get(), "x", 1, 0), 1);
  EXPECT_TRUE(Readable(loop.Fd(), 5000));
  EXPECT_TRUE(loop.RunOnce(0));
  EXPECT_EQ(target.deliveries.back(), (Delivery{NotifyRead, 0}));
}

TEST(EventLoopTest, RunReturnsAfterQuit) {
  EventLoop loop;
  Recorder target;
  const auto sink = loop.CreateSink(&target);
  target.on_timer = [&](std::uint32_t) {
    if (target.timers.size() == 3) loop.Quit();
  };
  loop.SetTimer(sink, 1, 1);
  loop.Run();
  EXPECT_EQ(target.timers.size(), 3u);

  target.on_notification = [&](std::uint16_t, std::uint16_t) { loop.Quit(); };
  loop.PostNotification(sink, 100);
  loop.Run();  // a second Run works the same way
  EXPECT_EQ(target.deliveries.size(), 1u);
}

TEST(EventLoopTest, EachThreadHasItsOwnLoop) {
  EventLoop* here = &EventLoop::ForThisThread();
  EXPECT_EQ(here, &EventLoop::ForThisThread());
  EventLoop* there = nullptr;
  std::thread([&] { there = &EventLoop::ForThisThread(); }).join();
  EXPECT_NE(here, there);
}

}  // namespace
}  // namespace kivimap::testing
