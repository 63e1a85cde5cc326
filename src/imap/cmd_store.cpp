// STORE and UID STORE: add or remove system flags, tell the host of each change, and show the
// flags as they stand after the host's FlagChange.
#include <cstring>
#include <string>

#include "common/ascii.h"
#include "imap/commands.h"
#include "imap/flag_names.h"
#include "imap/folder_messages.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

CommandResult RunStore(Command& command, bool by_uid) {
  const auto parse_error = [&command] {
    SendTagged(command, "BAD " + command.name + " parse error");
    return CommandResult::Done;
  };
  std::size_t offsets[3];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 3) != 3) return parse_error();
  const char* item = text + offsets[1];
  enum class Change { Add, Remove, Replace };
  Change change;
  if (*item == '+' || *item == '-') {
    change = *item == '+' ? Change::Add : Change::Remove;
    ++item;
  } else if (command.server.ModernProtocol()) {
    change = Change::Replace;  // RFC 3501's "FLAGS (...)": the list becomes the flags
  } else {
    return parse_error();
  }
  const std::string mode = AsciiUpper(item);
  if (mode != "FLAGS" && mode != "FLAGS.SILENT") return parse_error();
  const bool silent = mode == "FLAGS.SILENT";

  Selection selection;
  if (!SelectForCommand(command, text + offsets[0], by_uid, &selection)) {
    return CommandResult::Done;
  }

  char* list = text + offsets[2];
  if (*list != '(') return parse_error();
  while (*list == '(') ++list;
  if (char* close = std::strchr(list, ')')) *close = '\0';
  std::size_t word_offsets[10];
  const int words = SplitArguments(list, word_offsets, 10);
  std::int32_t mask = 0;
  for (int i = 0; i < words; ++i) mask |= FlagBit(list + word_offsets[i]);

  store::ImapUser& user = command.user;
  for (const std::uint32_t position : selection.positions) {
    Ref<store::ImapMessage> message(selection.At(position));
    if (!message) continue;
    if (mask != 0 || change == Change::Replace) {
      const std::int32_t old_flags = message->Flags();
      const std::int32_t new_flags = change == Change::Add      ? (old_flags | mask)
                                     : change == Change::Remove ? (old_flags & ~mask)
                                                                : ((old_flags & ~kSystemFlags) | mask);
      message->SetFlags(new_flags);
      if (!command.server.FireFlagChange(user, selection.folder.get(), message.get(), new_flags,
                                         old_flags)) {
        return CommandResult::Closed;
      }
    }
    if (!silent) {
      std::string line = "* ";
      line.append(std::to_string(position + 1)).append(" FETCH (FLAGS (");
      line.append(FormatFlagList(message->Flags())).append("))\r\n");
      user.QueueResponse(line);
    }
  }
  SendTagged(command, "OK STORE completed");
  return CommandResult::Done;
}

CommandResult HandleStore(Command& command) { return RunStore(command, false); }

}  // namespace kivimap::imap
