// SELECT, EXAMINE, STATUS, CHECK, CLOSE and EXPUNGE. The host fills a folder's messages in
// ListMessages before anything is counted, and removes an expunged message itself inside
// DeleteMessage.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/ascii.h"
#include "imap/commands.h"
#include "imap/folder_messages.h"
#include "imap/mailbox_names.h"
#include "imap/search_set.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

namespace {

std::string Number(std::uint32_t value) { return std::to_string(value); }

// Resolves the mailbox the first argument names and fires ListMessages for it. Returns the
// command's result when it ends here, else nothing; *folder then holds the folder.
std::optional<CommandResult> OpenMailbox(Command& command, std::string_view name,
                                         std::string_view not_found, Ref<IImapFolder>* folder) {
  FoundFolder found;
  if (ResolveMailbox(command.server, command.user, name, kSelectReference, &found) ==
      WalkResult::Stop) {
    return CommandResult::Closed;
  }
  if (!found.folder) {
    SendTagged(command, not_found);
    return CommandResult::Done;
  }
  if (!command.server.FireListMessages(command.user, found.folder.get())) {
    return CommandResult::Closed;
  }
  *folder = std::move(found.folder);
  return std::nullopt;
}

CommandResult SelectOrExamine(Command& command, bool read_write) {
  const std::string_view verb = read_write ? "SELECT" : "EXAMINE";
  std::size_t offsets[1];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 1) != 1) {
    SendTagged(command, std::string("BAD ").append(verb).append(" parse error"));
    return CommandResult::Done;
  }
  Ref<IImapFolder> folder;
  if (auto ended = OpenMailbox(command, text + offsets[0],
                               std::string("NO ").append(verb).append(" No such mailbox"),
                               &folder)) {
    return *ended;
  }
  store::ImapUser& user = command.user;
  store::ImapMessages* messages = MessagesOf(folder.get());
  user.QueueResponse("* FLAGS (\\Seen \\Answered \\Deleted \\Flagged \\Draft \\Recent)\r\n");
  user.QueueResponse("* " + Number(messages ? static_cast<std::uint32_t>(messages->size()) : 0) +
                     " EXISTS\r\n");

  // Recent is reported to one selection only: it is cleared as it is counted.
  std::uint32_t recent = 0;
  std::size_t first_unseen = 0;  // 1-based; 0 while every message seen so far has Seen
  for (std::size_t i = 0; messages && i < messages->size(); ++i) {
    Ref<store::ImapMessage> message(messages->at(i));
    const std::int32_t flags = message->Flags();
    if ((flags & Recent) != 0) {
      message->SetFlags(flags & ~Recent);
      ++recent;
      if (!command.server.FireFlagChange(user, folder.get(), message.get(), flags & ~Recent,
                                         flags)) {
        return CommandResult::Closed;
      }
    }
    if (first_unseen == 0 && (flags & Seen) == 0) first_unseen = i + 1;
  }
  user.QueueResponse("* " + Number(recent) + " RECENT\r\n");
  if (first_unseen != 0) {
    user.QueueResponse("* OK [UNSEEN " + Number(static_cast<std::uint32_t>(first_unseen)) +
                       "] first unseen\r\n");
  }
  std::int32_t uid_validity = 0;
  folder->get_UID(&uid_validity);
  user.QueueResponse("* OK [UIDVALIDITY " + Number(static_cast<std::uint32_t>(uid_validity)) +
                     "] UIDs valid\r\n");
  user.QueueResponse(read_write
                         ? "* OK [PERMANENTFLAGS (\\Seen \\Answered \\Deleted \\Flagged \\Draft)]\r\n"
                         : "* OK [PERMANENTFLAGS ()] No permanent flags permitted\r\n");
  ImapProtocolContext& context = ProtocolOf(user);
  context.ProtocolState = ProtocolSelected;
  context.SelectedFolder.Reset(folder.get());
  SendTagged(command, read_write ? "OK [READ-WRITE] SELECT completed"
                                 : "OK [READ-ONLY] EXAMINE completed");
  return CommandResult::Done;
}

// Offers every message marked \Deleted (and, with uids, named in it) to the host through
// DeleteMessage, in folder order; with report, queues "* n EXPUNGE" for each one allowed. The
// numbers assume that the host takes every allowed message out inside the event, so that each
// later message moves down by one.
CommandResult RemoveMarked(Command& command, IImapFolder* folder, bool report,
                           const SearchSet* uids = nullptr) {
  store::ImapMessages* messages = MessagesOf(folder);
  if (!messages) return CommandResult::Done;
  struct Marked {
    std::size_t position;  // from 0, before any removal
    Ref<store::ImapMessage> message;
  };
  std::vector<Marked> marked;
  for (std::size_t i = 0; i < messages->size(); ++i) {
    if ((messages->at(i)->Flags() & Deleted) != 0 &&
        (!uids || uids->Contains(static_cast<std::uint32_t>(messages->at(i)->Uid())))) {
      marked.push_back({i, Ref<store::ImapMessage>(messages->at(i))});
    }
  }
  std::size_t removals = 0;
  for (const Marked& entry : marked) {
    std::int32_t action = Deny;
    if (!command.server.FireDeleteMessage(command.user, folder, entry.message.get(), &action)) {
      return CommandResult::Closed;
    }
    if (action != Allow) continue;
    if (report) {
      command.user.QueueResponse("* " +
                                 Number(static_cast<std::uint32_t>(entry.position - removals + 1)) +
                                 " EXPUNGE\r\n");
    }
    ++removals;
  }
  return CommandResult::Done;
}

}  // namespace

CommandResult HandleSelect(Command& command) { return SelectOrExamine(command, true); }

CommandResult HandleExamine(Command& command) { return SelectOrExamine(command, false); }

CommandResult HandleStatus(Command& command) {
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    SendTagged(command, "BAD STATUS parse error");
    return CommandResult::Done;
  }
  const std::string_view name = text + offsets[0];
  Ref<IImapFolder> folder;
  if (auto ended = OpenMailbox(command, name, "NO STATUS failed", &folder)) return *ended;

  // "(MESSAGES UIDNEXT)" and a bare "MESSAGES" both name items.
  char* items = text + offsets[1];
  bool parenthesized = false;
  while (*items == '(') {
    ++items;
    parenthesized = true;
  }
  if (parenthesized) {
    if (char* close = std::strrchr(items, ')')) *close = '\0';
  }
  std::size_t item_offsets[50];
  const int item_count = SplitArguments(items, item_offsets, 50);

  std::uint32_t total = 0;
  std::uint32_t recent = 0;
  std::uint32_t unseen = 0;
  if (const store::ImapMessages* messages = MessagesOf(folder.get())) {
    for (std::size_t i = 0; i < messages->size(); ++i) {
      const std::int32_t flags = messages->at(i)->Flags();
      ++total;
      if ((flags & Recent) != 0) ++recent;
      if ((flags & Seen) == 0) ++unseen;
    }
  }
  std::int32_t uid_validity = 0;
  std::int32_t uid_next = 0;
  folder->get_UID(&uid_validity);
  folder->get_NextMessageUID(&uid_next);

  std::string line = "* STATUS " + QuoteMailboxName(name) + " (";
  bool first = true;
  for (int i = 0; i < item_count; ++i) {
    const std::string item = AsciiUpper(std::string_view(items + item_offsets[i]));
    std::uint32_t value = 0;
    if (item == "MESSAGES") {
      value = total;
    } else if (item == "RECENT") {
      value = recent;
    } else if (item == "UIDNEXT") {
      value = static_cast<std::uint32_t>(uid_next);
    } else if (item == "UIDVALIDITY") {
      value = static_cast<std::uint32_t>(uid_validity);
    } else if (item == "UNSEEN") {
      value = unseen;
    } else {
      continue;
    }
    if (!first) line.push_back(' ');
    first = false;
    line.append(item).push_back(' ');
    line.append(Number(value));
  }
  line.append(")\r\n");
  command.user.QueueResponse(line);
  SendTagged(command, "OK STATUS completed");
  return CommandResult::Done;
}

CommandResult HandleCheck(Command& command) {
  SendTagged(command, "OK CHECK completed");
  return CommandResult::Done;
}

CommandResult HandleClose(Command& command) {
  ImapProtocolContext& context = ProtocolOf(command.user);
  Ref<IImapFolder> folder(context.SelectedFolder.get());
  // RFC 3501 (the modern level): CLOSE removes the messages marked \Deleted, silently.
  if (folder && command.server.ModernProtocol() &&
      RemoveMarked(command, folder.get(), /*report=*/false) == CommandResult::Closed) {
    return CommandResult::Closed;
  }
  ImapProtocolContext& after = ProtocolOf(command.user);
  after.SelectedFolder.Reset(nullptr);
  after.ProtocolState = ProtocolAuthenticated;
  SendTagged(command, folder ? "OK CLOSE completed" : "BAD CLOSE nothing was selected");
  return CommandResult::Done;
}

CommandResult HandleExpunge(Command& command) {
  Ref<IImapFolder> folder(ProtocolOf(command.user).SelectedFolder.get());
  if (!MessagesOf(folder.get())) {
    SendTagged(command, "NO EXPUNGE folder not selected");
    return CommandResult::Done;
  }
  if (RemoveMarked(command, folder.get(), /*report=*/true) == CommandResult::Closed) {
    return CommandResult::Closed;
  }
  SendTagged(command, "OK EXPUNGE completed");
  return CommandResult::Done;
}

CommandResult RunUidExpunge(Command& command) {
  std::optional<SearchSet> uids = SearchSet::Parse(command.arguments);
  Ref<IImapFolder> folder(ProtocolOf(command.user).SelectedFolder.get());
  const store::ImapMessages* messages = MessagesOf(folder.get());
  if (!uids) {
    SendTagged(command, "BAD UID parse error");
    return CommandResult::Done;
  }
  if (!messages) {
    SendTagged(command, "NO EXPUNGE folder not selected");
    return CommandResult::Done;
  }
  std::optional<std::uint32_t> highest;
  for (std::size_t i = 0; i < messages->size(); ++i) {
    highest = std::max(highest.value_or(0), static_cast<std::uint32_t>(messages->at(i)->Uid()));
  }
  uids->Resolve(highest);
  if (RemoveMarked(command, folder.get(), /*report=*/true, &*uids) == CommandResult::Closed) {
    return CommandResult::Closed;
  }
  SendTagged(command, "OK EXPUNGE completed");
  return CommandResult::Done;
}

}  // namespace kivimap::imap
