// The command handlers, one file per group.
#pragma once

#include <cstddef>
#include <string_view>

#include "imap/command.h"

namespace kivimap::imap {

// cmd_session.cpp
bool HandleCapability(Command& command);
bool HandleNoop(Command& command);
bool HandleLogout(Command& command);
bool HandleLogin(Command& command);

// cmd_authenticate.cpp
bool HandleAuthenticate(Command& command);
// A client line while an AUTHENTICATE exchange is pending.
bool ContinueAuthenticate(ServerContext& server, store::ImapUser& user, std::string_view line);

// cmd_append.cpp: a chunk of literal data while an APPEND literal is pending.
bool AppendContinuation(ServerContext& server, store::ImapUser& user, const char* bytes,
                        std::size_t length);

}  // namespace kivimap::imap
