#include "imap/command_table.h"

#include "imap/commands.h"

namespace kivimap::imap {

namespace {

constexpr std::uint32_t kAfterLogin = kAuthenticated | kSelected;

// Compared in this order.
constexpr CommandEntry kCommands[] = {
    {"LOGOUT", kAnyState, HandleLogout},
    {"CAPABILITY", kAnyState, HandleCapability},
    {"NOOP", kAnyState, HandleNoop},
    {"AUTHENTICATE", kNotAuthenticated, HandleAuthenticate},
    {"LOGIN", kNotAuthenticated, HandleLogin},
    {"SELECT", kAfterLogin, HandleSelect},
    {"EXAMINE", kAfterLogin, HandleExamine},
    {"CREATE", kAfterLogin, HandleCreate},
    {"DELETE", kAfterLogin, HandleDelete},
    {"RENAME", kAfterLogin, HandleRename},
    {"SUBSCRIBE", kAfterLogin, HandleSubscribe},
    {"UNSUBSCRIBE", kAfterLogin, HandleUnsubscribe},
    {"LIST", kAfterLogin, HandleList},
    {"LSUB", kAfterLogin, HandleLsub},
    {"STATUS", kAfterLogin, HandleStatus},
    {"APPEND", kAfterLogin, HandleAppend},
    {"CHECK", kSelected, HandleCheck},
    {"CLOSE", kSelected, HandleClose},
    {"EXPUNGE", kSelected, HandleExpunge},
    {"SEARCH", kSelected, HandleSearch},
    {"FETCH", kSelected, HandleFetch},
    {"STORE", kSelected, HandleStore},
    {"COPY", kSelected, HandleCopy},
    {"UID", kSelected, HandleUid},
#ifdef KIVIMAP_TEST_COMMANDS
    {"XSTREAM", kAnyState, HandleTestStream},
#endif
};

}  // namespace

CommandHandler FindCommand(std::string_view name, ImapProtocolStates state) {
  for (const CommandEntry& entry : kCommands) {
    if (entry.name != name) continue;
    return (entry.states & StateBit(state)) != 0 ? entry.handler : nullptr;
  }
  return nullptr;
}

}  // namespace kivimap::imap
