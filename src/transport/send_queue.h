// SendQueue: output waiting for the socket, in the order queued. Each piece is either bytes the
// queue owns or a byte range of an open file, which is read only when its turn comes.
//
// Owned bytes queued one after another go out back to back, so a single send can carry many
// queued responses; a partly sent front is shortened in place. Their storage is compacted once
// more than half of it is sent, so a long stream costs amortised O(1) per byte, and it is given
// back when the queue runs empty so that an idle connection holds almost nothing. A file range
// goes out with sendfile(2), or through a small read-ahead buffer where the file system cannot
// do that; only that read-ahead counts as memory the range holds.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kivimap::transport {

// An open file descriptor shared by the queue entries that send from it; closed with the last.
class SharedFile {
 public:
  // Takes ownership of fd.
  explicit SharedFile(int fd) : fd_(fd) {}
  ~SharedFile();
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

class SendQueue {
 public:
  // What a send attempt ended with.
  enum class Outcome {
    kEmpty,        // everything up to the limit went out
    kWouldBlock,   // the socket has no room now
    kSocketError,  // the socket failed (error() tells why)
    kFileShort,    // a file ended before its queued range did: the stream cannot be completed
    kFileError,    // a file could not be read
  };

  // Queues a copy of n bytes (NUL bytes allowed). Throws std::bad_alloc; the queue is then
  // unchanged.
  void Append(const char* data, std::size_t n);
  // Queues length bytes of the file from offset on. Throws std::bad_alloc; nothing is queued.
  void AppendFile(std::shared_ptr<SharedFile> file, std::uint64_t offset, std::uint64_t length);

  // Sends at most limit bytes from the front to the socket while it takes them. *sent counts
  // the bytes the socket took.
  Outcome SendTo(int socket, std::size_t limit, std::size_t* sent);
  void Clear();

  bool empty() const { return queued_ == 0; }
  // Every byte still to go out, owned or in files.
  std::uint64_t size() const { return queued_; }
  // Memory the queue holds for its data: owned bytes and file read-ahead.
  std::size_t held_bytes() const { return (bytes_.size() - head_) + (ahead_.size() - ahead_head_); }
  std::size_t owned_bytes() const { return bytes_.size() - head_; }
  // The errno of the last kSocketError or kFileError.
  int error() const { return error_; }

 private:
  // A run of queued output: `length` owned bytes, or `length` bytes of `file` from `offset`.
  struct Piece {
    std::uint64_t length;
    std::shared_ptr<SharedFile> file;
    std::uint64_t offset = 0;
  };

  static constexpr std::size_t kKeepWhenEmpty = 4096;
  static constexpr std::size_t kReadAhead = 65536;
  static constexpr std::size_t kSendfileChunk = 1 << 20;

  Outcome SendOwned(int socket, std::size_t want, std::size_t* sent);
  Outcome SendFile(int socket, Piece& piece, std::size_t want, std::size_t* sent);
  void ConsumeOwned(std::size_t n);
  void PopFront();

  std::string bytes_;     // owned bytes of every owned piece, in order
  std::size_t head_ = 0;  // bytes before head_ are sent
  std::vector<Piece> pieces_;
  std::size_t first_ = 0;  // pieces before first_ are sent
  std::uint64_t queued_ = 0;
  std::string ahead_;  // read-ahead of the front file piece where sendfile cannot serve it
  std::size_t ahead_head_ = 0;
  int error_ = 0;
};

}  // namespace kivimap::transport
