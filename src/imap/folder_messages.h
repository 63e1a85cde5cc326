// The message list of a folder as the engine walks it: the store's own collection, so that
// positions and counts are not limited by the 16-bit Count of the host interface; and the
// messages of the selected folder that a FETCH, STORE or COPY names.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "imap/command.h"
#include "kivimap/interfaces.h"
#include "store/folder.h"
#include "store/messages.h"

namespace kivimap::imap {

// Null when folder is null or not a folder of the store.
inline store::ImapMessages* MessagesOf(IImapFolder* folder) {
  store::ImapFolder* own = folder ? store::ImapFolder::FromInterface(folder) : nullptr;
  return own ? own->Messages() : nullptr;
}

// The work list of a message command: zero-based positions in the selected folder, in the
// order the set names them (repeats kept).
struct Selection {
  Ref<IImapFolder> folder;
  std::vector<std::uint32_t> positions;

  // The message at position now, or null when the host has taken messages away inside an
  // earlier event so that the position is past the end.
  store::ImapMessage* At(std::uint32_t position) const {
    const store::ImapMessages* messages = MessagesOf(folder.get());
    return messages && position < messages->size() ? messages->at(position) : nullptr;
  }
};

// Reads set_text (sequence numbers, or UIDs when by_uid) against the selected folder; nothing
// is selected while no folder is (or it has gone). False after answering
// "<tag> NO <command> too many messages" when the set names more messages than one command
// takes, or, at the modern protocol level (RFC 3501 sets), "<tag> BAD <command> parse error"
// for a malformed set.
bool SelectForCommand(Command& command, std::string_view set_text, bool by_uid,
                      Selection* selection);

}  // namespace kivimap::imap
