// CAPABILITY, NOOP, LOGOUT and LOGIN.
#include <cstddef>
#include <string>

#include "imap/commands.h"
#include "imap/login.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

CommandResult HandleCapability(Command& command) {
  if (!command.user.host()) return CommandResult::Done;
  std::string text = "* CAPABILITY ";
  text.append(command.server.ModernProtocol() ? kModernCapabilities : kDescribedCapabilities);
  text.append("\r\n").append(command.tag).append(" OK CAPABILITY completed\r\n");
  command.user.SendResponse(text);
  return CommandResult::Done;
}

CommandResult HandleNoop(Command& command) {
  if (!command.user.host()) return CommandResult::Done;
  // The same completion text as CAPABILITY, as clients of this server have always seen it.
  command.user.SendResponse(command.tag + " OK CAPABILITY completed\r\n");
  return CommandResult::Done;
}

CommandResult HandleLogout(Command& command) {
  if (!command.user.host()) return CommandResult::Done;
  std::string goodbye = command.server.GoodbyeMessage().ToNarrow();
  goodbye.resize(goodbye.find('\0') == std::string::npos ? goodbye.size() : goodbye.find('\0'));
  command.user.SendResponse("* BYE " + goodbye + " terminating connection\r\n" + command.tag +
                            " OK LOGOUT completed\r\n");
  // Lines already received are still answered; then the connection reads no more, sends all
  // that is queued and runs the ordinary close step, as if the peer had closed.
  if (transport::CkivUserSocket* connection = command.user.connection()) {
    connection->RequestClose();
  }
  return CommandResult::Done;
}

CommandResult HandleLogin(Command& command) {
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    command.user.SendResponse(command.tag + " BAD LOGIN parse error\r\n");
    return CommandResult::Done;
  }
  return CompleteLogin(command.server, command.user, command.tag, "LOGIN",
                       ToWide(text + offsets[0]), ToWide(text + offsets[1]));
}

}  // namespace kivimap::imap
