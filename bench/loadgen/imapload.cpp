// imapload: load for an IMAP server on loopback, driven by epoll, for bench/compare-core.
//
//   imapload churn --port P [--clients C] [--seconds S] [--warmup W] [--max-sessions N]
//       Each of C clients runs sessions back to back: connect, greeting, LOGIN, LOGOUT, wait for
//       the server to close, close. Prints "churn clients= sessions= seconds= rate=".
//   imapload noop --port P [--clients C] [--seconds S] [--warmup W] [--max-noops N] ...
//       The churn above in one thread, and in another one logged-in connection that sends one NOOP
//       at a time and times each round trip. Prints "noop count= p50_us= p99_us= max_us=
//       churn_sessions= churn_rate=".
//   imapload idle --port P --steps 1000,5000 [--parallel K]
//       Opens connections, each LOGIN then NOOP, until the step's count is reached; prints
//       "READY <n>" and waits for a line on stdin before the next step. After the last step every
//       connection answers one more NOOP, then all are closed and "DONE <n>" is printed.
//
// Every answer is checked byte by byte: printable ASCII lines ending in CRLF, the greeting starting
// with "* OK", well-formed untagged lines, a tagged "<tag> OK" for each command, a "* BYE" before
// LOGOUT's OK, and nothing after it but the close. The first wrong, missing or late answer ends the
// process with exit status 1 and a line "imapload: FAIL ..." on stderr: a fast wrong answer is no
// result. Every loop is bounded in count and in time. Only 127.0.0.1 is ever contacted.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kMaxLine = 64 * 1024;  // an answer line longer than this is refused
constexpr int kMaxClients = 1024;
constexpr int kMaxIdle = 20000;

struct Options {
  std::string mode;
  int port = 0;
  std::string user = "bench";
  std::string password = "benchpw";
  int clients = 1;
  double seconds = 3;
  double warmup = 0.5;
  long max_sessions = 1000000;
  double rate = 0;  // churn: sessions started per second over all clients; 0 = as fast as it goes
  long max_noops = 200000;
  std::vector<int> steps;
  int parallel = 64;
  double session_timeout = 10;  // one churn session, or one idle connection's login
  double step_timeout = 300;    // one idle step, and the wait for stdin after it
};

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "imapload: FAIL %s\n", what.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

std::string Shown(std::string_view bytes) {
  std::string out;
  for (unsigned char c : bytes.substr(0, 200)) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      out += esc;
    }
  }
  if (bytes.size() > 200) out += "...";
  return "\"" + out + "\"";
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

Clock::duration FromSeconds(double s) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(s));
}

// Answer lines: what every line must be, whatever the server's wording.

bool Printable(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c >= 0x20 && c <= 0x7e; });
}

// A line ending in "{n}" or "{n+}" announces a literal; none of the commands sent here has one in
// its answer, so such a line is refused rather than mis-framed.
bool EndsWithLiteral(std::string_view s) {
  if (s.empty() || s.back() != '}') return false;
  size_t open = s.rfind('{');
  if (open == std::string_view::npos) return false;
  std::string_view inner = s.substr(open + 1, s.size() - open - 2);
  if (!inner.empty() && inner.back() == '+') inner.remove_suffix(1);
  return !inner.empty() &&
         std::all_of(inner.begin(), inner.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Returns an empty string when the line (without CRLF) is well-formed, else what is wrong.
std::string CheckLine(std::string_view line) {
  if (!Printable(line)) return "a byte outside printable ASCII (or a bare CR/LF) in " + Shown(line);
  if (EndsWithLiteral(line)) return "an unexpected literal in " + Shown(line);
  return {};
}

// "* " followed by a word.
bool IsUntagged(std::string_view line) {
  return line.size() >= 3 && line[0] == '*' && line[1] == ' ' && line[2] != ' ';
}

bool StartsWithWord(std::string_view line, std::string_view word) {
  return line.size() >= word.size() && line.substr(0, word.size()) == word &&
         (line.size() == word.size() || line[word.size()] == ' ');
}

bool IsTagged(std::string_view line, std::string_view tag) {
  return line.size() > tag.size() && line.substr(0, tag.size()) == tag && line[tag.size()] == ' ';
}

bool IsTaggedOk(std::string_view line, std::string_view tag) {
  return IsTagged(line, tag) && StartsWithWord(line.substr(tag.size() + 1), "OK");
}

// Splits complete CRLF lines off the front of `in`; returns false with `error` set on a bare LF or
// an over-long line.
bool NextLine(std::string& in, size_t& consumed, std::string_view& line, std::string& error) {
  std::string_view rest(in.data() + consumed, in.size() - consumed);
  size_t lf = rest.find('\n');
  if (lf == std::string_view::npos) {
    if (rest.size() > kMaxLine) error = "an answer line longer than 64 KiB";
    return false;
  }
  if (lf == 0 || rest[lf - 1] != '\r') {
    error = "a line ending in a bare LF: " + Shown(rest.substr(0, lf + 1));
    return false;
  }
  line = rest.substr(0, lf - 1);
  consumed += lf + 1;
  return true;
}

int RaiseFdLimit() {
  rlimit lim{};
  if (getrlimit(RLIMIT_NOFILE, &lim) == 0 && lim.rlim_cur < lim.rlim_max) {
    lim.rlim_cur = lim.rlim_max;
    setrlimit(RLIMIT_NOFILE, &lim);
  }
  getrlimit(RLIMIT_NOFILE, &lim);
  return static_cast<int>(std::min<rlim_t>(lim.rlim_cur, 1 << 30));
}

sockaddr_in Loopback(int port) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return addr;
}

// ---------------------------------------------------------------------------------------------
// Many connections on one epoll loop.

enum class Step { Connecting, Greeting, Login, Noop, Idle, Logout, Closing };

const char* StepName(Step s) {
  switch (s) {
    case Step::Connecting:
      return "connect";
    case Step::Greeting:
      return "greeting";
    case Step::Login:
      return "LOGIN";
    case Step::Noop:
      return "NOOP";
    case Step::Idle:
      return "idle";
    case Step::Logout:
      return "LOGOUT";
    case Step::Closing:
      return "close after LOGOUT";
  }
  return "?";
}

struct Conn {
  int fd = -1;
  Step step = Step::Connecting;
  std::string in;
  std::string out;
  std::string tag;
  unsigned next_tag = 0;
  bool bye = false;
  bool writing = false;  // EPOLLOUT subscribed
  Clock::time_point deadline;
};

class Driver {
 public:
  enum class Mode { Churn, Idle };

  Driver(const Options& opt, Mode mode) : opt_(opt), mode_(mode) {
    ep_ = epoll_create1(EPOLL_CLOEXEC);
    if (ep_ < 0) Fail(std::string("epoll_create1: ") + std::strerror(errno));
  }
  ~Driver() {
    for (auto& c : conns_)
      if (c.fd >= 0) close(c.fd);
    close(ep_);
  }

  // Churn: runs `clients` session loops until the measuring window ends or max_sessions have
  // started, then lets the sessions in flight finish.
  void RunChurn(int clients, Clock::time_point measure_start, Clock::time_point measure_end) {
    measure_start_ = measure_start;
    run_start_ = Clock::now();
    conns_.resize(clients);
    for (auto& c : conns_) StartSession(c);
    const Clock::time_point hard_end = measure_end + FromSeconds(opt_.session_timeout + 5);
    while (active_ > 0 || (!waiting_.empty() && !stop_starting_)) {
      Poll(opt_.rate > 0 ? 1 : 100);
      Clock::time_point now = Clock::now();
      if (now > hard_end) Fail("churn did not end in time");
      CheckDeadlines(now);
      if (now >= measure_end) stop_starting_ = true;
      // A paced churn starts the clients that wait as their turns come.
      while (!waiting_.empty() && !stop_starting_ && Due()) {
        Conn& c = conns_[waiting_.back()];
        waiting_.pop_back();
        StartSession(c);
      }
    }
  }

  // Idle: opens connections until `target` are logged in and have answered a NOOP.
  void OpenIdle(int target) {
    if (static_cast<int>(conns_.size()) < target) conns_.reserve(target);
    const Clock::time_point end = Clock::now() + FromSeconds(opt_.step_timeout);
    while (idle_ < target) {
      while (pending_ < opt_.parallel && opened_ < target) {
        conns_.emplace_back();
        ++opened_;
        ++pending_;
        StartSession(conns_.back());
      }
      Poll(100);
      Clock::time_point now = Clock::now();
      if (now > end)
        Fail("only " + std::to_string(idle_) + " of " + std::to_string(target) +
             " connections logged in within the step's time");
      CheckDeadlines(now);
    }
  }

  // Idle: sends one NOOP on every connection and waits for all answers.
  void NoopAll() {
    const Clock::time_point deadline = Clock::now() + FromSeconds(opt_.step_timeout);
    for (auto& c : conns_) {
      SendCommand(c, "NOOP");
      c.step = Step::Noop;
      c.deadline = deadline;
      --idle_;
    }
    while (idle_ < static_cast<int>(conns_.size())) {
      Poll(100);
      CheckDeadlines(Clock::now());
    }
  }

  // Idle: watches the idle connections (anything but a well-formed untagged line is a failure)
  // until a line arrives on stdin.
  void WaitForStdin() {
    if (!stdin_watched_ && !stdin_eof_) {
      epoll_event ev{};
      ev.events = EPOLLIN;
      ev.data.u64 = kStdinKey;
      if (epoll_ctl(ep_, EPOLL_CTL_ADD, 0, &ev) != 0)
        Fail(std::string("epoll_ctl stdin: ") + std::strerror(errno));
      stdin_watched_ = true;
    }
    const Clock::time_point end = Clock::now() + FromSeconds(opt_.step_timeout);
    while (stdin_lines_ == 0) {
      if (stdin_eof_) Fail("stdin closed");
      Poll(100);
      if (Clock::now() > end) Fail("no word on stdin in time");
    }
    --stdin_lines_;
  }

  void CloseAll() {
    for (auto& c : conns_) {
      if (c.fd >= 0) close(c.fd);
      c.fd = -1;
    }
  }

  long measured() const { return measured_; }
  Clock::time_point last_done() const { return last_done_; }
  int idle() const { return idle_; }

 private:
  static constexpr uint64_t kStdinKey = ~uint64_t{0};

  // Whether a paced churn may start another session now.
  bool Due() const {
    return opt_.rate <= 0 ||
           static_cast<double>(started_) < opt_.rate * Seconds(Clock::now() - run_start_);
  }

  void StartSession(Conn& c) {
    if (mode_ == Mode::Churn) {
      if (stop_starting_ || started_ >= opt_.max_sessions) return;
      if (!Due()) {
        waiting_.push_back(static_cast<size_t>(&c - conns_.data()));
        return;
      }
      ++started_;
    }
    c.in.clear();
    c.out.clear();
    c.bye = false;
    c.next_tag = 0;
    c.step = Step::Connecting;
    c.deadline = Clock::now() + FromSeconds(opt_.session_timeout);
    c.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (c.fd < 0) Fail(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    setsockopt(c.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr = Loopback(opt_.port);
    if (connect(c.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS)
      Fail(std::string("connect: ") + std::strerror(errno));
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLRDHUP;
    ev.data.u64 = static_cast<uint64_t>(&c - conns_.data());
    c.writing = true;
    if (epoll_ctl(ep_, EPOLL_CTL_ADD, c.fd, &ev) != 0)
      Fail(std::string("epoll_ctl: ") + std::strerror(errno));
    ++active_;
  }

  void Poll(int timeout_ms) {
    epoll_event events[256];
    int n = epoll_wait(ep_, events, 256, timeout_ms);
    if (n < 0) {
      if (errno == EINTR) return;
      Fail(std::string("epoll_wait: ") + std::strerror(errno));
    }
    for (int i = 0; i < n; ++i) {
      if (events[i].data.u64 == kStdinKey) {
        ReadStdin();
        continue;
      }
      Conn& c = conns_[events[i].data.u64];
      if (c.fd < 0) continue;
      if (c.step == Step::Connecting) {
        if (!(events[i].events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) continue;
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(c.fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err != 0) Fail(std::string("connect: ") + std::strerror(err));
        c.step = Step::Greeting;
        Subscribe(c, false);
        continue;
      }
      if (events[i].events & EPOLLOUT) Flush(c);
      if (c.fd >= 0 && (events[i].events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))) Read(c);
    }
  }

  void ReadStdin() {
    char buf[256];
    ssize_t n = read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
      stdin_eof_ = true;
      epoll_ctl(ep_, EPOLL_CTL_DEL, 0, nullptr);
      stdin_watched_ = false;
      return;
    }
    stdin_lines_ += static_cast<int>(std::count(buf, buf + n, '\n'));
  }

  void Subscribe(Conn& c, bool writing) {
    if (c.writing == writing) return;
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLRDHUP | (writing ? uint32_t{EPOLLOUT} : 0u);
    ev.data.u64 = static_cast<uint64_t>(&c - conns_.data());
    if (epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev) != 0)
      Fail(std::string("epoll_ctl: ") + std::strerror(errno));
    c.writing = writing;
  }

  void SendCommand(Conn& c, std::string_view command) {
    c.tag = "t" + std::to_string(++c.next_tag);
    c.out.append(c.tag).append(" ").append(command).append("\r\n");
    Flush(c);
  }

  void Flush(Conn& c) {
    while (!c.out.empty()) {
      ssize_t n = send(c.fd, c.out.data(), c.out.size(), MSG_NOSIGNAL);
      if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) break;
        if (errno == EINTR) continue;
        Fail(std::string("send during ") + StepName(c.step) + ": " + std::strerror(errno));
      }
      c.out.erase(0, static_cast<size_t>(n));
    }
    Subscribe(c, !c.out.empty());
  }

  void Read(Conn& c) {
    char buf[4096];
    ssize_t n = recv(c.fd, buf, sizeof buf, 0);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
      Fail(std::string("recv during ") + StepName(c.step) + ": " + std::strerror(errno));
    }
    if (n == 0) {
      if (c.step != Step::Closing)
        Fail(std::string("the server closed the connection during ") + StepName(c.step) +
             (c.in.empty() ? "" : " after " + Shown(c.in)));
      if (!c.in.empty()) Fail("a partial line before the close: " + Shown(c.in));
      SessionDone(c);
      return;
    }
    if (c.step == Step::Closing) Fail("bytes after LOGOUT's OK: " + Shown({buf, size_t(n)}));
    c.in.append(buf, static_cast<size_t>(n));
    size_t consumed = 0;
    std::string_view line;
    std::string error;
    while (c.fd >= 0 && c.step != Step::Closing && NextLine(c.in, consumed, line, error))
      OnLine(c, line);
    if (!error.empty()) Fail(error);
    if (c.fd < 0) return;
    if (c.step == Step::Closing && consumed < c.in.size())
      Fail("bytes after LOGOUT's OK: " + Shown(std::string_view(c.in).substr(consumed)));
    c.in.erase(0, consumed);
  }

  void OnLine(Conn& c, std::string_view line) {
    std::string bad = CheckLine(line);
    if (!bad.empty()) Fail(std::string("during ") + StepName(c.step) + ": " + bad);
    switch (c.step) {
      case Step::Greeting:
        if (!StartsWithWord(line, "* OK"))
          Fail("a greeting not starting with \"* OK\": " + Shown(line));
        if (c.in.size() > line.size() + 2) Fail("bytes after the greeting: " + Shown(c.in));
        SendCommand(c, "LOGIN " + opt_.user + " " + opt_.password);
        c.step = Step::Login;
        return;
      case Step::Idle:
        if (IsUntagged(line) && !StartsWithWord(line, "* BYE")) return;
        Fail("an idle connection received " + Shown(line));
      case Step::Login:
      case Step::Noop:
      case Step::Logout:
        break;
      default:
        Fail(std::string("unexpected line during ") + StepName(c.step) + ": " + Shown(line));
    }
    if (IsUntagged(line)) {
      if (StartsWithWord(line, "* BYE")) {
        if (c.step != Step::Logout)
          Fail(std::string("BYE during ") + StepName(c.step) + ": " + Shown(line));
        c.bye = true;
      }
      return;
    }
    if (!IsTaggedOk(line, c.tag))
      Fail(std::string("expected \"") + c.tag + " OK ...\" to " + StepName(c.step) + ", got " +
           Shown(line));
    if (c.in.size() > 0 && c.step != Step::Logout) {
      // A tagged answer ends the command: nothing else may follow until the next one is sent.
      size_t end = static_cast<size_t>(line.data() - c.in.data()) + line.size() + 2;
      if (end < c.in.size())
        Fail(std::string("bytes after the answer to ") + StepName(c.step) + ": " +
             Shown(std::string_view(c.in).substr(end)));
    }
    switch (c.step) {
      case Step::Login:
        if (mode_ == Mode::Churn) {
          SendCommand(c, "LOGOUT");
          c.step = Step::Logout;
        } else {
          SendCommand(c, "NOOP");
          c.step = Step::Noop;
        }
        return;
      case Step::Noop:
        if (pending_ > 0) --pending_;
        ++idle_;
        c.step = Step::Idle;
        return;
      case Step::Logout:
        if (!c.bye) Fail("LOGOUT's OK without a \"* BYE\" before it");
        c.step = Step::Closing;
        return;
      default:
        return;
    }
  }

  void SessionDone(Conn& c) {
    close(c.fd);
    c.fd = -1;
    --active_;
    Clock::time_point now = Clock::now();
    if (now >= measure_start_) {
      ++measured_;
      last_done_ = now;
    }
    StartSession(c);
  }

  void CheckDeadlines(Clock::time_point now) {
    for (auto& c : conns_) {
      if (c.fd >= 0 && c.step != Step::Idle && now > c.deadline)
        Fail(std::string("no answer in time during ") + StepName(c.step) +
             (c.in.empty() ? "" : " (have " + Shown(c.in) + ")"));
    }
  }

  const Options& opt_;
  Mode mode_;
  int ep_ = -1;
  std::vector<Conn> conns_;
  int active_ = 0;
  long started_ = 0;
  std::vector<size_t> waiting_;  // paced churn: clients between sessions
  Clock::time_point run_start_;
  long measured_ = 0;
  bool stop_starting_ = false;
  int stdin_lines_ = 0;  // lines read from stdin and not yet waited for
  bool stdin_watched_ = false;
  bool stdin_eof_ = false;
  int opened_ = 0;
  int pending_ = 0;
  int idle_ = 0;
  Clock::time_point measure_start_;
  Clock::time_point last_done_;
};

// ---------------------------------------------------------------------------------------------
// One blocking connection for timing round trips.

class Probe {
 public:
  explicit Probe(const Options& opt) : opt_(opt) {}
  ~Probe() {
    if (fd_ >= 0) close(fd_);
  }

  void Open() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) Fail(std::string("socket: ") + std::strerror(errno));
    int one = 1;
    setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in addr = Loopback(opt_.port);
    if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
      Fail(std::string("probe connect: ") + std::strerror(errno));
    std::string_view line = ReadLine("greeting");
    if (!StartsWithWord(line, "* OK")) Fail("probe greeting: " + Shown(line));
    Command("LOGIN " + opt_.user + " " + opt_.password, "LOGIN");
  }

  // Sends one command and reads its answer; returns the round trip.
  Clock::duration Command(const std::string& command, const char* name) {
    std::string tag = "p" + std::to_string(++tags_);
    std::string bytes = tag + " " + command + "\r\n";
    Clock::time_point start = Clock::now();
    if (send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      Fail(std::string("probe send: ") + std::strerror(errno));
    bool bye = false;
    for (;;) {
      std::string_view line = ReadLine(name);
      if (IsUntagged(line)) {
        if (StartsWithWord(line, "* BYE")) {
          if (std::strcmp(name, "LOGOUT") != 0) Fail(std::string("probe: BYE to ") + name);
          bye = true;
        }
        continue;
      }
      if (!IsTaggedOk(line, tag))
        Fail("probe: expected \"" + tag + " OK ...\" to " + name + ", got " + Shown(line));
      break;
    }
    Clock::duration rtt = Clock::now() - start;
    if (consumed_ < in_.size())
      Fail(std::string("probe: bytes after the answer to ") + name + ": " +
           Shown(std::string_view(in_).substr(consumed_)));
    if (std::strcmp(name, "LOGOUT") == 0 && !bye) Fail("probe: LOGOUT's OK without \"* BYE\"");
    return rtt;
  }

  void Logout() {
    Command("LOGOUT", "LOGOUT");
    char c;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(opt_.session_timeout * 1000)) <= 0)
      Fail("probe: no close after LOGOUT");
    ssize_t n = recv(fd_, &c, 1, 0);
    if (n != 0) Fail("probe: bytes or an error after LOGOUT's OK");
  }

 private:
  std::string_view ReadLine(const char* what) {
    if (consumed_ > 0) {
      in_.erase(0, consumed_);
      consumed_ = 0;
    }
    const Clock::time_point end = Clock::now() + FromSeconds(opt_.session_timeout);
    std::string_view line;
    std::string error;
    while (!NextLine(in_, consumed_, line, error)) {
      if (!error.empty()) Fail("probe: " + error);
      int left = static_cast<int>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
      pollfd p{fd_, POLLIN, 0};
      if (left <= 0 || poll(&p, 1, left) <= 0)
        Fail(std::string("probe: no answer in time to ") + what);
      char buf[4096];
      ssize_t n = recv(fd_, buf, sizeof buf, 0);
      if (n <= 0) Fail(std::string("probe: connection closed or failed during ") + what);
      in_.append(buf, static_cast<size_t>(n));
    }
    std::string bad = CheckLine(line);
    if (!bad.empty()) Fail(std::string("probe, ") + what + ": " + bad);
    return line;
  }

  const Options& opt_;
  int fd_ = -1;
  std::string in_;
  size_t consumed_ = 0;
  unsigned tags_ = 0;
};

// ---------------------------------------------------------------------------------------------

[[noreturn]] void Usage() {
  std::fprintf(stderr,
               "usage: imapload churn|noop|idle --port P [--user U] [--password W] [--clients C]\n"
               "       [--seconds S] [--warmup W] [--max-sessions N] [--max-noops N] [--rate R]\n"
               "       [--steps N1,N2,...] [--parallel K] [--session-timeout S] "
               "[--step-timeout S]\n");
  std::exit(2);
}

Options Parse(int argc, char** argv) {
  if (argc < 2) Usage();
  Options opt;
  opt.mode = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::string key = argv[i];
    if (i + 1 >= argc) Usage();
    std::string value = argv[++i];
    try {
      if (key == "--port")
        opt.port = std::stoi(value);
      else if (key == "--user")
        opt.user = value;
      else if (key == "--password")
        opt.password = value;
      else if (key == "--clients")
        opt.clients = std::stoi(value);
      else if (key == "--rate")
        opt.rate = std::stod(value);
      else if (key == "--seconds")
        opt.seconds = std::stod(value);
      else if (key == "--warmup")
        opt.warmup = std::stod(value);
      else if (key == "--max-sessions")
        opt.max_sessions = std::stol(value);
      else if (key == "--max-noops")
        opt.max_noops = std::stol(value);
      else if (key == "--parallel")
        opt.parallel = std::stoi(value);
      else if (key == "--session-timeout")
        opt.session_timeout = std::stod(value);
      else if (key == "--step-timeout")
        opt.step_timeout = std::stod(value);
      else if (key == "--steps") {
        size_t pos = 0;
        while (pos <= value.size()) {
          size_t comma = value.find(',', pos);
          if (comma == std::string::npos) comma = value.size();
          opt.steps.push_back(std::stoi(value.substr(pos, comma - pos)));
          pos = comma + 1;
        }
      } else {
        Usage();
      }
    } catch (const std::exception&) {
      Usage();
    }
  }
  bool ok = opt.port > 0 && opt.port < 65536 && opt.clients >= 1 && opt.clients <= kMaxClients &&
            opt.seconds > 0 && opt.seconds <= 600 && opt.warmup >= 0 && opt.warmup <= 60 &&
            opt.max_sessions >= 1 && opt.max_noops >= 1 && opt.parallel >= 1 &&
            opt.rate >= 0 && opt.rate <= 1e6 &&
            opt.session_timeout > 0 && opt.step_timeout > 0 &&
            opt.user.find_first_of(" \r\n") == std::string::npos &&
            opt.password.find_first_of(" \r\n") == std::string::npos;
  int previous = 0;
  for (int s : opt.steps) {
    ok = ok && s > previous && s <= kMaxIdle;
    previous = s;
  }
  if (!ok) Usage();
  return opt;
}

int Churn(const Options& opt) {
  Driver driver(opt, Driver::Mode::Churn);
  Clock::time_point start = Clock::now() + FromSeconds(opt.warmup);
  driver.RunChurn(opt.clients, start, start + FromSeconds(opt.seconds));
  double elapsed = Seconds(driver.last_done() - start);
  if (driver.measured() == 0 || elapsed <= 0) Fail("no session completed in the measuring window");
  std::printf("churn clients=%d sessions=%ld seconds=%.3f rate=%.1f\n", opt.clients,
              driver.measured(), elapsed, driver.measured() / elapsed);
  return 0;
}

int Noop(const Options& opt) {
  Clock::time_point start = Clock::now() + FromSeconds(opt.warmup);
  Clock::time_point end = start + FromSeconds(opt.seconds);
  long churned = 0;
  double churn_seconds = 0;
  std::thread churn([&] {
    Driver driver(opt, Driver::Mode::Churn);
    driver.RunChurn(opt.clients, start, end);
    churned = driver.measured();
    churn_seconds = Seconds(driver.last_done() - start);
  });
  Probe probe(opt);
  probe.Open();
  std::this_thread::sleep_until(start);
  std::vector<double> samples;
  samples.reserve(static_cast<size_t>(std::min<long>(opt.max_noops, 1000000)));
  while (Clock::now() < end && static_cast<long>(samples.size()) < opt.max_noops)
    samples.push_back(Seconds(probe.Command("NOOP", "NOOP")) * 1e6);
  probe.Logout();
  churn.join();
  if (samples.empty()) Fail("no NOOP answered in the measuring window");
  if (churned == 0 || churn_seconds <= 0) Fail("no churn session completed beside the NOOPs");
  std::sort(samples.begin(), samples.end());
  auto rank = [&](double p) {
    size_t i = static_cast<size_t>(std::ceil(p * samples.size()));
    return samples[std::min(samples.size() - 1, i == 0 ? 0 : i - 1)];
  };
  std::printf(
      "noop count=%zu p50_us=%.1f p99_us=%.1f max_us=%.1f churn_sessions=%ld "
      "churn_rate=%.1f\n",
      samples.size(), rank(0.50), rank(0.99), samples.back(), churned, churned / churn_seconds);
  return 0;
}

int Idle(const Options& opt) {
  if (opt.steps.empty()) Usage();
  int limit = RaiseFdLimit();
  if (opt.steps.back() + 64 > limit)
    Fail("the open-file limit (" + std::to_string(limit) + ") is too low for " +
         std::to_string(opt.steps.back()) + " connections");
  Driver driver(opt, Driver::Mode::Idle);
  for (size_t i = 0; i < opt.steps.size(); ++i) {
    Clock::time_point t0 = Clock::now();
    driver.OpenIdle(opt.steps[i]);
    std::printf("READY %d seconds=%.3f\n", driver.idle(), Seconds(Clock::now() - t0));
    std::fflush(stdout);
    driver.WaitForStdin();
  }
  driver.NoopAll();
  driver.CloseAll();
  std::printf("DONE %d\n", opt.steps.back());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  signal(SIGPIPE, SIG_IGN);
  Options opt = Parse(argc, argv);
  RaiseFdLimit();
  if (opt.mode == "churn") return Churn(opt);
  if (opt.mode == "noop") return Noop(opt);
  if (opt.mode == "idle") return Idle(opt);
  Usage();
}
