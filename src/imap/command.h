// One parsed command as the handlers receive it, and the handler signature.
#pragma once

#include <string>

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

// Returns true to continue, false to stop: the server, the user or its connection went away
// during an event, and the caller touches none of them again.
using CommandHandler = bool (*)(Command& command);

}  // namespace kivimap::imap
