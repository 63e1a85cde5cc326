#include "imap/dispatcher.h"

#include <cstring>
#include <memory>
#include <string_view>
#include <utility>

#include "common/ascii.h"
#include "imap/command_table.h"
#include "imap/commands.h"

namespace kivimap::imap {

namespace {

constexpr char kNullCommand[] = "* BAD Null command\r\n";

std::string_view UpToNul(std::string_view text) {
  const void* nul = std::memchr(text.data(), '\0', text.size());
  return nul ? text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()))
             : text;
}

}  // namespace

CommandResult DispatchCommand(ServerContext& server, store::ImapUser& user, const char* bytes,
                              std::size_t length) {
  const std::string_view received(bytes, length);
  const bool log = server.DebugLogEnabled();
  // 8-bit text survives the trip to wide characters and back unchanged, so the log and a
  // command no sink can see are served from the received bytes themselves.
  if (log) server.DebugLog(received);

  const transport::CkivUserSocket* connection = user.connection();
  if (connection && connection->literal_remaining() != 0) {
    return AppendContinuation(server, user, bytes, length);
  }
  if (log) server.DebugLog("\r\n");
  if (!user.host()) return CommandResult::Closed;

  if (ProtocolOf(user).Sasl.pending()) return ContinueAuthenticate(server, user, received);

  if (!server.HasEventSinks()) return ExecuteCommandLine(server, user, std::string(received));
  WideString line = ToWide(received);
  if (!server.FireCommand(user, &line)) return CommandResult::Closed;
  return ExecuteCommandLine(server, user, std::string(UpToNul(line.ToNarrow())));
}

CommandResult ResumeCommand(ServerContext& server, store::ImapUser& user) {
  ImapProtocolContext& context = ProtocolOf(user);
  if (!context.Parked) return CommandResult::Done;
  // The command may end the connection, and with it this record: take it out first.
  std::unique_ptr<ParkedCommand> parked = std::move(context.Parked);
  automation::Liveness alive(&user);
  const CommandResult result = parked->Resume(server, user);
  if (result == CommandResult::Suspended && alive.alive() && user.connection()) {
    ProtocolOf(user).Parked = std::move(parked);
  }
  return result;
}

CommandResult ExecuteCommandLine(ServerContext& server, store::ImapUser& user, std::string line) {
  if (line.empty()) {
    user.SendResponse(kNullCommand);
    return CommandResult::Done;
  }
  const std::size_t tag_end = std::min(line.find(' '), line.size());
  if (tag_end == 0) {
    user.SendResponse(kNullCommand);
    return CommandResult::Done;
  }
  Command command{server, user, line.substr(0, tag_end), {}, {}};
  const std::size_t name_start = std::min(tag_end + 1, line.size());
  const std::size_t name_end = std::min(line.find(' ', name_start), line.size());
  if (name_end == name_start) {
    user.SendResponse(command.tag + " BAD Missing Command\r\n");
    return CommandResult::Done;
  }
  command.name = AsciiUpper(std::string_view(line).substr(name_start, name_end - name_start));
  if (name_end < line.size()) command.arguments = line.substr(name_end + 1);

  const CommandHandler handler = FindCommand(command.name, ProtocolOf(user).ProtocolState);
  if (!handler) {
    user.SendResponse(command.tag + " BAD Command unrecognized\r\n");
    return CommandResult::Done;
  }
  return handler(command);
}

}  // namespace kivimap::imap
