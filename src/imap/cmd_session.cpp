// CAPABILITY, NOOP, LOGOUT and LOGIN.
#include <cstddef>
#include <string>

#include "imap/commands.h"
#include "imap/login.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

bool HandleCapability(Command& command) {
  if (!command.user.host()) return true;
  command.user.SendResponse("* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\n" + command.tag +
                            " OK CAPABILITY completed\r\n");
  return true;
}

bool HandleNoop(Command& command) {
  if (!command.user.host()) return true;
  // The same completion text as CAPABILITY, as clients of this server have always seen it.
  command.user.SendResponse(command.tag + " OK CAPABILITY completed\r\n");
  return true;
}

bool HandleLogout(Command& command) {
  if (!command.user.host()) return true;
  std::string goodbye = command.server.GoodbyeMessage().ToNarrow();
  goodbye.resize(goodbye.find('\0') == std::string::npos ? goodbye.size() : goodbye.find('\0'));
  command.user.SendResponse("* BYE " + goodbye + " terminating connection\r\n" + command.tag +
                            " OK LOGOUT completed\r\n");
  // Closed through the ordinary close step once this notification is done, as if the peer had
  // closed; lines already received are still answered first.
  if (transport::CkivUserSocket* connection = command.user.connection()) {
    connection->PostNotification(NotifyClose);
  }
  return true;
}

bool HandleLogin(Command& command) {
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    command.user.SendResponse(command.tag + " BAD LOGIN parse error\r\n");
    return true;
  }
  return CompleteLogin(command.server, command.user, command.tag, "LOGIN",
                       ToWide(text + offsets[0]), ToWide(text + offsets[1]));
}

}  // namespace kivimap::imap
