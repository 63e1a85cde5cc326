#include "transport/send_queue.h"

#include <sys/sendfile.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>

namespace kivimap::transport {

SharedFile::~SharedFile() {
  if (fd_ >= 0) ::close(fd_);
}

// While no file is queued the pieces list stays empty and every queued byte is owned: an idle
// or ordinary connection never allocates it.

void SendQueue::Append(const char* data, std::size_t n) {
  if (n == 0) return;
  const bool extends_last = pieces_.size() > first_ && !pieces_.back().file;
  if (pieces_.size() > first_ && !extends_last) pieces_.reserve(pieces_.size() + 1);
  // Reclaim the sent front before the string would have to grow for it.
  if (head_ > 0 && bytes_.size() + n > bytes_.capacity() && head_ >= owned_bytes()) {
    bytes_.erase(0, head_);
    head_ = 0;
  }
  bytes_.append(data, n);
  queued_ += n;
  if (extends_last) {
    pieces_.back().length += n;
  } else if (pieces_.size() > first_) {
    pieces_.push_back(Piece{n, nullptr});  // capacity reserved above: cannot throw
  }
}

void SendQueue::AppendFile(std::shared_ptr<SharedFile> file, std::uint64_t offset,
                           std::uint64_t length) {
  if (length == 0 || !file) return;
  const std::size_t owned = owned_bytes();
  const bool first_file = pieces_.size() == first_;
  pieces_.reserve(pieces_.size() + 2);
  if (first_file && owned > 0) pieces_.push_back(Piece{owned, nullptr});
  pieces_.push_back(Piece{length, std::move(file), offset});
  queued_ += length;
}

SendQueue::Outcome SendQueue::SendTo(int socket, std::size_t limit, std::size_t* sent) {
  *sent = 0;
  while (limit > 0 && !empty()) {
    std::size_t took = 0;
    Outcome outcome;
    if (pieces_.size() == first_) {
      outcome = SendOwned(socket, std::min(limit, owned_bytes()), &took);
      if (took > 0) ConsumeOwned(took);
    } else {
      Piece& front = pieces_[first_];
      const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(limit, front.length));
      if (front.file) {
        outcome = SendFile(socket, front, want, &took);
      } else {
        outcome = SendOwned(socket, want, &took);
        if (took > 0) ConsumeOwned(took);
      }
      front.length -= took;
      if (front.length == 0) PopFront();
    }
    queued_ -= took;
    *sent += took;
    limit -= std::min(limit, took);
    if (outcome != Outcome::kEmpty) return outcome;
  }
  if (empty()) Clear();
  return Outcome::kEmpty;
}

SendQueue::Outcome SendQueue::SendOwned(int socket, std::size_t want, std::size_t* sent) {
  while (true) {
    const ssize_t k = ::send(socket, bytes_.data() + head_, want, MSG_NOSIGNAL);
    if (k >= 0) {
      // A short send is progress; the next attempt tells whether the socket is full.
      *sent = static_cast<std::size_t>(k);
      return Outcome::kEmpty;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Outcome::kWouldBlock;
    error_ = errno;
    return Outcome::kSocketError;
  }
}

SendQueue::Outcome SendQueue::SendFile(int socket, Piece& piece, std::size_t want,
                                       std::size_t* sent) {
  // A read-ahead is what is left of the piece's front after a file system without sendfile.
  if (ahead_head_ == ahead_.size()) {
    while (ahead_.empty()) {
      off_t offset = static_cast<off_t>(piece.offset);
      const ssize_t k =
          ::sendfile(socket, piece.file->fd(), &offset, std::min(want, kSendfileChunk));
      if (k > 0) {
        piece.offset += static_cast<std::uint64_t>(k);
        *sent = static_cast<std::size_t>(k);
        return Outcome::kEmpty;
      }
      if (k == 0) return Outcome::kFileShort;
      if (errno == EINTR) continue;
      if (errno == EAGAIN) return Outcome::kWouldBlock;
      if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) {
        // A socket error looks the same to sendfile as a file error; the socket decides.
        const ssize_t probe = ::send(socket, nullptr, 0, MSG_NOSIGNAL);
        error_ = errno;
        return probe < 0 ? Outcome::kSocketError : Outcome::kFileError;
      }
      // This file cannot be spliced: read it ahead instead.
      ahead_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(kReadAhead, piece.length)));
      ssize_t r;
      do {
        r = ::pread(piece.file->fd(), ahead_.data(), ahead_.size(),
                    static_cast<off_t>(piece.offset));
      } while (r < 0 && errno == EINTR);
      if (r <= 0) {
        ahead_.clear();
        error_ = r < 0 ? errno : 0;
        return r < 0 ? Outcome::kFileError : Outcome::kFileShort;
      }
      ahead_.resize(static_cast<std::size_t>(r));
      ahead_head_ = 0;
      piece.offset += static_cast<std::uint64_t>(r);
    }
  }
  const std::size_t chunk = std::min(want, ahead_.size() - ahead_head_);
  while (true) {
    const ssize_t k = ::send(socket, ahead_.data() + ahead_head_, chunk, MSG_NOSIGNAL);
    if (k >= 0) {
      ahead_head_ += static_cast<std::size_t>(k);
      *sent = static_cast<std::size_t>(k);
      if (ahead_head_ == ahead_.size()) {
        ahead_.clear();
        ahead_head_ = 0;
      }
      return Outcome::kEmpty;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Outcome::kWouldBlock;
    error_ = errno;
    return Outcome::kSocketError;
  }
}

void SendQueue::ConsumeOwned(std::size_t n) {
  head_ += std::min(n, owned_bytes());
  if (head_ == bytes_.size()) {
    head_ = 0;
    bytes_.clear();
  } else if (head_ > 65536 && head_ > bytes_.size() / 2) {
    bytes_.erase(0, head_);
    head_ = 0;
  }
}

void SendQueue::PopFront() {
  pieces_[first_] = Piece{0, nullptr};
  ++first_;
  ahead_.clear();
  ahead_head_ = 0;
  if (first_ == pieces_.size()) {
    std::vector<Piece>().swap(pieces_);
    first_ = 0;
  } else if (first_ > 32 && first_ > pieces_.size() / 2) {
    pieces_.erase(pieces_.begin(), pieces_.begin() + static_cast<std::ptrdiff_t>(first_));
    first_ = 0;
  }
}

void SendQueue::Clear() {
  head_ = 0;
  queued_ = 0;
  if (bytes_.capacity() > kKeepWhenEmpty) {
    std::string().swap(bytes_);
  } else {
    bytes_.clear();
  }
  std::vector<Piece>().swap(pieces_);
  first_ = 0;
  std::string().swap(ahead_);
  ahead_head_ = 0;
}

}  // namespace kivimap::transport
