// AUTHENTICATE with the LOGIN and PLAIN mechanisms. The server judges no credentials: the
// exchange only collects a user name and a password and then logs in as LOGIN does.
#include <string>
#include <string_view>

#include "common/ascii.h"
#include "imap/commands.h"
#include "imap/login.h"
#include "imap/sasl.h"

namespace kivimap::imap {

namespace {

constexpr std::string_view kCommandName = "AUTHENTICATE";

// Finishes a PLAIN exchange with the decoded message.
bool FinishPlain(ServerContext& server, store::ImapUser& user, const std::string& tag,
                 std::string_view message) {
  const auto credentials = ParsePlainMessage(message);
  if (!credentials) {
    user.SendResponse(tag + " BAD AUTHENTICATE parse error\r\n");
    return true;
  }
  return CompleteLogin(server, user, tag, kCommandName, ToWide(credentials->username),
                       ToWide(credentials->password));
}

// The initial response on the command line; "=" stands for an empty one.
std::optional<std::string> DecodeInitialResponse(std::string_view text) {
  if (text == "=") return std::string();
  return DecodeBase64(text);
}

}  // namespace

bool HandleAuthenticate(Command& command) {
  store::ImapUser& user = command.user;
  if (!user.host()) return true;
  std::string_view arguments = command.arguments;
  const std::size_t end = std::min(arguments.find(' '), arguments.size());
  const std::string mechanism = AsciiUpper(arguments.substr(0, end));
  std::string_view initial = arguments.substr(std::min(end + 1, arguments.size()));
  initial = initial.substr(0, std::min(initial.find(' '), initial.size()));
  const bool has_initial = end < arguments.size() && !initial.empty();

  store::SaslExchange& sasl = user.context().Sasl;
  if (mechanism == "PLAIN") {
    if (has_initial) {
      const auto message = DecodeInitialResponse(initial);
      if (!message) {
        user.SendResponse(command.tag + " BAD AUTHENTICATE parse error\r\n");
        return true;
      }
      return FinishPlain(command.server, user, command.tag, *message);
    }
    sasl.mechanism = store::SaslMechanism::Plain;
    sasl.tag = command.tag;
    user.SendResponse(kEmptyChallenge);
    return true;
  }
  if (mechanism == "LOGIN") {
    sasl.mechanism = store::SaslMechanism::Login;
    sasl.tag = command.tag;
    if (has_initial) {
      const auto name = DecodeInitialResponse(initial);
      if (!name) {
        sasl.Clear();
        user.SendResponse(command.tag + " BAD AUTHENTICATE parse error\r\n");
        return true;
      }
      sasl.username = *name;
      sasl.username_received = true;
      user.SendResponse(kLoginPasswordChallenge);
      return true;
    }
    user.SendResponse(kLoginUsernameChallenge);
    return true;
  }
  user.SendResponse(command.tag + " NO AUTHENTICATE failed\r\n");
  return true;
}

bool ContinueAuthenticate(ServerContext& server, store::ImapUser& user, std::string_view line) {
  store::SaslExchange& sasl = user.context().Sasl;
  const std::string tag = sasl.tag;
  if (line == "*") {
    sasl.Clear();
    user.SendResponse(tag + " BAD AUTHENTICATE cancelled\r\n");
    return true;
  }
  const auto decoded = DecodeBase64(line);
  if (!decoded) {
    sasl.Clear();
    user.SendResponse(tag + " BAD AUTHENTICATE parse error\r\n");
    return true;
  }
  if (sasl.mechanism == store::SaslMechanism::Plain) {
    sasl.Clear();
    return FinishPlain(server, user, tag, *decoded);
  }
  if (!sasl.username_received) {
    sasl.username = *decoded;
    sasl.username_received = true;
    user.SendResponse(kLoginPasswordChallenge);
    return true;
  }
  const WideString username = ToWide(sasl.username);
  sasl.Clear();
  return CompleteLogin(server, user, tag, kCommandName, username, ToWide(*decoded));
}

}  // namespace kivimap::imap
