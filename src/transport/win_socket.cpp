#include "transport/win_socket.h"

#include <unistd.h>

#include <utility>

namespace kivimap::transport {

CkivWinSocket::CkivWinSocket(bool with_sink)
    : CkivWinSocket(with_sink ? EventLoop::SharedForThisThread() : nullptr) {}

CkivWinSocket::CkivWinSocket(std::shared_ptr<EventLoop> loop) : loop_(std::move(loop)) {
  if (loop_) sink_ = loop_->CreateSink(this);
}

CkivWinSocket::~CkivWinSocket() {
  if (loop_) loop_->DestroySink(sink_);
  if (fd_ >= 0) ::close(fd_);
}

void CkivWinSocket::AttachSocket(int fd) {
  CloseSocket();
  fd_ = fd;
}

bool CkivWinSocket::Subscribe(std::uint32_t mask) {
  if (!loop_ || fd_ < 0) return false;
  return loop_->Subscribe(sink_, fd_, mask);
}

void CkivWinSocket::Unsubscribe() {
  if (loop_) loop_->Unsubscribe(sink_);
}

void CkivWinSocket::CloseSocket() {
  if (fd_ < 0) return;
  if (loop_) loop_->Unsubscribe(sink_);
  ::close(fd_);
  fd_ = -1;
}

void CkivWinSocket::SetTimer(std::uint32_t interval_ms, std::uint32_t timer_id) {
  if (loop_) loop_->SetTimer(sink_, timer_id, interval_ms);
}

void CkivWinSocket::KillTimer(std::uint32_t timer_id) {
  if (loop_) loop_->KillTimer(sink_, timer_id);
}

void CkivWinSocket::PostNotification(std::uint16_t kind, std::uint16_t error) {
  if (loop_) loop_->PostNotification(sink_, kind, error);
}

void CkivWinSocket::DiscardNotifications() {
  if (loop_) loop_->DiscardNotifications(sink_);
}

void CkivWinSocket::WriteRefused() {
  if (loop_) loop_->WriteRefused(sink_);
}

void CkivWinSocket::PauseRead(bool paused) {
  if (loop_) loop_->PauseRead(sink_, paused);
}

void CkivWinSocket::OnNotification(std::uint16_t kind, std::uint16_t error) {
  automation::Liveness alive(this);
  try {
    Route(kind, error);
  } catch (...) {
    if (alive.alive()) OnFault();
  }
}

void CkivWinSocket::OnTimer(std::uint32_t timer_id) {
  automation::Liveness alive(this);
  try {
    OnTimerExpired(timer_id);
  } catch (...) {
    if (alive.alive()) OnFault();
  }
}

void CkivWinSocket::Route(std::uint16_t kind, std::uint16_t error) {
  switch (kind) {
    case NotifyRead:
      OnRead(error);
      break;
    case NotifyWrite:
      OnWrite(error);
      break;
    case NotifyAccept:
      OnAccept(error);
      break;
    case NotifyConnect:
      OnConnect(error);
      break;
    case NotifyClose:
      OnClose(error);
      break;
    default:
      OnOtherKind(kind);
      break;
  }
}

}  // namespace kivimap::transport
