#include "transport/user_socket.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace kivimap::transport {

namespace {

// One receive area per thread: a loop handles one notification at a time, and what a receive
// put here is appended to the line buffer, or handed on, before the next receive. Lines handed to
// the owner are copied here too, NUL-terminated.
constexpr std::size_t kReceiveAreaSize = 32768;
static_assert(CkivUserSocket::kReceiveSize <= kReceiveAreaSize);
static_assert(CkivUserSocket::kMaxLine + 1 <= kReceiveAreaSize);

char* ReceiveArea() {
  static thread_local char area[kReceiveAreaSize];
  return area;
}

// A line without line feed keeps this many bytes at most: the kMaxLine that can still reach the
// owner, and one more that may be the carriage return before the line feed.
constexpr std::size_t kKeepOfPartialLine = CkivUserSocket::kMaxLine + 1;

}  // namespace

// Defers the sends of SendResponse while a receive is framed and makes them once at its end,
// unless the connection went away meanwhile.
class CkivUserSocket::ReceiveBatch {
 public:
  explicit ReceiveBatch(CkivUserSocket* socket) : socket_(socket), alive_(socket) {
    socket_->in_receive_ = true;
  }
  ~ReceiveBatch() {
    if (!alive_.alive()) return;
    socket_->in_receive_ = false;
    socket_->Flush(socket_->committed_);
    socket_->committed_ = 0;
  }
  ReceiveBatch(const ReceiveBatch&) = delete;
  ReceiveBatch& operator=(const ReceiveBatch&) = delete;

 private:
  CkivUserSocket* socket_;
  automation::Liveness alive_;
};

CkivUserSocket::~CkivUserSocket() {
  if (committed_ > 0) Flush(committed_);
}

void CkivUserSocket::CloseSocket() {
  if (committed_ > 0) Flush(committed_);
  committed_ = 0;
  CkivWinSocket::CloseSocket();
}

void CkivUserSocket::QueueBytes(const char* data, std::size_t n) {
  if (owner_->DebugLogEnabled()) {
    const std::size_t logged = n >= kDebugCutFrom ? kDebugCut : n;
    const void* nul = std::memchr(data, '\0', logged);
    owner_->DebugLog(std::string_view(
        data, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : logged));
  }
  if (aborted_) return;
  try {
    send_queue_.Append(data, n);
  } catch (const std::bad_alloc&) {
    Abort();
  }
}

void CkivUserSocket::Abort() {
  aborted_ = true;
  may_send_ = false;
  committed_ = 0;
  send_queue_.Clear();
  line_buffer_.reset();
  partial_ = 0;
  if (has_socket()) ::shutdown(fd(), SHUT_RDWR);
}

void CkivUserSocket::QueueResponse(std::string_view text) {
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  QueueBytes(text.data(), text.size());
}

void CkivUserSocket::SendResponse(std::string_view text) {
  QueueResponse(text);
  if (in_receive_) {
    committed_ = send_queue_.size();
  } else {
    FlushQueue();
  }
}

void CkivUserSocket::FlushQueue() { Flush(send_queue_.size()); }

void CkivUserSocket::Flush(std::size_t limit) {
  while (may_send_ && limit > 0 && !send_queue_.empty() && has_socket()) {
    const std::string_view front = send_queue_.Front();
    const std::size_t want = std::min(limit, front.size());
    const ssize_t k = ::send(fd(), front.data(), want, MSG_NOSIGNAL);
    if (k < 0) {
      if (errno == EINTR) continue;
      may_send_ = false;
      // Any other error ends the connection through its Close notification.
      if (errno == EAGAIN || errno == EWOULDBLOCK) WriteRefused();
      return;
    }
    const auto sent = static_cast<std::size_t>(k);
    bytes_download_ += static_cast<std::uint32_t>(sent);
    committed_ -= std::min(committed_, sent);
    limit -= std::min(limit, sent);
    send_queue_.Consume(sent);
  }
}

void CkivUserSocket::StartIdleTimer() {
  if (const std::uint32_t interval = owner_->IdleIntervalMs(); interval != 0) {
    SetTimer(interval, kIdleTimer);
  }
}

bool CkivUserSocket::CommandStep(const char* data, std::size_t n) {
  KillTimer(kIdleTimer);
  automation::Liveness alive(this);
  const bool go_on = owner_->OnConnectionData(data, n);
  if (go_on && alive.alive()) StartIdleTimer();
  return go_on;
}

void CkivUserSocket::OnRead(std::uint16_t /*error*/) {
  char* area = ReceiveArea();
  ssize_t n;
  do {
    n = has_socket() ? ::recv(fd(), area, kReceiveSize, 0) : -1;
  } while (n < 0 && errno == EINTR);
  if (n > 0) bytes_upload_ += static_cast<std::uint32_t>(n);
  if (aborted_) return;  // read and dropped until the Close notification arrives

  automation::Liveness alive(this);
  ReceiveBatch batch(this);
  if (literal_remaining_ != 0) {
    if (n <= 0) return;
    auto take = static_cast<std::size_t>(n);
    if (take > static_cast<std::size_t>(literal_remaining_)) {
      take = static_cast<std::size_t>(literal_remaining_);
      // The bytes after the literal are framed as lines once it is complete, even if nothing
      // more arrives.
      if (!AppendReceivedOrAbort(area + take, static_cast<std::size_t>(n) - take)) return;
      PostNotification(NotifyRead);
    }
    if (CommandStep(area, take) && alive.alive()) {
      literal_remaining_ -= std::min(literal_remaining_, static_cast<std::int32_t>(take));
    }
    return;
  }

  if (n > 0 && !AppendReceivedOrAbort(area, static_cast<std::size_t>(n))) return;
  std::size_t length = 0;
  while (const char* line = ExtractLine(&length)) {
    if (!CommandStep(line, length) || !alive.alive()) return;
  }
  if (line_buffer_ && line_buffer_->empty()) line_buffer_.reset();
}

void CkivUserSocket::OnWrite(std::uint16_t /*error*/) {
  may_send_ = true;
  FlushQueue();
  if (may_send_) owner_->OnConnectionAllSent();
}

void CkivUserSocket::OnClose(std::uint16_t /*error*/) { owner_->OnConnectionClosed(); }

void CkivUserSocket::OnTimer(std::uint32_t /*timer_id*/) { owner_->OnConnectionIdle(); }

const char* CkivUserSocket::ExtractLine(std::size_t* length) {
  // The bytes after the last line feed are counted in partial_: more than that means a line.
  if (!line_buffer_ || line_buffer_->size() <= partial_) return nullptr;
  const char* data = line_buffer_->data();
  const auto* lf = static_cast<const char*>(std::memchr(data, '\n', line_buffer_->size()));
  const auto i = static_cast<std::size_t>(lf - data);
  std::size_t line_length = (i > 0 && data[i - 1] == '\r') ? i - 1 : i;
  line_length = std::min(line_length, kMaxLine);
  char* area = ReceiveArea();
  std::memcpy(area, data, line_length);
  area[line_length] = '\0';
  line_buffer_->Consume(i + 1);
  *length = ::strnlen(area, line_length);
  return area;
}

void CkivUserSocket::AppendToLineBuffer(const char* data, std::size_t n) {
  if (n == 0) return;
  if (!line_buffer_) line_buffer_ = std::make_unique<ByteBuffer>();
  line_buffer_->Append(data, n);
}

bool CkivUserSocket::AppendReceivedOrAbort(const char* data, std::size_t n) {
  try {
    AppendReceived(data, n);
    return true;
  } catch (const std::bad_alloc&) {
    Abort();
    return false;
  }
}

void CkivUserSocket::AppendReceived(const char* data, std::size_t n) {
  while (n > 0) {
    const auto* lf = static_cast<const char*>(std::memchr(data, '\n', n));
    const std::size_t body = lf ? static_cast<std::size_t>(lf - data) : n;
    const std::size_t room = partial_ < kKeepOfPartialLine ? kKeepOfPartialLine - partial_ : 0;
    if (!lf) {
      AppendToLineBuffer(data, std::min(body, room));
      partial_ += std::min(body, room);
      return;
    }
    if (body <= room) {
      // Common case: every line of the rest fits; take everything up to the last line feed at
      // once when the bytes after it fit as well.
      const auto* last = static_cast<const char*>(memrchr(data, '\n', n));
      const auto tail = static_cast<std::size_t>(data + n - (last + 1));
      if (tail <= kKeepOfPartialLine && last - lf < static_cast<std::ptrdiff_t>(kMaxLine)) {
        AppendToLineBuffer(data, n);
        partial_ = tail;
        return;
      }
    }
    AppendToLineBuffer(data, std::min(body, room));
    AppendToLineBuffer(lf, 1);
    partial_ = 0;
    data = lf + 1;
    n -= body + 1;
  }
}

}  // namespace kivimap::transport
