#include "kivimap/event_loop.h"

#include <fcntl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <deque>
#include <limits>
#include <new>
#include <system_error>
#include <unordered_map>

#include "transport/event_loop_timers.h"

namespace kivimap {

namespace {

using SinkId = EventLoop::SinkId;

// epoll user data of the loop's own descriptors. Sink ids count up from 1 and never reach these.
constexpr SinkId kTimerTag = std::numeric_limits<SinkId>::max();
constexpr SinkId kWakeTag = kTimerTag - 1;

constexpr std::int64_t kNoDeadline = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kNanosPerSecond = 1'000'000'000;
// Level-triggered: whatever does not fit in one wait is reported again by the next.
constexpr int kMaxEventsPerWait = 128;

// The same clock as the timerfd (CLOCK_MONOTONIC), so deadlines can be armed as absolute times.
std::int64_t MonotonicNowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return std::int64_t{now.tv_sec} * kNanosPerSecond + now.tv_nsec;
}

std::uint16_t ErrorCode(int error) {
  return error < 0 || error > 0xFFFF ? 0xFFFF : static_cast<std::uint16_t>(error);
}

// Reads and thereby clears the socket's pending error; 0 for a descriptor that is no socket.
std::uint16_t TakeSocketError(int fd) {
  int error = 0;
  socklen_t length = sizeof error;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) return 0;
  return ErrorCode(error);
}

int UnreadBytes(int fd) {
  int count = 0;
  return ioctl(fd, FIONREAD, &count) == 0 ? count : 0;
}

bool IsListening(int fd) {
  int listening = 0;
  socklen_t length = sizeof listening;
  return getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) == 0 && listening != 0;
}

bool MakeNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  return (flags & O_NONBLOCK) != 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

// A descriptor the loop opened and closes; throws when the kernel refuses to open it.
struct OwnedFd {
  OwnedFd(int descriptor, const char* what) : fd(descriptor) {
    if (fd < 0) throw std::system_error(errno, std::system_category(), what);
  }
  ~OwnedFd() { close(fd); }
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  const int fd;
};

}  // namespace

struct EventLoop::Impl {
  // Everything the loop keeps per sink; an idle socket costs this map entry and nothing else.
  struct Sink {
    NotificationTarget* target = nullptr;
    int fd = -1;
    std::uint32_t watched_events = 0;    // what epoll watches for fd now
    std::uint32_t discard_gen = 0;       // bumped by DiscardNotifications
    std::uint32_t subscription_gen = 0;  // bumped by Subscribe and Unsubscribe
    std::uint16_t mask = 0;
    std::uint16_t socket_error = 0;  // taken from SO_ERROR on EPOLLERR, reported with Close
    bool watching = false;           // fd is in the epoll set
    bool listening = false;
    bool connecting = false;   // Connect comes at the first writability
    bool want_write = false;   // Write comes at the next writability
    bool read_paused = false;  // neither Read nor the peer's end of stream is watched
  };

  // A queued notification. Entries are never removed from the middle while the loop delivers:
  // each records the generations of its sink, and one whose sink is gone, was discarded or was
  // re-subscribed is dropped when it reaches the front.
  struct Pending {
    SinkId sink;
    std::uint64_t seq;
    std::uint32_t discard_gen;
    std::uint32_t subscription_gen;  // readiness entries only
    std::uint32_t events;            // readiness entries only: the epoll bits
    std::uint16_t kind;              // posted entries only
    std::uint16_t error;
    bool readiness;
  };

  Impl() {
    Watch(timer_fd.fd, kTimerTag);
    Watch(wake_fd.fd, kWakeTag);
  }

  void Watch(int fd, SinkId tag) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = tag;
    if (epoll_ctl(epoll_fd.fd, EPOLL_CTL_ADD, fd, &event) != 0) {
      throw std::system_error(errno, std::system_category(), "epoll_ctl");
    }
  }

  Sink* Find(SinkId id) {
    auto found = sinks.find(id);
    return found == sinks.end() ? nullptr : &found->second;
  }

  static std::uint32_t Interest(const Sink& s) {
    if (s.listening) return (s.mask & NotifyAccept) != 0 ? std::uint32_t{EPOLLIN} : 0;
    std::uint32_t events = 0;
    if (!s.read_paused) {
      if ((s.mask & NotifyRead) != 0) events |= EPOLLIN;
      if ((s.mask & (NotifyRead | NotifyClose)) != 0) events |= EPOLLRDHUP;
    }
    if (s.want_write || s.connecting) events |= EPOLLOUT;
    return events;
  }

  void UpdateWatch(SinkId id, Sink& s) {
    if (!s.watching) return;
    const std::uint32_t events = Interest(s);
    if (events == s.watched_events) return;
    epoll_event event{};
    event.events = events;
    event.data.u64 = id;
    if (epoll_ctl(epoll_fd.fd, EPOLL_CTL_MOD, s.fd, &event) == 0) s.watched_events = events;
  }

  void StopWatching(Sink& s) {
    if (!s.watching) return;
    epoll_ctl(epoll_fd.fd, EPOLL_CTL_DEL, s.fd, nullptr);
    s.watching = false;
    s.watched_events = 0;
  }

  bool Subscribe(SinkId id, int fd, std::uint32_t mask) {
    Sink* s = Find(id);
    if (s == nullptr || fd < 0 || !MakeNonBlocking(fd)) return false;
    Sink next = *s;
    next.fd = fd;
    next.mask = static_cast<std::uint16_t>(mask & 0xFFFF);
    next.listening = IsListening(fd);
    next.connecting = !next.listening && (mask & NotifyConnect) != 0;
    next.want_write = !next.listening && (mask & NotifyWrite) != 0;
    next.socket_error = 0;

    epoll_event event{};
    event.events = Interest(next);
    event.data.u64 = id;
    if (s->watching && s->fd == fd) {
      if (epoll_ctl(epoll_fd.fd, EPOLL_CTL_MOD, fd, &event) != 0) return false;
    } else {
      // Add the new descriptor first: when that fails the old subscription stays as it was.
      if (epoll_ctl(epoll_fd.fd, EPOLL_CTL_ADD, fd, &event) != 0) return false;
      StopWatching(*s);
    }
    next.watching = true;
    next.watched_events = event.events;
    next.subscription_gen = s->subscription_gen + 1;
    *s = next;
    return true;
  }

  void Unsubscribe(SinkId id) {
    Sink* s = Find(id);
    if (s == nullptr) return;
    StopWatching(*s);
    s->fd = -1;
    s->mask = 0;
    s->listening = s->connecting = s->want_write = false;
    s->socket_error = 0;
    ++s->subscription_gen;
  }

  void PauseRead(SinkId id, bool paused) {
    Sink* s = Find(id);
    if (s == nullptr || s->read_paused == paused) return;
    s->read_paused = paused;
    UpdateWatch(id, *s);
  }

  void WriteRefused(SinkId id) {
    Sink* s = Find(id);
    if (s == nullptr || !s->watching || s->listening || (s->mask & NotifyWrite) == 0) return;
    s->want_write = true;
    UpdateWatch(id, *s);
  }

  // Drops queued entries of a sink whose entries are all stale now. Only outside RunOnce: while
  // the loop delivers, stale entries are skipped at the front instead.
  void PurgePending(SinkId id) {
    if (depth > 0) return;
    pending.erase(std::remove_if(pending.begin(), pending.end(),
                                 [id](const Pending& p) { return p.sink == id; }),
                  pending.end());
    SyncWakeFd();
  }

  void DestroySink(SinkId id) {
    auto found = sinks.find(id);
    if (found == sinks.end()) return;
    StopWatching(found->second);
    timers.KillAll(id);
    sinks.erase(found);
    PurgePending(id);
  }

  void DiscardNotifications(SinkId id) {
    Sink* s = Find(id);
    if (s == nullptr) return;
    ++s->discard_gen;
    PurgePending(id);
  }

  void Post(SinkId id, std::uint16_t kind, std::uint16_t error) {
    const Sink* s = Find(id);
    if (s == nullptr) return;
    pending.push_back(Pending{id, next_seq, s->discard_gen, 0, 0, kind, error, false});
    ++next_seq;
    if (depth == 0) SyncWakeFd();  // inside RunOnce this happens on the way out
  }

  void SetTimer(SinkId id, std::uint32_t timer_id, std::uint32_t interval_ms) {
    if (Find(id) == nullptr) return;
    timers.Set(id, timer_id, interval_ms, MonotonicNowNs());
    // Only an earlier deadline needs the timerfd now; a later one is armed on the next RunOnce,
    // and a stale earlier expiry merely wakes the loop once for nothing.
    if (depth == 0 && timers.NextDeadline().value_or(kNoDeadline) < armed_deadline) {
      ArmTimerFd();
    }
  }

  void ArmTimerFd() {
    const std::int64_t next = timers.NextDeadline().value_or(kNoDeadline);
    if (next == armed_deadline) return;
    itimerspec when{};  // all zero disarms
    if (next != kNoDeadline) {
      when.it_value.tv_sec = static_cast<time_t>(next / kNanosPerSecond);
      when.it_value.tv_nsec = static_cast<long>(next % kNanosPerSecond);
      if (when.it_value.tv_sec == 0 && when.it_value.tv_nsec == 0) when.it_value.tv_nsec = 1;
    }
    if (timerfd_settime(timer_fd.fd, TFD_TIMER_ABSTIME, &when, nullptr) == 0) armed_deadline = next;
  }

  // Keeps the eventfd readable exactly while notifications are queued, so that Fd() is.
  void SyncWakeFd() {
    const bool want = !pending.empty();
    if (want == wake_signalled) return;
    std::uint64_t value = 1;
    const ssize_t done =
        want ? write(wake_fd.fd, &value, sizeof value) : read(wake_fd.fd, &value, sizeof value);
    if (done == static_cast<ssize_t>(sizeof value) || (done < 0 && errno == EAGAIN)) {
      wake_signalled = want;
    }
  }

  void Collect(const epoll_event& event) {
    const SinkId tag = event.data.u64;
    if (tag == kTimerTag) {
      std::uint64_t expiries = 0;
      if (read(timer_fd.fd, &expiries, sizeof expiries) > 0) armed_deadline = kNoDeadline;
      return;
    }
    if (tag == kWakeTag) return;  // SyncWakeFd settles it on the way out
    const Sink* s = Find(tag);
    if (s == nullptr || !s->watching) return;
    pending.push_back(
        Pending{tag, next_seq, s->discard_gen, s->subscription_gen, event.events, 0, 0, true});
    ++next_seq;
  }

  // The sink of an entry, or null when the entry went stale.
  Sink* Live(const Pending& p) {
    Sink* s = Find(p.sink);
    if (s == nullptr || s->discard_gen != p.discard_gen) return nullptr;
    if (p.readiness && (s->subscription_gen != p.subscription_gen || !s->watching)) return nullptr;
    return s;
  }

  bool DeliverPosted(const Pending& p) {
    Sink* s = Live(p);
    if (s == nullptr) return false;
    s->target->OnNotification(p.kind, p.error);
    return true;
  }

  // Turns one epoll report into notifications: Accept for a listener; otherwise Connect, Write,
  // then Read or Close. After each call the sink is looked up again, since the target may have
  // destroyed it, discarded its notifications or subscribed anew.
  bool DeliverReadiness(const Pending& p) {
    Sink* s = Live(p);
    if (s == nullptr) return false;
    const std::uint32_t events = p.events;
    const std::uint16_t mask = s->mask;

    if (s->listening) {
      if ((events & EPOLLIN) == 0 && (events & (EPOLLHUP | EPOLLERR)) != 0) {
        StopWatching(*s);  // shut down: it would be reported on every round from now on
        return false;
      }
      if ((events & EPOLLIN) == 0 || (mask & NotifyAccept) == 0) return false;
      s->target->OnNotification(NotifyAccept, 0);
      return true;
    }

    bool delivered = false;
    const bool broken = (events & (EPOLLHUP | EPOLLERR)) != 0;
    // Taking SO_ERROR now also lets the receive path read what arrived before a reset.
    if ((events & EPOLLERR) != 0 && s->socket_error == 0) s->socket_error = TakeSocketError(s->fd);

    if (s->connecting && (events & (EPOLLOUT | EPOLLHUP | EPOLLERR)) != 0) {
      s->connecting = false;
      const std::uint16_t error = s->socket_error != 0 ? s->socket_error : TakeSocketError(s->fd);
      if (error != 0) {
        StopWatching(*s);  // a failed connect ends the subscription: nothing else follows
      } else {
        UpdateWatch(p.sink, *s);
      }
      if ((mask & NotifyConnect) != 0) {
        s->target->OnNotification(NotifyConnect, error);
        delivered = true;
      }
      if (error != 0 || (s = Live(p)) == nullptr) return delivered;
    }

    if ((events & EPOLLOUT) != 0 && !broken && s->want_write) {
      s->want_write = false;
      UpdateWatch(p.sink, *s);
      s->target->OnNotification(NotifyWrite, 0);
      delivered = true;
      if ((s = Live(p)) == nullptr) return delivered;
    }

    if (s->read_paused) {
      // Unread bytes wait for the reader; only a connection that can no longer carry anything
      // either way ends now. A report collected before the pause is reported again after it.
      if (!broken) return delivered;
      const std::uint16_t error = s->socket_error != 0 ? s->socket_error : TakeSocketError(s->fd);
      StopWatching(*s);
      if ((mask & NotifyClose) == 0) return delivered;
      s->target->OnNotification(NotifyClose, error);
      return true;
    }

    if ((events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0) {
      // The peer is gone, but what it sent before is offered first, one Read per call.
      if ((mask & NotifyRead) != 0 && UnreadBytes(s->fd) > 0) {
        s->target->OnNotification(NotifyRead, 0);
        return true;
      }
      const std::uint16_t error = s->socket_error != 0 ? s->socket_error : TakeSocketError(s->fd);
      StopWatching(*s);  // level-triggered hang-ups would otherwise be reported forever
      if ((mask & NotifyClose) == 0) return delivered;
      s->target->OnNotification(NotifyClose, error);
      return true;
    }
    if ((events & EPOLLIN) != 0 && (mask & NotifyRead) != 0) {
      s->target->OnNotification(NotifyRead, 0);
      return true;
    }
    return delivered;
  }

  bool FireDueTimers() {
    const std::int64_t now = MonotonicNowNs();
    bool fired = false;
    while (auto due = timers.PopDue(now)) {
      Sink* s = Find(due->sink);
      if (s == nullptr) {  // timers die with their sink; never leave one firing for nobody
        timers.Kill(due->sink, due->timer_id);
        continue;
      }
      s->target->OnTimer(due->timer_id);
      fired = true;
    }
    return fired;
  }

  // Restores the descriptors' state on every way out of RunOnce, including an exception thrown by
  // a target.
  struct RunScope {
    explicit RunScope(Impl& impl) : impl_(impl) { ++impl_.depth; }
    ~RunScope() {
      --impl_.depth;
      impl_.ArmTimerFd();
      impl_.SyncWakeFd();
    }
    RunScope(const RunScope&) = delete;
    RunScope& operator=(const RunScope&) = delete;
    Impl& impl_;
  };

  bool RunOnce(int timeout_ms) {
    RunScope scope(*this);
    ArmTimerFd();  // timers set inside a callback of an outer RunOnce may not be armed yet
    if (!pending.empty()) timeout_ms = 0;
    const int count = epoll_wait(epoll_fd.fd, ready.data(), kMaxEventsPerWait, timeout_ms);
    for (int i = 0; i < count; ++i) {
      try {
        Collect(ready[i]);
      } catch (const std::bad_alloc&) {
        // Every readiness report is level-triggered: the next wait reports it again.
      }
    }

    // Only what is queued now belongs to this round; what the targets post meanwhile waits for
    // the next one, so a target that keeps posting to itself cannot starve the others.
    const std::uint64_t round_end = next_seq;
    bool delivered = false;
    while (!pending.empty() && pending.front().seq < round_end) {
      const Pending p = pending.front();
      pending.pop_front();
      if (p.readiness ? DeliverReadiness(p) : DeliverPosted(p)) delivered = true;
    }
    if (FireDueTimers()) delivered = true;
    return delivered;
  }

  OwnedFd epoll_fd{epoll_create1(EPOLL_CLOEXEC), "epoll_create1"};
  OwnedFd timer_fd{timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC), "timerfd_create"};
  OwnedFd wake_fd{eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC), "eventfd"};
  std::unordered_map<SinkId, Sink> sinks;
  std::deque<Pending> pending;
  transport::TimerHeap timers;
  std::array<epoll_event, kMaxEventsPerWait> ready{};
  SinkId next_sink = 1;
  std::uint64_t next_seq = 0;
  std::int64_t armed_deadline = kNoDeadline;
  int depth = 0;  // nesting of RunOnce calls on the stack
  bool wake_signalled = false;
  bool quit = false;
};

EventLoop::EventLoop() : impl_(std::make_unique<Impl>()) {}

EventLoop::~EventLoop() = default;

std::shared_ptr<EventLoop> EventLoop::SharedForThisThread() {
  thread_local const std::shared_ptr<EventLoop> loop = std::make_shared<EventLoop>();
  return loop;
}

EventLoop& EventLoop::ForThisThread() {
  thread_local EventLoop& loop = *SharedForThisThread();
  return loop;
}

EventLoop::SinkId EventLoop::CreateSink(NotificationTarget* target) {
  if (target == nullptr) return 0;
  const SinkId id = impl_->next_sink;
  impl_->sinks.emplace(id, Impl::Sink{target});
  ++impl_->next_sink;
  return id;
}

void EventLoop::DestroySink(SinkId sink) { impl_->DestroySink(sink); }

bool EventLoop::Subscribe(SinkId sink, int fd, std::uint32_t mask) {
  return impl_->Subscribe(sink, fd, mask);
}

void EventLoop::Unsubscribe(SinkId sink) { impl_->Unsubscribe(sink); }

void EventLoop::WriteRefused(SinkId sink) { impl_->WriteRefused(sink); }

void EventLoop::PauseRead(SinkId sink, bool paused) { impl_->PauseRead(sink, paused); }

void EventLoop::SetTimer(SinkId sink, std::uint32_t timer_id, std::uint32_t interval_ms) {
  impl_->SetTimer(sink, timer_id, interval_ms);
}

void EventLoop::KillTimer(SinkId sink, std::uint32_t timer_id) {
  impl_->timers.Kill(sink, timer_id);
}

void EventLoop::PostNotification(SinkId sink, std::uint16_t kind, std::uint16_t error) {
  impl_->Post(sink, kind, error);
}

void EventLoop::DiscardNotifications(SinkId sink) { impl_->DiscardNotifications(sink); }

void EventLoop::Run() {
  while (!impl_->quit) impl_->RunOnce(-1);
  impl_->quit = false;
}

bool EventLoop::RunOnce(int timeout_ms) { return impl_->RunOnce(timeout_ms); }

void EventLoop::Quit() { impl_->quit = true; }

int EventLoop::Fd() const { return impl_->epoll_fd.fd; }

std::size_t EventLoop::SinkCount() const { return impl_->sinks.size(); }

std::size_t EventLoop::TimerCount() const { return impl_->timers.size(); }

}  // namespace kivimap
