#include "imap/login.h"

#include <string>

namespace kivimap::imap {

CommandResult CompleteLogin(ServerContext& server, store::ImapUser& user, std::string_view tag,
                            std::string_view command_name, const WideString& username,
                            const WideString& password) {
  user.put_Username(username);
  user.put_Password(password);
  if (user.host()) {
    // Offered to the host, but a login completes whatever it answers.
    std::int32_t action = Deny;
    if (!server.FireConnected(user, username, password, &action)) return CommandResult::Closed;
  }
  ProtocolOf(user).ProtocolState = ProtocolAuthenticated;
  std::string completion(tag);
  completion.append(" OK ").append(command_name).append(" completed\r\n");
  user.SendResponse(completion);
  if (user.host() && !server.FireListFolders(user, nullptr)) return CommandResult::Closed;
  return CommandResult::Done;
}

}  // namespace kivimap::imap
