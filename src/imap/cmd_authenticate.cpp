// AUTHENTICATE with the LOGIN and PLAIN mechanisms. The server judges no credentials: the
// exchange only collects a user name and a password and then logs in as LOGIN does.
#include <optional>
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "imap/commands.h"
#include "imap/login.h"
#include "imap/sasl.h"

namespace kivimap::imap {

namespace {

constexpr std::string_view kCommandName = "AUTHENTICATE";

CommandResult ParseError(store::ImapUser& user, const std::string& tag) {
  user.SendResponse(tag + " BAD AUTHENTICATE parse error\r\n");
  return CommandResult::Done;
}

// A line cut at the framing limit lost its end: its base64 may still decode, to credentials that
// are not the client's.
bool LineWasCut(store::ImapUser& user) {
  const transport::CkivUserSocket* connection = user.connection();
  return connection && connection->line_was_cut();
}

// Finishes a PLAIN exchange with the decoded message.
CommandResult FinishPlain(ServerContext& server, store::ImapUser& user, const std::string& tag,
                          std::string_view message) {
  const auto credentials = ParsePlainMessage(message);
  if (!credentials) return ParseError(user, tag);
  return CompleteLogin(server, user, tag, kCommandName, ToWide(credentials->username),
                       ToWide(credentials->password));
}

// The initial response on the command line; "=" stands for an empty one.
std::optional<std::string> DecodeInitialResponse(std::string_view text) {
  if (text == "=") return std::string();
  return DecodeBase64(text);
}

}  // namespace

CommandResult HandleAuthenticate(Command& command) {
  store::ImapUser& user = command.user;
  if (!user.host()) return CommandResult::Done;
  std::string_view arguments = command.arguments;
  const std::size_t end = std::min(arguments.find(' '), arguments.size());
  const std::string mechanism = AsciiUpper(arguments.substr(0, end));
  std::string_view initial = arguments.substr(std::min(end + 1, arguments.size()));
  initial = initial.substr(0, std::min(initial.find(' '), initial.size()));
  const bool has_initial = end < arguments.size() && !initial.empty();

  SaslExchange& sasl = ProtocolOf(user).Sasl;
  if (has_initial && LineWasCut(user)) return ParseError(user, command.tag);
  if (mechanism == "PLAIN") {
    if (has_initial) {
      const auto message = DecodeInitialResponse(initial);
      if (!message) return ParseError(user, command.tag);
      return FinishPlain(command.server, user, command.tag, *message);
    }
    sasl.mechanism = SaslMechanism::Plain;
    sasl.tag = command.tag;
    user.SendResponse(kEmptyChallenge);
    return CommandResult::Done;
  }
  if (mechanism == "LOGIN") {
    sasl.mechanism = SaslMechanism::Login;
    sasl.tag = command.tag;
    if (has_initial) {
      const auto name = DecodeInitialResponse(initial);
      if (!name) {
        sasl.Clear();
        return ParseError(user, command.tag);
      }
      sasl.username = *name;
      sasl.username_received = true;
      user.SendResponse(kLoginPasswordChallenge);
      return CommandResult::Done;
    }
    user.SendResponse(kLoginUsernameChallenge);
    return CommandResult::Done;
  }
  user.SendResponse(command.tag + " NO AUTHENTICATE failed\r\n");
  return CommandResult::Done;
}

CommandResult ContinueAuthenticate(ServerContext& server, store::ImapUser& user,
                                   std::string_view line) {
  SaslExchange& sasl = ProtocolOf(user).Sasl;
  const std::string tag = sasl.tag;
  if (line == "*") {
    sasl.Clear();
    user.SendResponse(tag + " BAD AUTHENTICATE cancelled\r\n");
    return CommandResult::Done;
  }
  const auto decoded = LineWasCut(user) ? std::nullopt : DecodeBase64(line);
  if (!decoded) {
    sasl.Clear();
    return ParseError(user, tag);
  }
  if (sasl.mechanism == SaslMechanism::Plain) {
    sasl.Clear();
    return FinishPlain(server, user, tag, *decoded);
  }
  if (!sasl.username_received) {
    sasl.username = *decoded;
    sasl.username_received = true;
    user.SendResponse(kLoginPasswordChallenge);
    return CommandResult::Done;
  }
  const WideString username = ToWide(sasl.username);
  sasl.Clear();
  return CompleteLogin(server, user, tag, kCommandName, username, ToWide(*decoded));
}

}  // namespace kivimap::imap
