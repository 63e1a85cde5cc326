#include "transport/listen_socket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>

namespace kivimap::transport {

int CkivListenSocket::Bind(std::uint32_t address, std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  AttachSocket(fd);
  // Lets Stop and Start use the same port again while old connections linger in TIME_WAIT.
  const int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = address;
  local.sin_port = port;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return errno;
  return 0;
}

int CkivListenSocket::Listen(int backlog) {
  if (!has_socket()) return EBADF;
  if (::listen(fd(), backlog) != 0) return errno;
  if (!Subscribe(kListenerMask)) return errno != 0 ? errno : EINVAL;
  return 0;
}

std::uint16_t CkivListenSocket::LocalPort() const {
  sockaddr_in local{};
  socklen_t len = sizeof local;
  if (!has_socket() || ::getsockname(fd(), reinterpret_cast<sockaddr*>(&local), &len) != 0) {
    return 0;
  }
  return ntohs(local.sin_port);
}

int CkivListenSocket::Accept(std::uint32_t* peer_address) {
  if (!has_socket()) return -1;
  sockaddr_in peer{};
  socklen_t len = sizeof peer;
  int fd;
  do {
    fd = ::accept4(this->fd(), reinterpret_cast<sockaddr*>(&peer), &len,
                   SOCK_NONBLOCK | SOCK_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
      PauseAccepting();
    }
    return -1;
  }
  *peer_address = peer.sin_addr.s_addr;
  return fd;
}

void CkivListenSocket::OnAccept(std::uint16_t /*error*/) { owner_->OnAcceptReady(); }

void CkivListenSocket::PauseAccepting() {
  if (paused_) return;
  // Waiting connections stay in the kernel's queue; nothing is lost while paused.
  Unsubscribe();
  paused_ = true;
  SetTimer(kAcceptPauseMs, kAcceptPauseTimer);
}

void CkivListenSocket::OnTimerExpired(std::uint32_t timer_id) {
  if (timer_id != kAcceptPauseTimer || !paused_) return;
  KillTimer(kAcceptPauseTimer);
  paused_ = false;
  if (has_socket()) Subscribe(kListenerMask);
}

}  // namespace kivimap::transport
