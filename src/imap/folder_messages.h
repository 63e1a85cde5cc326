// The message list of a folder as the engine walks it: the store's own collection, so that
// positions and counts are not limited by the 16-bit Count of the host interface.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "kivimap/interfaces.h"
#include "store/folder.h"
#include "store/messages.h"

namespace kivimap::imap {

// Null when folder is null or not a folder of the store.
inline store::ImapMessages* MessagesOf(IImapFolder* folder) {
  store::ImapFolder* own = folder ? store::ImapFolder::FromInterface(folder) : nullptr;
  return own ? own->Messages() : nullptr;
}

// Fills *work_list with the positions set_text names in messages (nothing when messages is
// null: no folder is selected, or it has gone). False, with the list empty, when the set names
// more messages than one command takes.
bool SelectMessages(std::string_view set_text, bool by_uid, const store::ImapMessages* messages,
                    std::vector<std::uint32_t>* work_list);

}  // namespace kivimap::imap
