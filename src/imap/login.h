// What LOGIN and AUTHENTICATE share once they have a user name and a password.
#pragma once

#include <string_view>

#include "imap/protocol_context.h"
#include "imap/server_context.h"
#include "store/user.h"

namespace kivimap::imap {

// Stores the credentials on the user, fires Connected, enters the authenticated state, sends
// "<tag> OK <command_name> completed" and fires ListFolders for the root. The server does not
// judge the credentials: the host learns them through Connected. A host that disconnects the
// user inside Connected ends the command there: no state change, nothing sent.
CommandResult CompleteLogin(ServerContext& server, store::ImapUser& user, std::string_view tag,
                            std::string_view command_name, const WideString& username,
                            const WideString& password);

}  // namespace kivimap::imap
