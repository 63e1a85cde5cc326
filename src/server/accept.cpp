// Accepting a connection, and handing what it receives to the protocol engine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <unistd.h>

#include <new>
#include <string>

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
  std::uint32_t peer = 0;
  const int fd = listener_ ? listener_->Accept(&peer) : -1;
  if (fd < 0) return;

  Ref<store::ImapUser> user;
  try {
    user = Ref<store::ImapUser>(new store::ImapUser);
    user->SetHost(this);
    user->put_Hostname(ToWide(DottedAddress(peer)));
  } catch (const std::bad_alloc&) {
    ::close(fd);
    return;
  }

  // The host decides while the user is in no collection and has no socket yet. It may release
  // the server here: then nothing of it is touched again.
  std::int32_t action = Allow;
  // A host that disconnected the user inside the event was told Disconnected already: the
  // connection must not be greeted and served afterwards as if nothing had happened.
  if (!FireConnecting(*user, &action) || action == Deny || user->disconnected_by_host()) {
    ::close(fd);
    return;
  }
  if (!user->AttachSocket(fd)) return;
  try {
    users_->Append(user);
    std::string greeting = "* OK [CAPABILITY IMAP4REV1 AUTH=LOGIN] ";
    greeting += greeting_message_.ToNarrow();
    greeting += " ready.\r\n";
    // Sent by the connection's first Write notification.
    user->QueueResponse(greeting);
  } catch (const std::bad_alloc&) {
    users_->Remove(user.get());
  }
}

bool CkivImapServer::DispatchReceived(store::ImapUser& user, const char* data, std::size_t n) {
  return imap::DispatchCommand(*this, user, data, n);
}

}  // namespace kivimap::server
