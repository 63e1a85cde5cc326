// EventLoop: one per thread, on epoll. Socket readiness, timers and posted notifications reach
// the object that registered a sink, one at a time, on the loop's thread.
//
// Delivery rules the socket layer relies on:
//  - Read is level-triggered: delivered again after each receive while unread data remains.
//  - Write is delivered once when a socket is subscribed and can send, and again only after
//    WriteRefused() reported a send that would block and room came back.
//  - Close is delivered after every byte still unread has been offered through Read.
//  - Accept is delivered while a listening socket has a connection waiting.
//  - Posted notifications go behind those already pending, in FIFO order, and can be discarded
//    per sink. Destroying a sink drops its pending notifications, its timers and its socket.
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

  EventLoop();
  ~EventLoop();
  EventLoop(const EventLoop&) = delete;
  EventLoop& operator=(const EventLoop&) = delete;

  // The calling thread's loop, created on first use.
  static EventLoop& ForThisThread();

  SinkId CreateSink(NotificationTarget* target);
  // Stops the sink's timers, drops its pending notifications and its socket subscription.
  // Unknown or already destroyed ids are ignored.
  void DestroySink(SinkId sink);

  // Makes fd non-blocking and delivers the kinds in mask (NotificationKind bits) for it to the
  // sink; replaces an earlier subscription of the sink. False when the fd cannot be watched.
  bool Subscribe(SinkId sink, int fd, std::uint32_t mask);
  // Stops watching the sink's socket; call before closing the fd.
  void Unsubscribe(SinkId sink);
  // A send on the sink's socket would block: deliver Write again once it can send.
  void WriteRefused(SinkId sink);

  // Starts (or restarts with the new interval) the sink's periodic timer with this id.
  // An interval of 0 is taken as 1 ms.
  void SetTimer(SinkId sink, std::uint32_t timer_id, std::uint32_t interval_ms);
  // Stops that timer; stopping one that does not run is harmless.
  void KillTimer(SinkId sink, std::uint32_t timer_id);

  // Queues a notification to the sink behind those already pending.
  void PostNotification(SinkId sink, std::uint16_t kind, std::uint16_t error = 0);
  // Drops every notification still pending for the sink (timers keep running).
  void DiscardNotifications(SinkId sink);

  // Runs until Quit().
  void Run();
  // Waits at most timeout_ms (-1: no limit, 0: do not wait) for work, then delivers what is due.
  // Returns true if anything was delivered.
  bool RunOnce(int timeout_ms);
  void Quit();
  // Readable whenever RunOnce(0) has work to do.
  int Fd() const;

  std::size_t SinkCount() const;
  std::size_t TimerCount() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace kivimap
