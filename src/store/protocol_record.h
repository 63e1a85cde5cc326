// ProtocolRecord: the protocol engine's per-connection state, as a user holds it. The engine
// defines what it holds (src/imap/protocol_context.h); the store only owns it and lets it go
// with the user, so that the host's object model and the protocol's state stay apart.
#pragma once

namespace kivimap::store {

class ProtocolRecord {
 public:
  virtual ~ProtocolRecord() = default;
};

}  // namespace kivimap::store
