// APPEND. Its handler, and the continuation that stores the literal, arrive with the mailbox
// commands; until then no command enters literal mode and this continuation is never reached.
#include "imap/commands.h"

namespace kivimap::imap {

CommandResult AppendContinuation(ServerContext& /*server*/, store::ImapUser& user,
                                 const char* /*bytes*/, std::size_t /*length*/) {
  // Nothing can store the bytes: leave literal mode so that what follows is read as commands.
  if (transport::CkivUserSocket* connection = user.connection()) {
    connection->set_literal_remaining(0);
  }
  return CommandResult::Done;
}

}  // namespace kivimap::imap
