// EventLoop: one per thread, on epoll. Socket readiness, timers and posted notifications reach
// the object that registered a sink, one at a time, on the loop's thread.
//
// Delivery rules the socket layer relies on:
//  - Read is level-triggered: delivered again after each receive while unread data remains.
//  - Write is delivered once when a socket is subscribed and can send, and again only after
//    WriteRefused() reported a send that would block and room came back.
//  - Close is delivered after every byte still unread has been offered through Read, once, with
//    the socket's error (ECONNRESET for a reset) or 0. It ends the subscription: nothing more
//    comes for that socket until it is subscribed again.
//  - Accept is delivered while a listening socket has a connection waiting; a listener gets
//    nothing else.
//  - Connect (when in the mask) comes at the first writability of a socket whose connect was
//    started, with the connect's error; Write follows when it succeeded, nothing when it failed.
//  - Only the kinds in the subscribed mask are delivered; posted notifications always are.
//
// Order. Each RunOnce is one round: it collects the sockets epoll reports ready and queues them
// behind the notifications already queued, then delivers exactly what is queued at that point,
// in order. Notifications posted during the round queue behind and wait for the next round, so
// a post made before a round precedes that round's socket reports, and a target that keeps
// posting to itself cannot starve the others. One socket report is delivered as Connect, Write,
// then Read or Close. After the queue, the timers that are due fire, earliest deadline first
// (equal deadlines in the order they were set). A periodic timer is rescheduled before its
// callback runs, and fires at most once per round however late the loop is.
//
// Lifetime. Every delivery looks the sink up by id, and ids are never reused, so a destroyed sink
// gets nothing, whatever was queued for it. A target may destroy its own sink (or itself), other
// sinks, or call any loop method from inside a callback. Targets must not throw; an exception
// leaves RunOnce with the loop consistent, the rest of the round still queued.
//
// Cost. An idle socket costs one small map entry. A timer costs O(log n) to set, restart or kill.
// Timers run on the monotonic clock.
//
// A host runs Run(), or puts Fd() into its own loop and calls RunOnce(0) when Fd() is readable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kivimap {

enum NotificationKind : std::uint16_t {
  NotifyRead = 1,
  NotifyWrite = 2,
  NotifyAccept = 8,
  NotifyConnect = 16,
  NotifyClose = 32,
};

// What a registered object receives. A target may destroy its own sink, or itself, from inside
// either call; the loop does not touch the target afterwards.
class NotificationTarget {
 public:
  // kind is one of NotificationKind, or any other value a poster chose (targets ignore those).
  virtual void OnNotification(std::uint16_t kind, std::uint16_t error) = 0;
  virtual void OnTimer(std::uint32_t timer_id) = 0;

 protected:
  virtual ~NotificationTarget() = default;
};

class EventLoop {
 public:
  using SinkId = std::uint64_t;  // never reused within a loop; 0 is never a valid id

  // Throws std::system_error when the kernel refuses the epoll, timer or event descriptor.
  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The calling thread's loop, created on first use. The thread holds one reference, released
  // when it ends; every kivimap object that uses the loop holds another, so a server kept in a
  // static and destroyed at process exit still finds its loop.
  static EventLoop& ForThisThread();
  static std::shared_ptr<EventLoop> SharedForThisThread();

  // 0 for a null target. Throws std::bad_alloc.
  SinkId CreateSink(NotificationTarget* target);
  // Stops the sink's timers, drops its pending notifications and its socket subscription.
  // Unknown or already destroyed ids are ignored.
  void DestroySink(SinkId sink);

  // Makes fd non-blocking and delivers the kinds in mask (NotificationKind bits) for it to the
  // sink; replaces an earlier subscription of the sink. False (the earlier subscription stays)
  // when the fd cannot be watched, e.g. it is closed or another sink watches it already.
  bool Subscribe(SinkId sink, int fd, std::uint32_t mask);
  // Stops watching the sink's socket; call before closing the fd.
  void Unsubscribe(SinkId sink);
  // A send on the sink's socket would block: deliver Write again once it can send.
  void WriteRefused(SinkId sink);
  // While paused, the socket is not watched for reading nor for the peer's end of stream: no
  // Read comes, and Close only when the connection broke (hang-up or error), whatever is still
  // unread. Write keeps its rules.
  void PauseRead(SinkId sink, bool paused);

  // Starts (or restarts with the new interval) the sink's periodic timer with this id.
  // An interval of 0 is taken as 1 ms. Ignored for an unknown sink. Throws std::bad_alloc.
  void SetTimer(SinkId sink, std::uint32_t timer_id, std::uint32_t interval_ms);
  // Stops that timer; stopping one that does not run is harmless.
  void KillTimer(SinkId sink, std::uint32_t timer_id);

  // Queues a notification to the sink behind those already pending. Ignored for an unknown
  // sink. Throws std::bad_alloc.
  void PostNotification(SinkId sink, std::uint16_t kind, std::uint16_t error = 0);
  // Drops every notification still pending for the sink (timers keep running).
  void DiscardNotifications(SinkId sink);

  // Runs rounds until Quit() is called (from a callback); a Quit() before Run() makes it return
  // at once.
  void Run();
  // Waits at most timeout_ms (-1: no limit, 0: do not wait) for work, then delivers what is due.
  // Returns true if anything was delivered.
  bool RunOnce(int timeout_ms);
  void Quit();
  // The epoll descriptor. Readable whenever RunOnce(0) has work to do: a socket report, a
  // queued notification (an eventfd in the set) or a due timer (a timerfd armed to the earliest
  // deadline). It may also turn readable once for nothing, e.g. for a timer killed before its
  // deadline; RunOnce(0) then returns false.
  int Fd() const;

  std::size_t SinkCount() const;
  std::size_t TimerCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kivimap
