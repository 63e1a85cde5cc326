// The command handlers, one file per group.
#pragma once

#include <cstddef>
#include <string_view>

#include "imap/command.h"

namespace kivimap::imap {

// cmd_session.cpp
CommandResult HandleCapability(Command& command);
CommandResult HandleNoop(Command& command);
CommandResult HandleLogout(Command& command);
CommandResult HandleLogin(Command& command);

// cmd_authenticate.cpp
CommandResult HandleAuthenticate(Command& command);
// A client line while an AUTHENTICATE exchange is pending.
CommandResult ContinueAuthenticate(ServerContext& server, store::ImapUser& user,
                                   std::string_view line);

// cmd_folders.cpp
CommandResult HandleList(Command& command);
CommandResult HandleLsub(Command& command);
CommandResult HandleSubscribe(Command& command);
CommandResult HandleUnsubscribe(Command& command);
CommandResult HandleCreate(Command& command);
CommandResult HandleDelete(Command& command);
CommandResult HandleRename(Command& command);

// cmd_fetch.cpp, cmd_store.cpp, cmd_copy.cpp: by_uid reads the message set as UIDs (UID FETCH,
// UID STORE, UID COPY, through cmd_uid.cpp).
CommandResult HandleFetch(Command& command);
CommandResult HandleStore(Command& command);
CommandResult HandleCopy(Command& command);
CommandResult HandleUid(Command& command);
CommandResult RunFetch(Command& command, bool by_uid);
CommandResult RunStore(Command& command, bool by_uid);
CommandResult RunCopy(Command& command, bool by_uid);

// cmd_search.cpp: SEARCH, and UID SEARCH (by_uid: the answer lists UIDs) through cmd_uid.cpp.
CommandResult HandleSearch(Command& command);
CommandResult RunSearch(Command& command, bool by_uid);

// cmd_mailbox.cpp
CommandResult HandleSelect(Command& command);
CommandResult HandleExamine(Command& command);
CommandResult HandleStatus(Command& command);
CommandResult HandleCheck(Command& command);
CommandResult HandleClose(Command& command);
CommandResult HandleExpunge(Command& command);
// UID EXPUNGE <uid set> (UIDPLUS, the modern level): EXPUNGE of the marked messages named.
CommandResult RunUidExpunge(Command& command);

// cmd_append.cpp: APPEND, and a chunk of literal data while an APPEND literal is pending.
CommandResult HandleAppend(Command& command);
CommandResult AppendContinuation(ServerContext& server, store::ImapUser& user, const char* bytes,
                                 std::size_t length);

#ifdef KIVIMAP_TEST_COMMANDS
// cmd_test_stream.cpp (test builds only): "XSTREAM <bytes>" streams that many bytes through a
// parked command.
CommandResult HandleTestStream(Command& command);
#endif

}  // namespace kivimap::imap
