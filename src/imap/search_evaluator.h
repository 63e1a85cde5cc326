// Running a parsed SEARCH over the messages of a folder.
//
// Keys that look at flags, sequence numbers and UIDs use the message objects alone; the others
// read the message's file (its length, its header, its text). Before the first such read of a
// message, before_read runs once for it: the command fires ReadMessage there, so that the host
// can make the file available, and a search over flags alone fires nothing and reads nothing.
// An And tries its cheaper keys first and Or and And stop as soon as their answer is known, so
// a file is read only for the messages that the cheaper keys leave undecided.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "automation/dispatch_object.h"
#include "imap/search_key.h"
#include "store/message.h"

namespace kivimap::imap {

// False stops the search at once (the server or the user went away inside ReadMessage).
using BeforeRead = std::function<bool(store::ImapMessage& message)>;

// The messages that match root, in folder order (position + 1 is the sequence number): their
// sequence numbers, or their UIDs when by_uid, ascending and each once. Nothing when
// before_read stopped the search. Settles the sets in root for this folder. Work is linear in
// the number of messages (a set costs a binary search per message). May throw std::bad_alloc.
std::optional<std::vector<std::uint32_t>> SearchMessages(
    SearchKey& root, std::span<const Ref<store::ImapMessage>> messages, bool by_uid,
    const BeforeRead& before_read);

}  // namespace kivimap::imap
