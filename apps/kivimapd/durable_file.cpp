#include "durable_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <utility>
#include <vector>

#include "log.h"

namespace kivimapd {

namespace {

constexpr int kLockAttempts = 1000;  // of 10 ms each
constexpr long kLockPauseNs = 10 * 1000 * 1000;

std::string Failure(std::string_view what, const std::string& path, int errno_value) {
  std::string text(what);
  text.append(" ").append(Printable(path)).append(": ").append(ErrnoText(errno_value));
  return text;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

}  // namespace

FileLock::FileLock(FileLock&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);  // closing the descriptor releases the flock
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

FileLock FileLock::Acquire(const std::string& path, std::string* error) {
  FileLock lock;
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = Failure("cannot open lock file", path, errno);
    return lock;
  }
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      lock.fd_ = fd;
      return lock;
    }
    if (errno != EWOULDBLOCK && errno != EINTR) break;
    const timespec pause{0, kLockPauseNs};
    ::nanosleep(&pause, nullptr);
  }
  *error = errno == EWOULDBLOCK ? "lock " + Printable(path) + " is held too long by another process"
                                : Failure("cannot lock", path, errno);
  ::close(fd);
  return lock;
}

std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max_bytes,
                                         bool* missing, std::string* error) {
  *missing = false;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) {
    *missing = errno == ENOENT;
    *error = Failure("cannot open", path, errno);
    return std::nullopt;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    *error = "not a regular file: " + Printable(path);
    return std::nullopt;
  }
  std::string content;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = Failure("cannot read", path, errno);
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    if (content.size() + static_cast<std::size_t>(n) > max_bytes) {
      *error = "file too large: " + Printable(path);
      ::close(fd);
      return std::nullopt;
    }
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return content;
}

bool ReplaceFile(const std::string& path, std::string_view content, mode_t mode,
                 std::string* error) {
  std::string temp = path + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  const int fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd < 0) {
    *error = Failure("cannot create a file beside", path, errno);
    return false;
  }
  temp = name.data();
  bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content) && ::fsync(fd) == 0;
  const int saved = errno;
  if (::close(fd) != 0) ok = false;
  if (!ok) {
    *error = Failure("cannot write", temp, saved);
    ::unlink(temp.c_str());
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    *error = Failure("cannot rename into place", path, errno);
    ::unlink(temp.c_str());
    return false;
  }
  return SyncDirectory(DirectoryOf(path), error);
}

bool SyncDirectory(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    *error = Failure("cannot open directory", path, errno);
    return false;
  }
  const bool ok = ::fsync(fd) == 0;
  if (!ok) *error = Failure("cannot fsync", path, errno);
  ::close(fd);
  return ok;
}

bool SyncFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) {
    *error = Failure("cannot open", path, errno);
    return false;
  }
  const bool ok = ::fsync(fd) == 0;
  if (!ok) *error = Failure("cannot fsync", path, errno);
  ::close(fd);
  return ok;
}

std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace kivimapd
