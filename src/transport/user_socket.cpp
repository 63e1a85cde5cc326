#include "transport/user_socket.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace kivimap::transport {

namespace {

// One receive area per thread: a loop handles one notification at a time, and lines are framed
// in place from it. A receive made while another connection is still framing from it (a host
// running a nested loop round inside an event) gets a buffer of its own.
thread_local bool area_in_use = false;

char* ReceiveArea() {
  static thread_local char area[CkivUserSocket::kReceiveSize];
  return area;
}

class ReceiveBuffer {
 public:
  ReceiveBuffer() {
    if (area_in_use) {
      own_ = std::make_unique<char[]>(CkivUserSocket::kReceiveSize);
      data_ = own_.get();
    } else {
      area_in_use = true;
      data_ = ReceiveArea();
    }
  }
  ~ReceiveBuffer() {
    if (!own_) area_in_use = false;
  }
  ReceiveBuffer(const ReceiveBuffer&) = delete;
  ReceiveBuffer& operator=(const ReceiveBuffer&) = delete;
  char* data() const { return data_; }

 private:
  std::unique_ptr<char[]> own_;
  char* data_;
};

// A line without line feed keeps this many bytes at most: the kMaxLine that can reach the owner,
// one that may be the carriage return before the line feed, and one more, so that a line that
// was cut is always seen as longer than kMaxLine.
constexpr std::size_t kKeepOfPartialLine = CkivUserSocket::kMaxLine + 2;

// The idle deadline is checked against a coarse clock (a few milliseconds) that costs almost
// nothing to read on every command and every send.
std::int64_t CoarseNowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return std::int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

// How early a timer may fire for the coarse clock to still count the interval as elapsed.
constexpr std::int64_t kIdleSlackMs = 10;

constexpr std::uint16_t kDeferredResume = 0x100;

}  // namespace

// Marks an owner call in progress. Notifications that a nested loop round delivers meanwhile
// wait, and are posted again once the outermost call has returned.
class CkivUserSocket::Busy {
 public:
  explicit Busy(CkivUserSocket* socket) : socket_(socket), alive_(socket) { ++socket_->busy_; }
  ~Busy() {
    if (!alive_.alive() || --socket_->busy_ != 0 || socket_->deferred_ == 0) return;
    const std::uint16_t kinds = std::exchange(socket_->deferred_, 0);
    try {
      for (const std::uint16_t kind : {NotifyRead, NotifyWrite, NotifyClose}) {
        if ((kinds & kind) != 0) {
          socket_->PostNotification(kind, kind == NotifyClose ? socket_->close_error_ : 0);
        }
      }
      if ((kinds & kDeferredResume) != 0) socket_->PostNotification(kResumeKind);
    } catch (...) {
      socket_->Abort("no memory for a notification");
    }
  }
  Busy(const Busy&) = delete;
  Busy& operator=(const Busy&) = delete;

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

// --- output ---

void CkivUserSocket::QueueBytes(const char* data, std::size_t n) {
  if (owner_->DebugLogEnabled()) {
    const std::size_t logged = n >= kDebugCutFrom ? kDebugCut : n;
    const void* nul = std::memchr(data, '\0', logged);
    owner_->DebugLog(std::string_view(
        data, nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - data) : logged));
  }
  if (aborted_ || n == 0) return;
  const std::size_t hard_limit = owner_->Limits().hard_limit;
  if (send_queue_.owned_bytes() + n > hard_limit) {
    FlushQueue();  // what the socket takes now is no longer held
    if (send_queue_.owned_bytes() + n > hard_limit) {
      Abort("connection closed: its queued output passed the output limit");
      return;
    }
  }
  try {
    send_queue_.Append(data, n);
  } catch (const std::bad_alloc&) {
    Abort("connection closed: no memory for its output");
  }
}

void CkivUserSocket::QueueResponse(std::string_view text) {
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  QueueBytes(text.data(), text.size());
}

void CkivUserSocket::QueueFile(std::shared_ptr<SharedFile> file, std::uint64_t offset,
                               std::uint64_t length) {
  if (!file || length == 0) return;
  if (owner_->DebugLogEnabled()) {
    const std::size_t logged =
        length >= kDebugCutFrom ? kDebugCut : static_cast<std::size_t>(length);
    std::string copy(logged, '\0');
    ssize_t r;
    do {
      r = ::pread(file->fd(), copy.data(), logged, static_cast<off_t>(offset));
    } while (r < 0 && errno == EINTR);
    copy.resize(r > 0 ? static_cast<std::size_t>(r) : 0);
    owner_->DebugLog(copy);
  }
  if (aborted_) return;
  try {
    send_queue_.AppendFile(std::move(file), offset, length);
  } catch (const std::bad_alloc&) {
    Abort("connection closed: no memory for its output");
  }
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

void CkivUserSocket::Flush(std::uint64_t limit) {
  if (!may_send_ || limit == 0 || send_queue_.empty() || !has_socket() || aborted_) return;
  std::size_t sent = 0;
  const auto outcome = send_queue_.SendTo(
      fd(), static_cast<std::size_t>(std::min<std::uint64_t>(limit, SIZE_MAX)), &sent);
  if (sent > 0) {
    bytes_download_ += static_cast<std::uint32_t>(sent);
    committed_ -= std::min<std::uint64_t>(committed_, sent);
    Touch();
  }
  switch (outcome) {
    case SendQueue::Outcome::kEmpty:
      return;
    case SendQueue::Outcome::kWouldBlock:
      may_send_ = false;
      WriteRefused();
      return;
    case SendQueue::Outcome::kSocketError:
      // The connection ends through its Close notification.
      may_send_ = false;
      send_failed_ = true;
      return;
    case SendQueue::Outcome::kFileShort:
      Abort("connection closed: a message file ended before the range being sent");
      return;
    case SendQueue::Outcome::kFileError:
      Abort("connection closed: a message file could not be read");
      return;
  }
}

void CkivUserSocket::Abort(std::string_view why) {
  if (aborted_) return;
  aborted_ = true;
  may_send_ = false;
  committed_ = 0;
  send_queue_.Clear();
  // The line buffer may be in use by the framing loop; it goes with the connection.
  if (!why.empty() && owner_->DebugLogEnabled()) {
    owner_->DebugLog("* kivimap: ");
    owner_->DebugLog(why);
    owner_->DebugLog("\r\n");
  }
  if (has_socket()) ::shutdown(fd(), SHUT_RDWR);
}

// --- idle deadline ---

void CkivUserSocket::Touch() { last_activity_ = CoarseNowNs(); }

void CkivUserSocket::StartIdleTimer() {
  Touch();
  if (const std::uint32_t interval = owner_->IdleIntervalMs(); interval != 0) {
    SetTimer(interval, kIdleTimer);
    idle_timer_running_ = true;
  }
}

void CkivUserSocket::OnTimerExpired(std::uint32_t /*timer_id*/) {
  if (busy_ > 0) return;  // the command's end counts as activity
  const std::uint32_t interval = owner_->IdleIntervalMs();
  if (interval == 0) {
    KillTimer(kIdleTimer);
    idle_timer_running_ = false;
    return;
  }
  // Output that already left the queue may still wait in the socket's own buffer: while the
  // client keeps taking from there (the amount changed since the last check, to zero included),
  // it is not silent.
  int unsent = 0;
  if (has_socket() && ::ioctl(fd(), SIOCOUTQ, &unsent) != 0) unsent = 0;
  const auto now_unsent = static_cast<std::uint32_t>(std::max(unsent, 0));
  if (now_unsent != socket_unsent_) Touch();
  socket_unsent_ = now_unsent;
  const std::int64_t quiet_ms = (CoarseNowNs() - last_activity_) / 1'000'000;
  if (quiet_ms + kIdleSlackMs < std::int64_t{interval}) {
    SetTimer(static_cast<std::uint32_t>(interval - quiet_ms), kIdleTimer);
    return;
  }
  owner_->OnConnectionIdle();
}

// --- input ---

CommandResult CkivUserSocket::CommandStep(const char* data, std::size_t n) {
  automation::Liveness alive(this);
  CommandResult result;
  {
    Busy busy(this);
    result = owner_->OnConnectionData(data, n);
  }
  if (alive.alive()) {
    Touch();
    if (!idle_timer_running_) StartIdleTimer();
  }
  return result;
}

bool CkivUserSocket::TakesCommands() const {
  return !output_full_ && !parked_ && !closing_ && !aborted_ && has_socket();
}

void CkivUserSocket::AfterStep(CommandResult result) {
  if (aborted_) return;
  if (result == CommandResult::Suspended) {
    // What the command queued so far streams now; the rest follows as it drains.
    parked_ = true;
    committed_ = send_queue_.size();
    return;
  }
  if (send_queue_.size() >= owner_->Limits().high_water) {
    committed_ = send_queue_.size();
    Flush(committed_);
    if (send_queue_.size() >= owner_->Limits().high_water) output_full_ = true;
  }
}

std::size_t CkivUserSocket::Frame(char* data, std::size_t n, bool* gone) {
  automation::Liveness alive(this);
  std::size_t pos = 0;
  while (pos < n && TakesCommands()) {
    CommandResult result;
    if (literal_remaining_ > 0) {
      const std::size_t take = std::min(n - pos, static_cast<std::size_t>(literal_remaining_));
      result = CommandStep(data + pos, take);
      if (!alive.alive()) {
        *gone = true;
        return pos + take;
      }
      if (result != CommandResult::Closed) {
        literal_remaining_ -= std::min(literal_remaining_, static_cast<std::int32_t>(take));
      }
      pos += take;
    } else {
      char* start = data + pos;
      const auto* lf = static_cast<const char*>(std::memchr(start, '\n', n - pos));
      if (!lf) break;
      const auto i = static_cast<std::size_t>(lf - start);
      std::size_t length = (i > 0 && start[i - 1] == '\r') ? i - 1 : i;
      line_was_cut_ = length > kMaxLine;
      length = std::min(length, kMaxLine);
      start[length] = '\0';  // the carriage return, the line feed, or the first byte cut off
      pos += i + 1;
      result = CommandStep(start, ::strnlen(start, length));
      if (!alive.alive()) {
        *gone = true;
        return pos;
      }
    }
    AfterStep(result);
    if (result == CommandResult::Closed) break;
  }
  return pos;
}

bool CkivUserSocket::KeepUnframed(const char* data, std::size_t n) {
  if (n == 0 || aborted_) return true;
  try {
    if (literal_remaining_ > 0) {
      // Literal bytes are kept whole; at most one receive of them waits here, as reading
      // stops while anything unframed is kept.
      AppendToLineBuffer(data, n);
      const char* kept = line_buffer_->data();
      const auto* last = static_cast<const char*>(memrchr(kept, '\n', line_buffer_->size()));
      partial_ = last ? static_cast<std::size_t>(kept + line_buffer_->size() - (last + 1))
                      : line_buffer_->size();
    } else {
      AppendReceived(data, n);
    }
    return true;
  } catch (const std::bad_alloc&) {
    Abort("connection closed: no memory for its input");
    return false;
  }
}

bool CkivUserSocket::FrameBuffered() {
  if (!line_buffer_ || line_buffer_->empty() || !TakesCommands()) return true;
  bool gone = false;
  const std::size_t used = Frame(line_buffer_->data(), line_buffer_->size(), &gone);
  if (gone) return false;
  line_buffer_->Consume(used);
  partial_ = std::min(partial_, line_buffer_->size());
  if (line_buffer_->empty() && !aborted_) line_buffer_.reset();
  return true;
}

bool CkivUserSocket::HasUnframedInput() const {
  if (!line_buffer_ || line_buffer_->empty()) return false;
  return literal_remaining_ > 0 || line_buffer_->size() > partial_;
}

void CkivUserSocket::OnRead(std::uint16_t /*error*/) {
  if (busy_ > 0) {
    deferred_ |= NotifyRead;
    return;
  }
  ReceiveBuffer area;
  if (aborted_) {
    // Read and dropped until the Close notification arrives.
    if (has_socket()) {
      ssize_t dropped;
      do {
        dropped = ::recv(fd(), area.data(), kReceiveSize, 0);
      } while (dropped < 0 && errno == EINTR);
    }
    return;
  }
  // A stale report from before reading paused: the bytes wait in the socket.
  if (!TakesCommands() || HasUnframedInput()) {
    UpdateReadPause();
    return;
  }
  ssize_t n;
  do {
    n = has_socket() ? ::recv(fd(), area.data(), kReceiveSize, 0) : -1;
  } while (n < 0 && errno == EINTR);
  if (n > 0) bytes_upload_ += static_cast<std::uint32_t>(n);

  automation::Liveness alive(this);
  in_receive_ = true;
  if (line_buffer_ && !line_buffer_->empty()) {
    // The receive continues a partial line: frame from the line buffer.
    if (n > 0 && !KeepUnframed(area.data(), static_cast<std::size_t>(n))) return;
    if (!FrameBuffered()) return;
  } else if (n > 0) {
    bool gone = false;
    const std::size_t used = Frame(area.data(), static_cast<std::size_t>(n), &gone);
    if (gone) return;
    if (!KeepUnframed(area.data() + used, static_cast<std::size_t>(n) - used)) return;
  }
  in_receive_ = false;
  Flush(committed_);
  committed_ = 0;
  Advance();
}

void CkivUserSocket::AppendToLineBuffer(const char* data, std::size_t n) {
  if (n == 0) return;
  if (!line_buffer_) line_buffer_ = std::make_unique<ByteBuffer>();
  line_buffer_->Append(data, n);
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

// --- moving on ---

void CkivUserSocket::UpdateReadPause() {
  const bool paused = output_full_ || parked_ || closing_ || HasUnframedInput();
  if (paused == read_paused_) return;
  read_paused_ = paused;
  PauseRead(paused);
}

void CkivUserSocket::Advance() {
  if (aborted_ || !has_socket()) return;
  if (closing_) {
    if (send_queue_.empty() || send_failed_) PostNotification(NotifyClose);
    return;
  }
  const std::size_t low_water = owner_->Limits().low_water;
  if (parked_) {
    if (send_queue_.size() < low_water && !resume_posted_) {
      resume_posted_ = true;
      PostNotification(kResumeKind);
    }
    UpdateReadPause();
    return;
  }
  if (output_full_ && send_queue_.size() < low_water) output_full_ = false;
  if (HasUnframedInput() && TakesCommands()) {
    in_receive_ = true;
    automation::Liveness alive(this);
    if (!FrameBuffered() || !alive.alive()) return;
    in_receive_ = false;
    Flush(committed_);
    committed_ = 0;
    if (parked_) {
      Advance();
      return;
    }
  }
  if (close_requested_ && !HasUnframedInput() && TakesCommands()) {
    BeginDraining();
    return;
  }
  UpdateReadPause();
}

void CkivUserSocket::RequestClose() { close_requested_ = true; }

void CkivUserSocket::BeginDraining() {
  closing_ = true;
  FlushQueue();
  // Usually everything went out at once: the close step comes next round, and pausing the
  // socket first would only cost a system call (a stray Read pauses it then).
  if (send_queue_.empty() || send_failed_) {
    PostNotification(NotifyClose);
    return;
  }
  UpdateReadPause();
}

void CkivUserSocket::OnOtherKind(std::uint16_t kind) {
  if (kind != kResumeKind) return;
  resume_posted_ = false;
  if (busy_ > 0) {
    deferred_ |= kDeferredResume;
    return;
  }
  if (!parked_ || aborted_ || !has_socket()) return;
  automation::Liveness alive(this);
  CommandResult result;
  {
    Busy busy(this);
    result = owner_->OnConnectionResume();
  }
  if (!alive.alive()) return;
  Touch();
  if (result != CommandResult::Suspended) parked_ = false;
  committed_ = 0;
  FlushQueue();
  if (result == CommandResult::Done) AfterStep(result);
  Advance();
}

void CkivUserSocket::OnWrite(std::uint16_t /*error*/) {
  may_send_ = true;
  if (busy_ > 0) {
    deferred_ |= NotifyWrite;
    return;
  }
  FlushQueue();
  if (may_send_ && !aborted_) {
    automation::Liveness alive(this);
    {
      Busy busy(this);
      owner_->OnConnectionAllSent();
    }
    if (!alive.alive()) return;
  }
  Advance();
}

void CkivUserSocket::OnClose(std::uint16_t error) {
  if (busy_ > 0) {
    deferred_ |= NotifyClose;
    close_error_ = error;
    return;
  }
  if (error == 0 && !aborted_ && !send_failed_ && has_socket() && !send_queue_.empty()) {
    // The peer ended its side, or a requested close is due: what is queued still goes out,
    // and the close step runs when it has (or when the socket breaks or the idle time ends).
    if (!closing_) {
      closing_ = true;
      line_buffer_.reset();  // no command after the end of stream
      partial_ = 0;
    }
    Subscribe(kConnectionMask);  // the end of stream ended the subscription
    read_paused_ = false;
    UpdateReadPause();
    FlushQueue();
    if (!send_queue_.empty() && !send_failed_) return;
  }
  owner_->OnConnectionClosed();
}

void CkivUserSocket::OnFault() { Abort("connection closed: a command failed (out of memory?)"); }

}  // namespace kivimap::transport
