// kivimap-fixture-host: a scriptable host for black-box protocol tests.
//
//   kivimap-fixture-host --fixture FILE.json [--events LOG]
//
// Prints "PORT <n>" once listening (or "ERROR 0x%08X <text>" and exits 1 when the "config"
// load, a setter or Start fails), then serves until SIGTERM, SIGINT or the end of its standard
// input.
// A bad command line or fixture exits 2 with a message on stderr.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "event_log.h"
#include "fixture.h"
#include "fixture_sink.h"
#include "kivimap/kivimap.h"
#include "mail_store.h"
#include "server_start.h"

namespace fixture_host {
namespace {

constexpr int kUsageExit = 2;
// Work the loop has ready is done in bursts of at most this many RunOnce calls, so that a busy
// server cannot starve the signal and stdin checks.
constexpr int kRunOnceBurst = 64;

int Usage(const char* message) {
  std::fprintf(
      stderr,
      "kivimap-fixture-host: %s\nusage: kivimap-fixture-host --fixture FILE.json [--events LOG]\n",
      message);
  return kUsageExit;
}

// A descriptor that becomes readable when SIGTERM or SIGINT arrives; -1 on failure.
int TerminationSignalFd() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

// True when standard input has reached its end (or cannot be read at all).
bool StdinEnded(short revents) {
  if (revents & POLLNVAL) return true;
  char buf[512];
  const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
  if (n > 0) return false;  // input is ignored; only its end matters
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
  return true;
}

void Serve(int signal_fd) {
  kivimap::EventLoop& loop = kivimap::EventLoop::ForThisThread();
  pollfd fds[3] = {
      {loop.Fd(), POLLIN, 0},
      {STDIN_FILENO, POLLIN, 0},
      {signal_fd, POLLIN, 0},
  };
  for (;;) {
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("kivimap-fixture-host: poll");
      return;
    }
    if (fds[2].revents) return;
    if (fds[1].revents && StdinEnded(fds[1].revents)) return;
    if (fds[0].revents & POLLIN) {
      for (int i = 0; i < kRunOnceBurst && loop.RunOnce(0); ++i) {
      }
    }
  }
}

int Run(int argc, char** argv) {
  std::string fixture_path, events_path;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if ((arg == "--fixture" || arg == "--events") && i + 1 < argc) {
      (arg == "--fixture" ? fixture_path : events_path) = argv[++i];
    } else {
      return Usage(("unexpected argument: " + std::string(arg)).c_str());
    }
  }
  if (fixture_path.empty()) return Usage("--fixture is required");

  Fixture fixture;
  std::string error;
  if (!LoadFixture(fixture_path, &fixture, &error)) {
    std::fprintf(stderr, "kivimap-fixture-host: bad fixture: %s\n", error.c_str());
    return kUsageExit;
  }
  EventLog log;
  if (!events_path.empty() && !log.Open(events_path, &error)) {
    std::fprintf(stderr, "kivimap-fixture-host: events log: %s\n", error.c_str());
    return kUsageExit;
  }
  const int signal_fd = TerminationSignalFd();
  if (signal_fd < 0) {
    std::perror("kivimap-fixture-host: signalfd");
    return 1;
  }

  MailStore store(fixture.folders, fixture.appenddir);
  HostServer host;
  kivimap::Status status = kivimap::CreateImapServer(&host.server);
  if (kivimap::Failed(status) || !host.server) {
    std::printf("ERROR 0x%08X CreateImapServer failed\n", status);
    return 1;
  }
  kivimap::Ref<FixtureSink> sink;
  if (fixture.sink) {
    sink = kivimap::Ref<FixtureSink>(new FixtureSink(fixture, &store, &log, &host));
    std::uint32_t cookie = 0;
    status = host.server->Advise(sink.get(), &cookie);
    if (kivimap::Failed(status)) {
      std::printf("ERROR 0x%08X Advise failed\n", status);
      return 1;
    }
  }

  std::uint16_t port = 0;
  std::string error_line;
  if (!ConfigureAndStart(host.server.get(), fixture, &port, &error_line)) {
    std::printf("%s\n", error_line.c_str());
    std::fflush(stdout);
    host.server->Stop();
    host.server.Reset();
    return 1;
  }
  std::printf("PORT %u\n", port);
  std::fflush(stdout);

  Serve(signal_fd);

  if (host.server) {  // not released by a script
    host.server->Stop();
    host.server.Reset();
  }
  sink.Reset();
  close(signal_fd);
  return 0;
}

}  // namespace
}  // namespace fixture_host

int main(int argc, char** argv) { return fixture_host::Run(argc, argv); }
