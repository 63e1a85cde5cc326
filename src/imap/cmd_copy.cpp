// COPY and UID COPY: each message is offered to the host, which makes the copy in its store
// and in the destination folder inside CopyMessage; the component copies nothing itself.
#include <string>

#include "imap/commands.h"
#include "imap/folder_messages.h"
#include "imap/mailbox_names.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

CommandResult RunCopy(Command& command, bool by_uid) {
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    SendTagged(command, "BAD " + command.name + " parse error");
    return CommandResult::Done;
  }
  store::ImapUser& user = command.user;
  FoundFolder destination;
  if (ResolveMailbox(command.server, user, text + offsets[1], kSelectReference, &destination) ==
      WalkResult::Stop) {
    return CommandResult::Closed;
  }
  if (!destination.folder) {
    SendTagged(command, "NO such mailbox");
    return CommandResult::Done;
  }
  Selection selection;
  if (!SelectForCommand(command, text + offsets[0], by_uid, &selection)) {
    return CommandResult::Done;
  }
  std::uint32_t count = 0;
  for (const std::uint32_t position : selection.positions) {
    Ref<store::ImapMessage> message(selection.At(position));
    if (!message) continue;
    ++count;
    std::int32_t action = Deny;
    if (!command.server.FireCopyMessage(user, selection.folder.get(), message.get(),
                                        destination.folder.get(), &action)) {
      return CommandResult::Closed;
    }
    // One completion per command: the first refusal ends it.
    if (action != Allow) {
      SendTagged(command, "NO COPY message copy failed");
      return CommandResult::Done;
    }
  }
  SendTagged(command, count > 0 ? "OK COPY " + std::to_string(count) + " messages"
                                : std::string("NO COPY no such message"));
  return CommandResult::Done;
}

CommandResult HandleCopy(Command& command) { return RunCopy(command, false); }

}  // namespace kivimap::imap
