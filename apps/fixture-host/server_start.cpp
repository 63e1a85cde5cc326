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

std::string ErrorLine(Status status) {
  kivimap::ErrorRecord record;
  std::string description = "(no error record)";
  if (kivimap::GetErrorRecord(&record)) description = record.description.ToNarrow();
  char head[32];
  std::snprintf(head, sizeof head, "ERROR 0x%08X ", status);
  return head + description;
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
  Status status = kivimap::StatusOk;
  // Names the server does not know are the host's; this host has none of its own.
  if (fixture.config) status = kivimap::LoadConfigText(server, *fixture.config);
  if (kivimap::Succeeded(status)) status = server->put_BindIP(u"127.0.0.1");
  if (kivimap::Succeeded(status)) status = server->put_Port(0);
  if (kivimap::Succeeded(status)) status = server->SetProtocolLevel(fixture.protocol);
  for (const PropertySetting& s : fixture.server) {
    if (kivimap::Failed(status)) break;
    status = Apply(server, s);
  }
  if (kivimap::Failed(status)) {
    *error_line = ErrorLine(status);
    return false;
  }

  // Port 0 (in its low bits) lets the system choose a free port; the server tells which.
  kivimap::ClearErrorRecord();
  status = server->Start();
  if (kivimap::Failed(status)) {
    *error_line = ErrorLine(status);
    return false;
  }
  *port = server->ListeningPort();
  return true;
}

}  // namespace fixture_host
