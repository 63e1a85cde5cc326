#include "imap/folder_messages.h"

#include <string>

#include "imap/message_set.h"

namespace kivimap::imap {

bool SelectForCommand(Command& command, std::string_view set_text, bool by_uid,
                      Selection* selection) {
  selection->folder = Ref<IImapFolder>(ProtocolOf(command.user).SelectedFolder.get());
  selection->positions.clear();
  const store::ImapMessages* messages = MessagesOf(selection->folder.get());
  if (!messages ||
      ParseMessageSet(set_text, by_uid, *messages, &selection->positions) == MessageSetResult::Ok) {
    return true;
  }
  SendTagged(command, "NO " + command.name + " too many messages");
  return false;
}

}  // namespace kivimap::imap
