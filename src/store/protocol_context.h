// The protocol record every user carries: where the connection stands in the IMAP state machine,
// what is selected, and the exchanges (APPEND literal, AUTHENTICATE) that span several lines.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"

namespace kivimap::store {

enum ImapProtocolStates : std::int32_t {
  ProtocolNotAuthenticated = 0,
  ProtocolAuthenticated = 1,
  ProtocolSelected = 2,
};

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

struct ImapProtocolContext {
  ImapProtocolStates ProtocolState = ProtocolNotAuthenticated;
  // Non-owning links: the folder tree holds the folders and messages; they read as null once
  // their target is gone.
  automation::WeakRef<IImapFolder> SelectedFolder;
  WideString AppendTag;  // empty while no APPEND literal is awaited
  automation::WeakRef<IImapMessage> AppendMessage;
  automation::WeakRef<IImapFolder> AppendFolder;
  // Zero-based positions in the selected folder's messages, taken from the front.
  std::deque<std::uint32_t> MessageWorkList;
  SaslExchange Sasl;
};

}  // namespace kivimap::store
