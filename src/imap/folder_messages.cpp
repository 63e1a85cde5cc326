#include "imap/folder_messages.h"

#include <algorithm>
#include <optional>
#include <string>

#include "imap/message_set.h"
#include "imap/search_set.h"

namespace kivimap::imap {

namespace {

// An RFC 3501 set (the modern level): each message it names once, in folder order. False for a
// malformed set.
bool SelectRfcSet(std::string_view set_text, bool by_uid, const store::ImapMessages& messages,
                  std::vector<std::uint32_t>* positions) {
  std::optional<SearchSet> set = SearchSet::Parse(set_text);
  if (!set) return false;
  std::optional<std::uint32_t> highest;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto number = by_uid ? static_cast<std::uint32_t>(messages.at(i)->Uid())
                               : static_cast<std::uint32_t>(i + 1);
    highest = std::max(highest.value_or(0), number);
  }
  set->Resolve(highest);
  for (std::size_t i = 0; i < messages.size(); ++i) {
    const auto number = by_uid ? static_cast<std::uint32_t>(messages.at(i)->Uid())
                               : static_cast<std::uint32_t>(i + 1);
    if (set->Contains(number)) positions->push_back(static_cast<std::uint32_t>(i));
  }
  return true;
}

}  // namespace

bool SelectForCommand(Command& command, std::string_view set_text, bool by_uid,
                      Selection* selection) {
  selection->folder = Ref<IImapFolder>(ProtocolOf(command.user).SelectedFolder.get());
  selection->positions.clear();
  const store::ImapMessages* messages = MessagesOf(selection->folder.get());
  if (command.server.ModernProtocol()) {
    if (!messages || SelectRfcSet(set_text, by_uid, *messages, &selection->positions)) return true;
    SendTagged(command, "BAD " + command.name + " parse error");
    return false;
  }
  if (!messages ||
      ParseMessageSet(set_text, by_uid, *messages, &selection->positions) == MessageSetResult::Ok) {
    return true;
  }
  SendTagged(command, "NO " + command.name + " too many messages");
  return false;
}

}  // namespace kivimap::imap
