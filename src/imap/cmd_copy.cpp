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
  // UIDPLUS (the modern level): each copy's UID, when the host's copy shows up as the one new
  // message at the end of the destination.
  bool report_uids = command.server.ModernProtocol();
  std::string source_uids;
  std::string copy_uids;
  std::uint32_t count = 0;
  for (const std::uint32_t position : selection.positions) {
    Ref<store::ImapMessage> message(selection.At(position));
    if (!message) continue;
    ++count;
    const store::ImapMessages* arrived = MessagesOf(destination.folder.get());
    const std::size_t before = arrived ? arrived->size() : 0;
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
    arrived = MessagesOf(destination.folder.get());
    if (report_uids && arrived && arrived->size() == before + 1) {
      if (!source_uids.empty()) source_uids.push_back(',');
      if (!copy_uids.empty()) copy_uids.push_back(',');
      source_uids.append(std::to_string(static_cast<std::uint32_t>(message->Uid())));
      copy_uids.append(std::to_string(static_cast<std::uint32_t>(arrived->at(before)->Uid())));
    } else {
      report_uids = false;
    }
  }
  if (count == 0) {
    SendTagged(command, "NO COPY no such message");
    return CommandResult::Done;
  }
  std::string completion = "OK ";
  if (report_uids) {
    std::int32_t uid_validity = 0;
    destination.folder->get_UID(&uid_validity);
    completion.append("[COPYUID ")
        .append(std::to_string(static_cast<std::uint32_t>(uid_validity)))
        .append(" ")
        .append(source_uids)
        .append(" ")
        .append(copy_uids)
        .append("] ");
  }
  completion.append("COPY ").append(std::to_string(count)).append(" messages");
  SendTagged(command, completion);
  return CommandResult::Done;
}

CommandResult HandleCopy(Command& command) { return RunCopy(command, false); }

}  // namespace kivimap::imap
