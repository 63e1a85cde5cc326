#include "server_start.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace fixture_host {
namespace {

using kivimap::Status;

constexpr int kStartAttempts = 8;

std::string ErrorLine(Status status) {
  kivimap::ErrorRecord record;
  std::string description = "(no error record)";
  if (kivimap::GetErrorRecord(&record)) description = record.description.ToNarrow();
  char head[32];
  std::snprintf(head, sizeof head, "ERROR 0x%08X ", status);
  return head + description;
}

// A port that was free on 127.0.0.1 a moment ago, or 0 when none could be had.
std::uint16_t ProbeFreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t len = sizeof addr;
  std::uint16_t port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
    port = ntohs(addr.sin_port);
  }
  close(fd);
  return port;
}

Status Apply(kivimap::IkivImapServer* server, const PropertySetting& s) {
  if (!s.property->is_string()) return (server->*s.property->set_int32)(s.number);
  return (server->*s.property->set_string)(s.is_null ? kivimap::WideString::Null()
                                                     : kivimap::ToWide(s.text));
}

}  // namespace

bool ConfigureAndStart(kivimap::IkivImapServer* server, const Fixture& fixture, std::uint16_t* port,
                       std::string* error_line) {
  kivimap::ClearErrorRecord();
  Status status = server->put_BindIP(u"127.0.0.1");
  if (kivimap::Succeeded(status)) status = server->put_Port(0);
  for (const PropertySetting& s : fixture.server) {
    if (kivimap::Failed(status)) break;
    status = Apply(server, s);
  }
  if (kivimap::Failed(status)) {
    *error_line = ErrorLine(status);
    return false;
  }

  std::int32_t configured = 0;
  server->get_Port(&configured);
  const bool pick_port = (configured & 0xFFFF) == 0;
  constexpr Status kAddressInUse = kivimap::StatusFromErrorCode(EADDRINUSE);
  for (int attempt = 1;; ++attempt) {
    std::uint16_t chosen = static_cast<std::uint16_t>(configured & 0xFFFF);
    if (pick_port) {
      chosen = ProbeFreePort();
      // A failed probe leaves Port's low bits 0: Start then listens on a port nobody can name,
      // so report it instead.
      if (chosen == 0) {
        *error_line = "ERROR 0x80004005 no free port could be found on 127.0.0.1";
        return false;
      }
      status = server->put_Port(static_cast<std::int32_t>(
          (static_cast<std::uint32_t>(configured) & 0xFFFF0000u) | chosen));
      if (kivimap::Failed(status)) {
        *error_line = ErrorLine(status);
        return false;
      }
    }
    kivimap::ClearErrorRecord();
    status = server->Start();
    if (kivimap::Succeeded(status)) {
      *port = chosen;
      return true;
    }
    if (!pick_port || status != kAddressInUse || attempt == kStartAttempts) {
      *error_line = ErrorLine(status);
      return false;
    }
  }
}

}  // namespace fixture_host
