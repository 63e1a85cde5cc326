// kivimapd: serves a tree of Maildirs, one per user, over IMAP.
//
//   kivimapd --maildir ROOT --users FILE [--listen ADDR:PORT] [--config FILE]
//            [--debug-file FILE] [--log-level LEVEL]
//   kivimapd --users FILE --add-user NAME      (the password is the first line of stdin)
//
// The command line overrides the configuration file. Once listening, the first line on standard
// error is "listening on ADDR:PORT" with the port actually bound (so "--listen 127.0.0.1:0"
// takes a free one). SIGTERM and SIGINT stop the server and exit 0; SIGHUP reads the users file
// again. Exit 2 for a bad command line or configuration, 1 when the server cannot start.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "config.h"
#include "event_sink.h"
#include "kivimap/kivimap.h"
#include "log.h"
#include "users_file.h"

namespace kivimapd {
namespace {

constexpr int kUsageExit = 2;
constexpr int kRunOnceBurst = 64;

constexpr const char* kUsage =
    "usage: kivimapd --maildir ROOT --users FILE [--listen ADDR:PORT] [--config FILE]\n"
    "                [--debug-file FILE] [--log-level error|warning|info|debug]\n"
    "       kivimapd --users FILE --add-user NAME   (reads the password from standard input)\n";

int Usage(std::string_view message) {
  std::string text = "kivimapd: ";
  text.append(message).append("\n").append(kUsage);
  std::fputs(text.c_str(), stderr);
  return kUsageExit;
}

struct Options {
  std::optional<std::string> config;
  std::optional<std::string> maildir;
  std::optional<std::string> users;
  std::optional<std::string> listen;
  std::optional<std::string> debug_file;
  std::optional<std::string> log_level;
  std::optional<std::string> add_user;
};

int AddUserFromStdin(const std::string& users, const std::string& name) {
  std::string password;
  if (!std::getline(std::cin, password))
    return Usage("--add-user reads a password line from stdin");
  if (!password.empty() && password.back() == '\r') password.pop_back();
  std::string error;
  if (!AddUser(users, name, password, &error)) {
    std::fputs(("kivimapd: " + error + "\n").c_str(), stderr);
    return 1;
  }
  return 0;
}

int SignalFd() {
  sigset_t set;
  sigemptyset(&set);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
  if (sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
  return signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
}

// Runs the server until SIGTERM or SIGINT; SIGHUP reloads the users file.
void Serve(int signal_fd, const std::string& users_path, UsersFile* users) {
  kivimap::EventLoop& loop = kivimap::EventLoop::ForThisThread();
  pollfd fds[2] = {{loop.Fd(), POLLIN, 0}, {signal_fd, POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      LogError("poll: " + ErrnoText(errno));
      return;
    }
    if (fds[1].revents) {
      signalfd_siginfo info{};
      while (::read(signal_fd, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        if (info.ssi_signo != SIGHUP) {
          LogInfo("stopping on signal " + std::to_string(info.ssi_signo));
          return;
        }
        std::string error;
        if (users->Load(users_path, &error)) {
          LogInfo("users file read again: " + std::to_string(users->size()) + " users");
        } else {
          LogError(error + "; the users read before stay");
        }
      }
    }
    if (fds[0].revents & POLLIN) {
      for (int i = 0; i < kRunOnceBurst && loop.RunOnce(0); ++i) {
      }
    }
  }
}

// Holds log lines from the start until the server listens (or the start fails).
struct StartupLogHold {
  StartupLogHold() { HoldLog(true); }
  ~StartupLogHold() { HoldLog(false); }
};

int Run(int argc, char** argv) {
  std::optional<StartupLogHold> hold(std::in_place);
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    std::optional<std::string>* field = nullptr;
    if (arg == "--config") field = &options.config;
    if (arg == "--maildir") field = &options.maildir;
    if (arg == "--users") field = &options.users;
    if (arg == "--listen") field = &options.listen;
    if (arg == "--debug-file") field = &options.debug_file;
    if (arg == "--log-level") field = &options.log_level;
    if (arg == "--add-user") field = &options.add_user;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!field) return Usage("unexpected argument: " + Printable(arg));
    if (i + 1 >= argc) return Usage(std::string(arg) + " needs a value");
    *field = argv[++i];
  }

  // The server reads the configuration file: it takes its own properties and hands back ours.
  kivimap::Ref<kivimap::IkivImapServer> server;
  if (kivimap::Failed(kivimap::CreateImapServer(&server)) || !server) {
    LogError("cannot create the server");
    return 1;
  }
  // Real clients expect RFC 3501 where the described dialect departs from it (CLOSE expunges,
  // STORE FLAGS replaces, "*" is the last message).
  server->SetProtocolLevel(kivimap::ProtocolLevel::Modern);
  DaemonSettings own;
  std::string error;
  if (options.config && !LoadConfigFile(server.get(), *options.config, &own, &error)) {
    return Usage("configuration: " + error);
  }
  if (options.maildir) own.maildir = options.maildir;
  if (options.users) own.users = options.users;
  if (options.debug_file) own.debug_file = options.debug_file;
  if (options.log_level) {
    own.log_level = ParseLogLevel(*options.log_level);
    if (!own.log_level) return Usage("--log-level is one of error, warning, info, debug");
  }
  if (options.listen && !ApplyListen(server.get(), *options.listen, &error)) return Usage(error);
  if (own.log_level) SetLogLevel(*own.log_level);

  if (!own.users || own.users->empty()) return Usage("--users (or Users in the config) is needed");
  if (options.add_user) return AddUserFromStdin(*own.users, *options.add_user);
  if (!own.maildir || own.maildir->empty()) {
    return Usage("--maildir (or Maildir in the config) is needed");
  }

  UsersFile users;
  if (!users.Load(*own.users, &error)) return Usage("users file: " + error);
  if (::mkdir(own.maildir->c_str(), 0700) != 0 && errno != EEXIST) {
    return Usage("cannot create the Maildir root " + Printable(*own.maildir) + ": " +
                 ErrnoText(errno));
  }
  // A log reader that went away must not end the daemon: writes then fail with EPIPE.
  ::signal(SIGPIPE, SIG_IGN);
  const int signal_fd = SignalFd();
  if (signal_fd < 0) {
    LogError("signalfd: " + ErrnoText(errno));
    return 1;
  }

  kivimap::Ref<MaildirHost> host(new MaildirHost(*own.maildir, &users));
  std::uint32_t cookie = 0;
  if (kivimap::Failed(server->Advise(host.get(), &cookie))) {
    LogError("cannot connect the event sink");
    return 1;
  }
  if (own.debug_file) server->put_DebugFile(kivimap::ToWide(*own.debug_file));
  kivimap::ClearErrorRecord();
  const kivimap::Status status = server->Start();
  if (kivimap::Failed(status)) {
    LogError("cannot start: " + ServerErrorText(status));
    return 1;
  }
  kivimap::WideString bind_ip;
  server->get_BindIP(&bind_ip);
  const std::string address = bind_ip.empty() ? "0.0.0.0" : bind_ip.ToNarrow();
  LogPlain("listening on " + address + ":" + std::to_string(server->ListeningPort()));
  hold.reset();
  LogInfo("serving " + Printable(*own.maildir) + " to " + std::to_string(users.size()) + " users");

  Serve(signal_fd, *own.users, &users);

  server->Stop();
  server->Unadvise(cookie);
  server.Reset();
  host.Reset();
  ::close(signal_fd);
  return 0;
}

}  // namespace
}  // namespace kivimapd

int main(int argc, char** argv) { return kivimapd::Run(argc, argv); }
