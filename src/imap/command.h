// One parsed command as the handlers receive it, and the handler signature.
#pragma once

#include <string>
#include <string_view>

#include "imap/protocol_context.h"
#include "imap/server_context.h"
#include "store/user.h"

namespace kivimap::imap {

struct Command {
  ServerContext& server;
  store::ImapUser& user;
  std::string tag;        // case kept
  std::string name;       // upper-cased
  std::string arguments;  // case kept; handlers split it in place (SplitArguments)
};

// Done: the command finished (its completion is queued) or waits for more input. Suspended:
// it parked itself in the protocol record (ImapProtocolContext::Parked) until the output
// drains. Closed: the server, the user or its connection went away during an event, and the
// caller touches none of them again.
using CommandHandler = CommandResult (*)(Command& command);

// Sends "<tag> <text>\r\n", the command's completion, after everything queued before it.
inline void SendTagged(Command& command, std::string_view text) {
  std::string line = command.tag;
  line.push_back(' ');
  line.append(text).append("\r\n");
  command.user.SendResponse(line);
}

}  // namespace kivimap::imap
