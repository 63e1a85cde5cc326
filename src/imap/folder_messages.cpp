#include "imap/folder_messages.h"

#include "imap/message_set.h"

namespace kivimap::imap {

bool SelectMessages(std::string_view set_text, bool by_uid, const store::ImapMessages* messages,
                    std::vector<std::uint32_t>* work_list) {
  work_list->clear();
  if (!messages) return true;
  return ParseMessageSet(set_text, by_uid, *messages, work_list) == MessageSetResult::Ok;
}

}  // namespace kivimap::imap
