// UID: runs FETCH, STORE, COPY or SEARCH with UIDs in place of sequence numbers. The command name
// stays "UID", so a parse error inside any of them reads "BAD UID parse error".
#include <cstring>
#include <string>

#include "common/ascii.h"
#include "imap/commands.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

CommandResult HandleUid(Command& command) {
  std::string copy = command.arguments;
  std::size_t offsets[1];
  if (SplitArguments(copy.data(), offsets, 1) != 1) {
    SendTagged(command, "BAD UID parse error");
    return CommandResult::Done;
  }
  const std::string sub_command = AsciiLower(copy.data() + offsets[0]);
  std::size_t rest = std::min(offsets[0] + std::strlen(copy.data() + offsets[0]) + 1, copy.size());
  while (rest < copy.size() && copy[rest] == ' ') ++rest;
  command.arguments.erase(0, rest);

  if (sub_command == "fetch") return RunFetch(command, true);
  if (sub_command == "store") return RunStore(command, true);
  if (sub_command == "copy") return RunCopy(command, true);
  if (sub_command == "expunge" && command.server.ModernProtocol()) return RunUidExpunge(command);
  if (sub_command == "search") return RunSearch(command, true);
  // Silence would leave the client waiting for a completion forever.
  SendTagged(command, "BAD Command unrecognized");
  return CommandResult::Done;
}

}  // namespace kivimap::imap
