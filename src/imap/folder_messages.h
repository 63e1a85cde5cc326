// The message list of a folder as the engine walks it: the store's own collection, so that
// positions and counts are not limited by the 16-bit Count of the host interface.
#pragma once

#include "kivimap/interfaces.h"
#include "store/folder.h"
#include "store/messages.h"

namespace kivimap::imap {

// Null when folder is null or not a folder of the store.
inline store::ImapMessages* MessagesOf(IImapFolder* folder) {
  store::ImapFolder* own = folder ? store::ImapFolder::FromInterface(folder) : nullptr;
  return own ? own->Messages() : nullptr;
}

}  // namespace kivimap::imap
