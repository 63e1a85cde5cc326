// CkivWinSocket: the one class through which kivimap touches the network. Each object owns at
// most one TCP socket and one sink on the thread's event loop; socket readiness, posted
// notifications and timer expiries reach it as calls of its six handlers, one at a time.
//
// A handler may destroy its own object (the close step does); the loop does not touch it
// afterwards, and neither may the handler.
#pragma once

#include <cstdint>
#include <memory>

#include "automation/dispatch_object.h"
#include "kivimap/event_loop.h"

namespace kivimap::transport {

class CkivWinSocket : public NotificationTarget, public automation::LifeAnchor {
 public:
  // Notification kinds a connection and a listener subscribe to.
  static constexpr std::uint32_t kListenerMask =
      NotifyRead | NotifyWrite | NotifyAccept | NotifyClose;
  static constexpr std::uint32_t kConnectionMask = NotifyRead | NotifyWrite | NotifyClose;

  // with_sink false gives an object that can hold a socket but receives no notifications. The
  // object keeps the loop it was created on (the calling thread's, or the one given) alive for
  // as long as it lives. Throws std::bad_alloc, and std::system_error when no loop can be had.
  explicit CkivWinSocket(bool with_sink = true);
  explicit CkivWinSocket(std::shared_ptr<EventLoop> loop);
  // Stops the timers, drops pending notifications and closes the socket if one is set.
  ~CkivWinSocket() override;
  CkivWinSocket(const CkivWinSocket&) = delete;
  CkivWinSocket& operator=(const CkivWinSocket&) = delete;

  int fd() const { return fd_; }
  bool has_socket() const { return fd_ >= 0; }
  // Takes ownership of fd (an earlier socket is closed first).
  void AttachSocket(int fd);

  // Delivers the kinds in mask (NotificationKind bits) for the socket; makes it non-blocking.
  bool Subscribe(std::uint32_t mask);
  // Stops delivering the socket's notifications; the socket stays open.
  void Unsubscribe();
  // Closes the socket once; later calls do nothing.
  void CloseSocket();

  // Starts the periodic timer with this id, or restarts it with the new interval.
  void SetTimer(std::uint32_t interval_ms, std::uint32_t timer_id);
  void KillTimer(std::uint32_t timer_id);
  // Queues a notification of this kind behind those already pending for this object.
  void PostNotification(std::uint16_t kind, std::uint16_t error = 0);
  void DiscardNotifications();
  // A send would block: a Write notification follows once the socket can send again.
  void WriteRefused();
  // Stops or resumes watching the socket for reading (see EventLoop::PauseRead).
  void PauseRead(bool paused);

  // Routes a notification to the handler of its kind; other kinds go to OnOtherKind. Nothing a
  // handler throws leaves here: OnFault runs instead, if the object still exists.
  void OnNotification(std::uint16_t kind, std::uint16_t error) final;
  void OnTimer(std::uint32_t timer_id) final;

  // The six handlers, in slot order. The base class does nothing in any of them.
  virtual void OnRead(std::uint16_t /*error*/) {}
  virtual void OnWrite(std::uint16_t /*error*/) {}
  virtual void OnAccept(std::uint16_t /*error*/) {}
  virtual void OnConnect(std::uint16_t /*error*/) {}
  virtual void OnClose(std::uint16_t /*error*/) {}
  virtual void OnTimerExpired(std::uint32_t /*timer_id*/) {}
  // A posted kind outside the five; ignored unless a class posts kinds of its own.
  virtual void OnOtherKind(std::uint16_t /*kind*/) {}
  // A handler threw (out of memory, or a fault of code it called).
  virtual void OnFault() {}

 private:
  void Route(std::uint16_t kind, std::uint16_t error);

  std::shared_ptr<EventLoop> loop_;
  EventLoop::SinkId sink_ = 0;
  int fd_ = -1;
};

}  // namespace kivimap::transport
