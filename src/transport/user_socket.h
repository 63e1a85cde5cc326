// CkivUserSocket: one accepted client connection. It frames received bytes into command lines
// and literal chunks, keeps the idle deadline, and sends output without ever blocking, holding
// no more of it than its output limits allow. Everything above the bytes (what a line means,
// who the user is, which events fire) belongs to its ConnectionOwner.
//
// Flow control. A command's output is queued; the connection takes no further command (and
// reads nothing more from its socket) while the queue holds the high-water mark or more, and
// goes on once it has drained below the low-water mark. A command may also park itself
// (Suspended): nothing after it runs until the queue is below the low mark and the owner has
// resumed it to its end. Owned output past the hard limit ends the connection.
//
// Endings. LOGOUT (RequestClose) and the peer's end of stream stop the reading; whatever is
// queued is still sent, and the close step runs once the queue is empty (or the socket broke).
// The idle timer measures silence: a command, or a send that made progress, restarts it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/byte_buffer.h"
#include "kivimap/output_limits.h"
#include "transport/send_queue.h"
#include "transport/win_socket.h"

namespace kivimap::transport {

// What a command step left behind.
enum class CommandResult {
  Done,       // the command finished (or is waiting for more input); the next one may run
  Suspended,  // resume it once the output queue is below the low-water mark
  Closed,     // the connection, its user or the server went away: touch nothing of them
};

// What a connection reports upward. Every call may destroy the connection (and the owner's
// object); the connection touches nothing of itself after a call that could have done so.
class ConnectionOwner {
 public:
  // A complete line (its line end removed, NUL-terminated, n bytes up to the first NUL) or, in
  // literal mode, a chunk of n literal bytes. The bytes stay valid for the call only.
  virtual CommandResult OnConnectionData(const char* data, std::size_t n) = 0;
  // The parked command may go on: the output queue is below the low-water mark.
  virtual CommandResult OnConnectionResume() = 0;
  // The writable step sent every queued byte.
  virtual void OnConnectionAllSent() = 0;
  // The peer closed the connection (after everything queued went out, where it could), a
  // requested close is due, or the connection failed.
  virtual void OnConnectionClosed() = 0;
  // No progress for the idle interval.
  virtual void OnConnectionIdle() = 0;
  // The idle timer's interval in milliseconds; 0 means that no idle timer runs.
  virtual std::uint32_t IdleIntervalMs() = 0;
  virtual OutputLimits Limits() = 0;
  // The debug log of queued output. DebugLogEnabled is asked first, so that nothing is copied
  // while the log is off.
  virtual bool DebugLogEnabled() = 0;
  virtual void DebugLog(std::string_view text) = 0;

 protected:
  virtual ~ConnectionOwner() = default;
};

class CkivUserSocket final : public CkivWinSocket {
 public:
  static constexpr std::uint32_t kIdleTimer = 1;
  static constexpr std::size_t kReceiveSize = 16384;  // one receive per Read notification
  static constexpr std::size_t kMaxLine = 32700;      // longer lines are cut to this length
  // Output queued at once from this size on is logged with only its first kDebugCut bytes.
  static constexpr std::size_t kDebugCutFrom = 16384;
  static constexpr std::size_t kDebugCut = 16380;

  explicit CkivUserSocket(ConnectionOwner* owner) : owner_(owner) {}
  CkivUserSocket(ConnectionOwner* owner, std::shared_ptr<EventLoop> loop)
      : CkivWinSocket(std::move(loop)), owner_(owner) {}
  // Drops unsent output (after a last attempt to send what a response already asked to send,
  // see SendResponse) and wipes the received bytes not yet framed.
  ~CkivUserSocket() override;

  // Queues exactly n bytes (NUL bytes allowed); nothing is sent yet.
  void QueueBytes(const char* data, std::size_t n);
  // Queues text up to its first NUL; nothing is sent yet.
  void QueueResponse(std::string_view text);
  // Queues length bytes of an open file from offset on (message data sent as it is stored).
  // The debug log gets its first bytes as QueueBytes would log them.
  void QueueFile(std::shared_ptr<SharedFile> file, std::uint64_t offset, std::uint64_t length);
  // Queues text up to its first NUL and sends what the queue holds. While a receive is being
  // framed, the send is made once for the whole receive, in the same order and with the same
  // bytes; a connection closed before that still sends what such responses queued.
  void SendResponse(std::string_view text);
  // Sends queued bytes while the socket takes them.
  void FlushQueue();

  // Starts the idle timer with the owner's interval (no timer for an interval of 0).
  void StartIdleTimer();
  // Reading ends now; lines already received are still served, and the close step runs once
  // everything queued has gone out.
  void RequestClose();

  bool may_send() const { return may_send_; }
  std::uint64_t queued_bytes() const { return send_queue_.size(); }
  // Memory the output queue holds: what the hard limit is measured against.
  std::size_t held_output() const { return send_queue_.held_bytes(); }
  // The queue holds the high-water mark of bytes waiting to go out, file ranges included (so
  // that a command streaming message files parks as one streaming owned bytes does, and never
  // holds more than a few files open): a command producing more output parks now.
  bool OutputFull() { return queued_bytes() >= owner_->Limits().high_water; }
  std::size_t buffered_bytes() const { return line_buffer_ ? line_buffer_->size() : 0; }
  bool reading_paused() const { return read_paused_; }
  bool parked() const { return parked_; }
  bool closing() const { return closing_; }
  // The last line handed to the owner was longer than kMaxLine and was cut.
  bool line_was_cut() const { return line_was_cut_; }
  std::uint32_t bytes_upload() const { return bytes_upload_; }
  void set_bytes_upload(std::uint32_t v) { bytes_upload_ = v; }
  std::uint32_t bytes_download() const { return bytes_download_; }
  void set_bytes_download(std::uint32_t v) { bytes_download_ = v; }
  // Literal bytes still expected; 0 is line mode. Set by the command layer; bytes already
  // received after the command line count as literal bytes.
  std::int32_t literal_remaining() const { return literal_remaining_; }
  void set_literal_remaining(std::int32_t n) { literal_remaining_ = n < 0 ? 0 : n; }

  void CloseSocket();
  // Ends the connection when it cannot go on (no memory for its input or output, output past
  // the hard limit, a file that cannot be sent): queued output is dropped and the socket shut
  // down, so the peer sees the end instead of a hole in the stream; the Close notification that
  // follows runs the close step. `why` goes to the debug log.
  void Abort(std::string_view why);

 private:
  class Busy;

  // Private notification kinds this connection posts to itself.
  static constexpr std::uint16_t kResumeKind = 0x4001;

  void OnRead(std::uint16_t error) override;
  void OnWrite(std::uint16_t error) override;
  void OnClose(std::uint16_t error) override;
  void OnTimerExpired(std::uint32_t timer_id) override;
  void OnOtherKind(std::uint16_t kind) override;
  void OnFault() override;

  // Hands received bytes to the owner, line by line or as literal chunks, while it takes
  // commands. Returns the bytes used; *gone when the connection went away.
  std::size_t Frame(char* data, std::size_t n, bool* gone);
  CommandResult CommandStep(const char* data, std::size_t n);
  // After a step: park, pause for output, or go on.
  bool TakesCommands() const;
  void AfterStep(CommandResult result);
  // Keeps what Frame did not use for later (bounded).
  bool KeepUnframed(const char* data, std::size_t n);
  void AppendReceived(const char* data, std::size_t n);
  void AppendToLineBuffer(const char* data, std::size_t n);
  // Serves what the line buffer holds; false when the connection went away.
  bool FrameBuffered();
  // Complete lines or literal bytes wait in the line buffer (more than a partial line).
  bool HasUnframedInput() const;
  // Moves the connection on after output drained: resume, read again, or close.
  void Advance();
  void UpdateReadPause();
  void Flush(std::uint64_t limit);
  void Touch();
  // Stops reading and sends the rest; the close step runs when nothing is left.
  void BeginDraining();

  ConnectionOwner* owner_;                   // owns this connection
  std::unique_ptr<ByteBuffer> line_buffer_;  // only while it holds bytes
  std::size_t partial_ = 0;  // bytes at the end of the line buffer after its last line feed
  SendQueue send_queue_;
  std::int64_t last_activity_ = 0;   // coarse monotonic nanoseconds
  std::uint32_t socket_unsent_ = 0;  // bytes the socket itself still held at the last check
  std::uint64_t committed_ = 0;      // queued bytes a deferred SendResponse asked to send
  std::uint32_t bytes_upload_ = 0;
  std::uint32_t bytes_download_ = 0;
  std::int32_t literal_remaining_ = 0;
  int busy_ = 0;                   // owner calls on the stack
  std::uint16_t deferred_ = 0;     // notification kinds that came while busy
  std::uint16_t close_error_ = 0;  // of a deferred Close
  bool may_send_ = false;
  bool aborted_ = false;
  bool in_receive_ = false;   // framing a receive: SendResponse defers its send
  bool output_full_ = false;  // held the high mark: waiting to drain below the low mark
  bool parked_ = false;       // a command is suspended
  bool close_requested_ = false;
  bool closing_ = false;  // no more reading; close once the queue is empty
  bool read_paused_ = false;
  bool resume_posted_ = false;
  bool line_was_cut_ = false;
  bool send_failed_ = false;
  bool idle_timer_running_ = false;
};

}  // namespace kivimap::transport
