// Accepting a connection, and handing what it receives to the protocol engine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <new>
#include <string>
#include <utility>

#include "imap/dispatcher.h"
#include "server/imap_server.h"

namespace kivimap::server {

namespace {

std::string DottedAddress(std::uint32_t address) {
  char text[INET_ADDRSTRLEN] = {};
  in_addr in{};
  in.s_addr = address;
  return ::inet_ntop(AF_INET, &in, text, sizeof text) ? std::string(text) : std::string();
}

}  // namespace

void CkivImapServer::OnAcceptReady() {
  // Level-triggered: connections still waiting after this batch are reported again next round,
  // after the other sockets had their turn.
  automation::Liveness alive(this);
  for (int i = 0; i < kAcceptBatch && alive.alive() && listener_; ++i) {
    std::uint32_t peer = 0;
    const int fd = listener_->Accept(&peer);
    if (fd < 0) return;
    AcceptOne(fd, peer);
  }
}

void CkivImapServer::AcceptOne(int fd, std::uint32_t peer) {
  // The accepted socket is closed on every way out that did not hand it to a connection.
  struct AcceptedSocket {
    int fd;
    ~AcceptedSocket() {
      if (fd >= 0) ::close(fd);
    }
  } socket{fd};

  Ref<store::ImapUser> user(new store::ImapUser);
  user->SetHost(this);
  user->put_Hostname(ToWide(DottedAddress(peer)));

  // The host decides while the user is in no collection and has no socket yet. It may release
  // the server here: then nothing of it is touched again.
  std::int32_t action = Allow;
  // A host that disconnected the user inside the event was told Disconnected already: the
  // connection must not be greeted and served afterwards as if nothing had happened.
  if (!FireConnecting(*user, &action) || action == Deny || user->disconnected_by_host()) return;
  if (!user->AttachSocket(std::exchange(socket.fd, -1), loop_)) return;
  try {
    users_->Append(user);
    std::string greeting = "* OK [CAPABILITY ";
    greeting += protocol_level_ == ProtocolLevel::Modern ? kModernCapabilities
                                                         : kDescribedCapabilities;
    greeting += "] ";
    greeting += greeting_message_.ToNarrow();
    greeting += " ready.\r\n";
    // Sent by the connection's first Write notification.
    user->QueueResponse(greeting);
  } catch (...) {
    users_->Remove(user.get());
    user->CloseConnectionQuietly();
    throw;
  }
}

transport::CommandResult CkivImapServer::DispatchReceived(store::ImapUser& user, const char* data,
                                                          std::size_t n) {
  return imap::DispatchCommand(*this, user, data, n);
}

transport::CommandResult CkivImapServer::ResumeParked(store::ImapUser& user) {
  return imap::ResumeCommand(*this, user);
}

}  // namespace kivimap::server
