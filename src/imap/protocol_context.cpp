#include "imap/protocol_context.h"

#include <algorithm>

namespace kivimap::imap {

void SaslExchange::Clear() {
  mechanism = SaslMechanism::None;
  tag.clear();
  username_received = false;
  std::fill(username.begin(), username.end(), '\0');
  std::string().swap(username);
}

ImapProtocolContext::~ImapProtocolContext() { Sasl.Clear(); }

ImapProtocolContext& ProtocolOf(store::ImapUser& user) {
  // Only the engine ever stores a record in a user, and only this type.
  if (store::ProtocolRecord* record = user.protocol_record()) {
    return static_cast<ImapProtocolContext&>(*record);
  }
  auto record = std::make_unique<ImapProtocolContext>();
  ImapProtocolContext& context = *record;
  user.set_protocol_record(std::move(record));
  return context;
}

}  // namespace kivimap::imap
