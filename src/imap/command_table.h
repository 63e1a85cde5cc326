// The table of commands: each name with the protocol states that accept it and its handler.
#pragma once

#include <cstdint>
#include <string_view>

#include "imap/command.h"
#include "imap/protocol_context.h"

namespace kivimap::imap {

// Bit sets of ImapProtocolStates.
inline constexpr std::uint32_t StateBit(ImapProtocolStates state) {
  return 1u << static_cast<std::uint32_t>(state);
}
inline constexpr std::uint32_t kNotAuthenticated = StateBit(ProtocolNotAuthenticated);
inline constexpr std::uint32_t kAuthenticated = StateBit(ProtocolAuthenticated);
inline constexpr std::uint32_t kSelected = StateBit(ProtocolSelected);
inline constexpr std::uint32_t kAnyState = kNotAuthenticated | kAuthenticated | kSelected;

struct CommandEntry {
  std::string_view name;
  std::uint32_t states;
  CommandHandler handler;  // null until the command is served: answered as unrecognized
};

// The handler for an upper-cased command name accepted in this state, or null.
CommandHandler FindCommand(std::string_view name, ImapProtocolStates state);

}  // namespace kivimap::imap
