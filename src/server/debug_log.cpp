#include "server/debug_log.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace kivimap::server {
namespace {

using Clock = std::chrono::steady_clock;

// How long a caller waits for its bytes once the writer sleeps in a write or an open (a disk or
// a file server that does not answer), or once a FIFO has refused more bytes, before it lets the
// file fall behind: one such wait per stall, then callers only queue until the file catches up.
constexpr auto kWriteWait = std::chrono::milliseconds(2);
// The most a caller ever waits. A writer that has not started on the bytes yet, or that the
// kernel counts as running, is only waiting for a CPU on a busy machine; waiting for it keeps the
// file in step with the conversation.
constexpr auto kLongestWait = std::chrono::milliseconds(200);
// A descriptor unused this long is closed, so that a FIFO's reader sees the end of the log once
// the host stops logging to it.
constexpr auto kIdleClose = std::chrono::seconds(5);
// How long the process exit waits for what is still queued.
constexpr auto kExitFlush = std::chrono::milliseconds(500);
// Texts queued behind one another are joined into chunks of up to this size, so that a backlog of
// short lines costs little more memory than its bytes.
constexpr std::size_t kChunkSize = 64 * 1024;
constexpr std::size_t kChunksPerWrite = 16;

// One file name and what is queued for it. Callers only add chunks and read the counters; the
// descriptor and the chunks being written belong to the writer thread.
struct LogFile {
  int fd = -1;
  dev_t dev = 0;  // the file fd is open on, to notice when the name points to another one
  ino_t ino = 0;
  Clock::time_point last_write{};

  std::deque<std::string> chunks;  // references stay valid while callers push at the back
  std::size_t head = 0;            // bytes of chunks.front() already written
  std::size_t in_flight = 0;       // leading chunks the writer is writing now
  std::size_t backlog = 0;         // bytes queued and neither written nor discarded yet
  std::uint64_t queued = 0;        // bytes ever queued, markers included
  std::uint64_t done = 0;          // of those, written or discarded
  std::uint64_t dropped = 0;       // bytes refused since the backlog was last empty
  std::uint64_t turn = 0;          // when the writer last served this file
  int waiters = 0;                 // callers waiting on this entry; it is not erased meanwhile
  bool behind = false;             // a caller stopped waiting; none waits until backlog is 0
  bool wait_writable = false;      // the last write was refused; the writer polls for room
};

void AddChunk(LogFile& f, std::string_view text) {
  if (f.chunks.size() > f.in_flight && f.chunks.back().size() + text.size() <= kChunkSize) {
    f.chunks.back().append(text);
  } else {
    f.chunks.emplace_back(text);
  }
  f.queued += text.size();
  f.backlog += text.size();
}

// Forgets the first n bytes of the backlog: written, or discarded with the file.
void Advance(LogFile& f, std::size_t n) {
  f.done += n;
  f.backlog -= n;
  while (n > 0) {
    const std::size_t rest = f.chunks.front().size() - f.head;
    if (n < rest) {
      f.head += n;
      return;
    }
    n -= rest;
    f.head = 0;
    f.chunks.pop_front();
  }
}

// Once the backlog is empty, callers wait again, and bytes refused before are reported in the
// file at the place where they are missing.
void Settle(LogFile& f) noexcept {
  if (f.backlog > 0) return;
  f.behind = false;
  if (f.dropped == 0) return;
  try {
    AddChunk(f, "\r\n[debug log: " + std::to_string(f.dropped) + " bytes dropped]\r\n");
    f.dropped = 0;
  } catch (const std::bad_alloc&) {  // reported by a later Settle
  }
}

// Opens name for appending; -1 when it cannot be opened now (a FIFO without a reader included).
// Non-blocking, so that neither the open nor a write ever waits for a FIFO's reader.
int OpenLog(const std::string& name, dev_t* dev, ino_t* ino) {
  const int fd =
      ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0600);
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    ::close(fd);
    return -1;
  }
  *dev = st.st_dev;
  *ino = st.st_ino;
  return fd;
}

bool NamesFile(const std::string& name, dev_t dev, ino_t ino) {
  struct stat st {};
  return ::stat(name.c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino;
}

// A write to a FIFO whose reader has gone raises SIGPIPE at the writing thread, which blocks every
// signal; the write fails with EPIPE and the signal stays pending until taken here.
void TakePendingSigpipe() {
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  const timespec now{};
  while (::sigtimedwait(&pipe, nullptr, &now) == SIGPIPE) {
  }
}

// The process's one writer thread and the files it writes. Created on the first log call and
// never destroyed: callers at any point of process exit find it intact, and nothing ever joins a
// thread that may sit in a write to a disk that does not answer.
class Writer {
 public:
  static Writer& Get() {
    static Writer* const writer = new Writer;
    return *writer;
  }

  void Append(const std::string& name, std::string_view text);
  bool Flush(Clock::duration limit);

 private:
  bool StartLocked();
  void WakeLocked();
  void Run();
  bool WriterSleepsLocked() const;
  using Entry = std::map<std::string, LogFile>::value_type;
  Entry* NextLocked();
  void WriteSome(std::unique_lock<std::mutex>& lock, const std::string& name, LogFile& f);
  void SleepLocked(std::unique_lock<std::mutex>& lock);
  bool AllWrittenLocked() const;

  std::mutex mutex_;
  std::condition_variable progress_;  // the writer finished a write or discarded bytes
  std::map<std::string, LogFile> files_;
  int wake_fd_ = -1;  // an eventfd that ends the writer's poll()
  pid_t writer_tid_ = 0;
  bool running_ = false;
  bool asleep_ = false;  // the writer sits in poll() and nobody has woken it yet
  std::optional<Clock::time_point> busy_since_;  // the writer is opening or writing a file
  std::atomic<bool> in_io_{false};  // ... and is inside those system calls (read without the lock)
  std::uint64_t turns_ = 0;
};

void FlushAtExit() { Writer::Get().Flush(kExitFlush); }

bool Writer::StartLocked() {
  if (wake_fd_ < 0) wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake_fd_ < 0) return false;
  // The thread starts with every signal blocked: the host's handlers never run on it, and a
  // reader leaving a FIFO costs an EPIPE rather than the process.
  sigset_t all;
  sigset_t old;
  sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  try {
    std::thread([this] { Run(); }).detach();
    running_ = true;
  } catch (const std::system_error&) {  // no thread now; a later call tries again
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  if (running_) std::atexit(FlushAtExit);
  return running_;
}

void Writer::WakeLocked() {
  if (!asleep_) return;
  asleep_ = false;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
}

void Writer::Append(const std::string& name, std::string_view text) {
  std::unique_lock lock(mutex_);
  if (!running_ && !StartLocked()) return;
  LogFile& f = files_.try_emplace(name).first->second;
  Settle(f);
  if (f.dropped > 0 || (f.backlog > 0 && f.backlog + text.size() > kDebugBacklogLimit)) {
    f.dropped += text.size();
    return;
  }
  AddChunk(f, text);
  WakeLocked();
  if (f.behind) return;

  // Wait until the bytes are written, for as long as the writer is getting on with them.
  const std::uint64_t mine = f.queued;
  const Clock::time_point start = Clock::now();
  const Clock::time_point last = start + kLongestWait;
  ++f.waiters;
  while (f.done < mine) {
    const Clock::time_point now = Clock::now();
    Clock::time_point until = now + kWriteWait;  // the writer has not started: look again then
    if (f.wait_writable) {
      until = start + kWriteWait;
    } else if (busy_since_) {
      until = std::max(*busy_since_, start) + kWriteWait;
      // Past its time, a writer that has left its system calls, or that the kernel counts as
      // running, was only kept from the CPU or from the lock.
      if (now >= until && (!in_io_ || !WriterSleepsLocked())) until = now + kWriteWait;
    }
    until = std::min(until, last);
    if (now >= until) {
      f.behind = true;
      break;
    }
    progress_.wait_until(lock, until);
  }
  --f.waiters;
}

bool Writer::AllWrittenLocked() const {
  return std::all_of(files_.begin(), files_.end(),
                     [](const auto& entry) { return entry.second.backlog == 0; });
}

bool Writer::Flush(Clock::duration limit) {
  std::unique_lock lock(mutex_);
  return progress_.wait_for(lock, limit, [this] { return AllWrittenLocked(); });
}

// The file with bytes to write that was served longest ago, or null.
Writer::Entry* Writer::NextLocked() {
  Entry* next = nullptr;
  for (Entry& entry : files_) {
    const LogFile& f = entry.second;
    if (f.backlog > 0 && !f.wait_writable && (!next || f.turn < next->second.turn)) next = &entry;
  }
  if (next) next->second.turn = ++turns_;
  return next;
}

// Whether the writer thread sleeps in the kernel (a write or an open waiting for a disk or a
// server) rather than running or waiting for a CPU. Read from procfs, and only when a write has
// taken longer than kWriteWait; without procfs the writer counts as sleeping.
bool Writer::WriterSleepsLocked() const {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/task/%d/stat", static_cast<int>(writer_tid_));
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return true;
  char stat[512];
  const ssize_t n = ::read(fd, stat, sizeof stat);
  ::close(fd);
  // "tid (name) S ...": the state follows the last parenthesis.
  const std::string_view fields(stat, n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t paren = fields.rfind(')');
  return paren == std::string_view::npos || paren + 2 >= fields.size() || fields[paren + 2] != 'R';
}

void Writer::Run() {
  std::unique_lock lock(mutex_);
  writer_tid_ = ::gettid();
  for (;;) {
    try {
      if (Entry* next = NextLocked()) {
        WriteSome(lock, next->first, next->second);
      } else {
        SleepLocked(lock);
      }
    } catch (const std::bad_alloc&) {
      lock.unlock();
      ::poll(nullptr, 0, 10);
      lock.lock();
    }
  }
}

// Writes the first chunks of f with the lock released. Entries are erased only by this thread,
// and callers never touch the chunks in flight, so name and those chunks stay valid meanwhile.
void Writer::WriteSome(std::unique_lock<std::mutex>& lock, const std::string& name, LogFile& f) {
  iovec iov[kChunksPerWrite];
  std::size_t count = 0;
  std::size_t bytes = 0;
  for (; count < f.chunks.size() && count < kChunksPerWrite; ++count) {
    std::string& chunk = f.chunks[count];
    const std::size_t skip = count == 0 ? f.head : 0;
    iov[count] = {chunk.data() + skip, chunk.size() - skip};
    bytes += chunk.size() - skip;
  }
  f.in_flight = count;
  int fd = f.fd;
  dev_t dev = f.dev;
  ino_t ino = f.ino;
  busy_since_ = Clock::now();
  in_io_ = true;
  lock.unlock();

  // Kept open per name; opened again when the name now points to another file (rotated or
  // removed logs are created anew, as a log opened for every write would be).
  if (fd >= 0 && !NamesFile(name, dev, ino)) {
    ::close(fd);
    fd = -1;
  }
  if (fd < 0) fd = OpenLog(name, &dev, &ino);
  ssize_t written = -1;
  int error = 0;
  if (fd >= 0) {
    written = ::writev(fd, iov, static_cast<int>(count));
    if (written < 0) error = errno;
    if (error == EPIPE) TakePendingSigpipe();
  }
  in_io_ = false;

  lock.lock();
  busy_since_.reset();
  f.in_flight = 0;
  f.fd = fd;
  f.dev = dev;
  f.ino = ino;
  if (written > 0) {
    Advance(f, static_cast<std::size_t>(written));
    f.last_write = Clock::now();
  } else if (fd >= 0 && (error == EAGAIN || error == EINTR)) {
    f.wait_writable = error == EAGAIN;
  } else {
    // The file cannot be opened or written now: what was taken is lost, and the next bytes try
    // again with a fresh descriptor.
    if (fd >= 0) ::close(fd);
    f.fd = -1;
    Advance(f, bytes);
  }
  Settle(f);
  progress_.notify_all();
}

// Closes descriptors left unused, forgets names with nothing left, and waits in poll() for a
// caller, for room in a FIFO that refused bytes, or for the next descriptor to close.
void Writer::SleepLocked(std::unique_lock<std::mutex>& lock) {
  std::vector<pollfd> polled{{wake_fd_, POLLIN, 0}};
  std::vector<LogFile*> waiting;
  const Clock::time_point now = Clock::now();
  std::optional<Clock::time_point> next_close;
  for (auto it = files_.begin(); it != files_.end();) {
    LogFile& f = it->second;
    if (f.wait_writable) {
      polled.push_back({f.fd, POLLOUT, 0});
      waiting.push_back(&f);
    } else if (f.fd >= 0 && f.backlog == 0) {
      if (now - f.last_write >= kIdleClose) {
        ::close(f.fd);
        f.fd = -1;
      } else {
        next_close =
            std::min(next_close.value_or(Clock::time_point::max()), f.last_write + kIdleClose);
      }
    }
    if (f.fd < 0 && f.backlog == 0 && f.dropped == 0 && f.waiters == 0) {
      it = files_.erase(it);
    } else {
      ++it;
    }
  }
  int timeout_ms = -1;
  if (next_close) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next_close - now);
    timeout_ms = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 1));
  }
  asleep_ = true;
  lock.unlock();
  ::poll(polled.data(), polled.size(), timeout_ms);
  lock.lock();
  asleep_ = false;
  if (polled[0].revents != 0) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_fd_, &count, sizeof count);
  }
  for (std::size_t i = 0; i < waiting.size(); ++i) {
    if (polled[i + 1].revents != 0) waiting[i]->wait_writable = false;
  }
}

}  // namespace

void AppendToDebugLog(const WideString& file, std::string_view text) noexcept {
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  if (text.empty()) return;
  try {
    const std::string name = file.ToNarrow();
    if (name.empty() || name.find('\0') != std::string::npos) return;
    Writer::Get().Append(name, text);
  } catch (...) {  // out of memory, or no thread to write with: this text is not logged
  }
}

bool FlushDebugLog(std::chrono::milliseconds limit) noexcept {
  try {
    return Writer::Get().Flush(limit);
  } catch (...) {
    return false;
  }
}

}  // namespace kivimap::server
