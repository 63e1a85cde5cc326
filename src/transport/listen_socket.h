// CkivListenSocket: the listening socket of a server. It knows its owner only through
// ListenOwner, which performs the accept procedure on each Accept notification.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "transport/win_socket.h"

namespace kivimap::transport {

class ListenOwner {
 public:
  // Connections wait. The owner accepts a bounded number of them, and may destroy the listener
  // from inside this call.
  virtual void OnAcceptReady() = 0;

 protected:
  virtual ~ListenOwner() = default;
};

class CkivListenSocket final : public CkivWinSocket {
 public:
  explicit CkivListenSocket(ListenOwner* owner) : owner_(owner) {}
  CkivListenSocket(ListenOwner* owner, std::shared_ptr<EventLoop> loop)
      : CkivWinSocket(std::move(loop)), owner_(owner) {}

  // Creates a TCP/IPv4 socket and binds it to address:port (both in network byte order).
  // Returns 0 or the errno of the step that failed.
  int Bind(std::uint32_t address, std::uint16_t port);
  // Listens and subscribes to the listener's notifications. Returns 0 or an errno.
  int Listen(int backlog);
  // The local port actually bound (host byte order), 0 when unknown.
  std::uint16_t LocalPort() const;

  // Accepts one waiting connection: a non-blocking socket and the peer's IPv4 address (network
  // byte order), or -1 when none could be obtained.
  int Accept(std::uint32_t* peer_address);

  void OnAccept(std::uint16_t error) override;
  // Ends a pause that running out of descriptors started.
  void OnTimerExpired(std::uint32_t timer_id) override;

  bool paused() const { return paused_; }

  // How long accepting pauses when the process or system has no descriptor (or memory) left
  // for a new connection. Level-triggered readiness would otherwise report the waiting
  // connection again at once, and the loop would spin.
  static constexpr std::uint32_t kAcceptPauseMs = 100;
  static constexpr std::uint32_t kAcceptPauseTimer = 2;

 private:
  void PauseAccepting();

  ListenOwner* owner_;  // owns this listener, so it outlives it
  bool paused_ = false;
};

}  // namespace kivimap::transport
