// The protocol record every connection carries: where it stands in the IMAP state machine, what
// is selected, the exchanges that span several lines (APPEND literal, AUTHENTICATE), and a
// command parked until its output drains. The user holds it as a
// store::ProtocolRecord; ProtocolOf() gives it to the engine, made on first use.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/message.h"
#include "store/protocol_record.h"
#include "store/user.h"
#include "transport/user_socket.h"

namespace kivimap::imap {

class ServerContext;

enum ImapProtocolStates : std::int32_t {
  ProtocolNotAuthenticated = 0,
  ProtocolAuthenticated = 1,
  ProtocolSelected = 2,
};

using transport::CommandResult;

enum class SaslMechanism { None, Login, Plain };

// An AUTHENTICATE exchange waiting for the client's next response line.
struct SaslExchange {
  SaslMechanism mechanism = SaslMechanism::None;
  std::string tag;                 // of the AUTHENTICATE command, for its completion
  bool username_received = false;  // LOGIN: the first response is in, the password is next
  std::string username;            // LOGIN: the name received, kept until the password arrives

  bool pending() const { return mechanism != SaslMechanism::None; }
  // Ends the exchange; the name is wiped before its memory is given back.
  void Clear();
};

// A command that stopped producing output because the connection's queue reached its
// high-water mark. Resume runs when the queue is below the low mark again; it queues what fits
// and returns Suspended again, or finishes with the completion and returns Done.
class ParkedCommand {
 public:
  virtual ~ParkedCommand() = default;
  virtual CommandResult Resume(ServerContext& server, store::ImapUser& user) = 0;
};

struct ImapProtocolContext final : store::ProtocolRecord {
  ~ImapProtocolContext() override;

  ImapProtocolStates ProtocolState = ProtocolNotAuthenticated;
  // Non-owning links: the folder tree holds the folders and messages; they read as null once
  // their target is gone.
  automation::WeakRef<IImapFolder> SelectedFolder;
  // The APPEND whose literal is being received. The folder's Messages holds the message; the
  // links read as null if the host takes either away meanwhile.
  std::string AppendTag;  // empty while no APPEND literal is awaited
  automation::WeakRef<store::ImapMessage> AppendMessage;
  automation::WeakRef<IImapFolder> AppendFolder;
  bool AppendWriteFailed = false;  // a chunk could not be stored: the upload is answered NO
  SaslExchange Sasl;
  std::unique_ptr<ParkedCommand> Parked;
};

// The user's protocol record, made when the engine first needs it. Throws std::bad_alloc.
ImapProtocolContext& ProtocolOf(store::ImapUser& user);

}  // namespace kivimap::imap
