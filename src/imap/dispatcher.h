// DispatchCommand: one received line, or one chunk of literal data, to the command it names.
#pragma once

#include <cstddef>
#include <string>

#include "imap/protocol_context.h"
#include "imap/server_context.h"
#include "store/user.h"

namespace kivimap::imap {

// line: a complete line without its line end (length bytes, no NUL among them); while the
// user's connection expects literal data, a chunk of length raw bytes. Closed when the server,
// the user or its connection went away and the caller must stop; Suspended when the command
// parked itself until the connection's output drains.
CommandResult DispatchCommand(ServerContext& server, store::ImapUser& user, const char* bytes,
                              std::size_t length);

// Runs the parked command on; it is dropped once it returns anything but Suspended.
CommandResult ResumeCommand(ServerContext& server, store::ImapUser& user);

// The part after the Command event: splits the text the event left into tag, name and arguments,
// answers the dispatcher's own errors and runs the handler.
CommandResult ExecuteCommandLine(ServerContext& server, store::ImapUser& user, std::string line);

}  // namespace kivimap::imap
