// CkivUserSocket: one accepted client connection. It frames received bytes into command lines
// and literal chunks, keeps the idle timer around each of them, and sends output without ever
// blocking. Everything above the bytes (what a line means, who the user is, which events fire)
// belongs to its ConnectionOwner.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "common/byte_buffer.h"
#include "transport/send_queue.h"
#include "transport/win_socket.h"

namespace kivimap::transport {

// What a connection reports upward. Every call may destroy the connection (and the owner's
// object); the connection touches nothing of itself after a call that could have done so.
class ConnectionOwner {
 public:
  // A complete line (its line end removed, NUL-terminated, n bytes up to the first NUL) or, in
  // literal mode, a chunk of n literal bytes. False stops the framing of this receive.
  virtual bool OnConnectionData(const char* data, std::size_t n) = 0;
  // The writable step sent every queued byte.
  virtual void OnConnectionAllSent() = 0;
  // The peer closed the connection, or a Close was posted to it.
  virtual void OnConnectionClosed() = 0;
  // The idle timer expired.
  virtual void OnConnectionIdle() = 0;
  // The idle timer's interval in milliseconds; 0 means that no idle timer runs.
  virtual std::uint32_t IdleIntervalMs() = 0;
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
  // Drops unsent output (after a last attempt to send what a response already asked to send,
  // see SendResponse) and wipes the received bytes not yet framed.
  ~CkivUserSocket() override;

  // Queues exactly n bytes (NUL bytes allowed); nothing is sent yet.
  void QueueBytes(const char* data, std::size_t n);
  // Queues text up to its first NUL; nothing is sent yet.
  void QueueResponse(std::string_view text);
  // Queues text up to its first NUL and sends what the queue holds. While a receive is being
  // framed, the send is made once for the whole receive, in the same order and with the same
  // bytes; a connection closed before that still sends what such responses queued.
  void SendResponse(std::string_view text);
  // Sends queued bytes while the socket takes them.
  void FlushQueue();

  // Starts the idle timer with the owner's interval (no timer for an interval of 0).
  void StartIdleTimer();

  bool may_send() const { return may_send_; }
  std::size_t queued_bytes() const { return send_queue_.size(); }
  std::size_t buffered_bytes() const { return line_buffer_ ? line_buffer_->size() : 0; }
  std::uint32_t bytes_upload() const { return bytes_upload_; }
  void set_bytes_upload(std::uint32_t v) { bytes_upload_ = v; }
  std::uint32_t bytes_download() const { return bytes_download_; }
  void set_bytes_download(std::uint32_t v) { bytes_download_ = v; }
  // Literal bytes still expected; 0 is line mode. Set by the command layer.
  std::int32_t literal_remaining() const { return literal_remaining_; }
  void set_literal_remaining(std::int32_t n) { literal_remaining_ = n < 0 ? 0 : n; }

  void CloseSocket();
  // Ends the connection when memory for its input or output cannot be had: queued output is
  // dropped and the socket shut down, so the peer sees the end instead of a hole in the stream;
  // the Close notification that follows runs the close step.
  void Abort();

  void OnRead(std::uint16_t error) override;
  void OnWrite(std::uint16_t error) override;
  void OnClose(std::uint16_t error) override;
  void OnTimer(std::uint32_t timer_id) override;

 private:
  class ReceiveBatch;

  // Hands one line or literal chunk to the owner between a stop and a restart of the idle timer.
  bool CommandStep(const char* data, std::size_t n);
  // Next complete line from the line buffer into the receive area, or null.
  const char* ExtractLine(std::size_t* length);
  // Appends received bytes to the line buffer, keeping of a line without line feed only what
  // can still reach the owner.
  void AppendReceived(const char* data, std::size_t n);
  bool AppendReceivedOrAbort(const char* data, std::size_t n);
  void AppendToLineBuffer(const char* data, std::size_t n);
  // Sends at most limit queued bytes while the socket takes them.
  void Flush(std::size_t limit);

  ConnectionOwner* owner_;                   // owns this connection
  std::unique_ptr<ByteBuffer> line_buffer_;  // only while it holds bytes
  std::size_t partial_ = 0;  // bytes at the end of the line buffer after its last line feed
  SendQueue send_queue_;
  bool may_send_ = false;
  bool aborted_ = false;
  bool in_receive_ = false;    // framing a receive: SendResponse defers its send
  std::size_t committed_ = 0;  // queued bytes a deferred SendResponse asked to send
  std::uint32_t bytes_upload_ = 0;
  std::uint32_t bytes_download_ = 0;
  std::int32_t literal_remaining_ = 0;
};

}  // namespace kivimap::transport
