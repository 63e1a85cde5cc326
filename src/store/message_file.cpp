#include "store/message_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

namespace kivimap::store {
namespace {

constexpr std::size_t kHeaderReadBlock = 32000;
constexpr std::size_t kRangeReadBlock = 32000;

// A path usable by open(): no embedded NUL, which would silently name another file.
bool ToCPath(std::string_view path, std::string* out) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  out->assign(path);
  return true;
}

UniqueFd OpenRegular(std::string_view path, int flags, mode_t mode) {
  std::string c_path;
  if (!ToCPath(path, &c_path)) return UniqueFd();
  // O_NONBLOCK keeps open() itself from waiting on a FIFO; regular files ignore it.
  UniqueFd fd(::open(c_path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, mode));
  if (!fd) return fd;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return UniqueFd();
  return fd;
}

// Reads up to n bytes at the current position, retrying interrupted reads; -1 on error.
ssize_t ReadSome(int fd, char* data, std::size_t n) {
  for (;;) {
    const ssize_t got = ::read(fd, data, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

}  // namespace

UniqueFd::~UniqueFd() {
  if (fd_ >= 0) ::close(fd_);
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.Release();
  }
  return *this;
}

int UniqueFd::Release() { return std::exchange(fd_, -1); }

UniqueFd OpenForReading(std::string_view path) { return OpenRegular(path, O_RDONLY, 0); }

UniqueFd OpenForWriting(std::string_view path, bool truncate) {
  return OpenRegular(path, O_WRONLY | O_CREAT | (truncate ? O_TRUNC : 0), S_IRUSR | S_IWUSR);
}

std::optional<std::int64_t> FileLength(std::string_view path) {
  // One stat rather than open, fstat and close: FETCH asks this for every message's size.
  std::string c_path;
  if (!ToCPath(path, &c_path)) return std::nullopt;
  struct stat st;
  if (::stat(c_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::string> ReadWholeFile(std::string_view path) {
  UniqueFd fd = OpenForReading(path);
  if (!fd) return std::nullopt;
  std::string content;
  struct stat st;
  if (::fstat(fd.get(), &st) == 0 && st.st_size > 0) {
    content.reserve(static_cast<std::size_t>(st.st_size));
  }
  char block[16000];
  for (;;) {
    const ssize_t got = ReadSome(fd.get(), block, sizeof block);
    if (got <= 0) break;
    content.append(block, static_cast<std::size_t>(got));
  }
  return content;
}

std::optional<std::string> ReadHeaderBlockFromFile(std::string_view path, std::int64_t offset,
                                                   std::int64_t limit) {
  if (offset < 0 || limit <= offset) return std::nullopt;
  UniqueFd fd = OpenForReading(path);
  if (!fd || ::lseek(fd.get(), offset, SEEK_SET) != offset) return std::nullopt;
  std::string text;
  std::size_t searched = 0;  // before this offset none of the three ends occurs
  std::int64_t left = limit - offset;
  std::unique_ptr<char[]> block(new char[kHeaderReadBlock]);
  for (;;) {
    if (left <= 0) return std::nullopt;
    const ssize_t got = ReadSome(
        fd.get(), block.get(),
        static_cast<std::size_t>(std::min<std::int64_t>(left, kHeaderReadBlock)));
    if (got <= 0) return std::nullopt;
    left -= got;
    text.append(block.get(), static_cast<std::size_t>(got));
    // An end may straddle the previous block boundary: restart the search a few bytes back.
    const std::size_t from = searched >= 3 ? searched - 3 : 0;
    if (const auto p = text.find("\r\n\r\n", from); p != std::string::npos) {
      text.resize(p + 2);
      return text;
    }
    for (const char* pair : {"\r\r", "\n\n"}) {
      if (const auto q = text.find(pair, from); q != std::string::npos) {
        text.resize(q + 1);
        return text;
      }
    }
    searched = text.size();
  }
}

std::size_t ReadFileRange(std::string_view path, char* buffer, std::int64_t offset,
                          std::size_t count) {
  if (buffer == nullptr || count == 0 || offset < 0) return 0;
  UniqueFd fd = OpenForReading(path);
  if (!fd) return 0;
  std::size_t done = 0;
  while (done < count) {
    const std::size_t want = std::min(count - done, kRangeReadBlock);
    const ssize_t got = ::pread(fd.get(), buffer + done, want,
                                static_cast<off_t>(offset) + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t put = ::write(fd, data, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    data += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool DeleteFile(std::string_view path) {
  std::string c_path;
  if (!ToCPath(path, &c_path)) return false;
  return ::unlink(c_path.c_str()) == 0;
}

}  // namespace kivimap::store
