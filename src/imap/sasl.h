// The SASL pieces AUTHENTICATE needs: base64 of the client's responses, and the PLAIN message.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "imap/base64.h"

namespace kivimap::imap {

// The PLAIN mechanism's message (RFC 4616): authorization id, NUL, user name, NUL, password.
struct PlainCredentials {
  std::string authorization_id;
  std::string username;
  std::string password;
};
// Nothing unless the message holds exactly two NUL separators.
std::optional<PlainCredentials> ParsePlainMessage(std::string_view message);

// The two challenges of the LOGIN mechanism: "Username:" and "Password:" in base64.
inline constexpr char kLoginUsernameChallenge[] = "+ VXNlcm5hbWU6\r\n";
inline constexpr char kLoginPasswordChallenge[] = "+ UGFzc3dvcmQ6\r\n";
// The empty challenge that asks for the PLAIN message when it was not on the command line.
inline constexpr char kEmptyChallenge[] = "+ \r\n";

}  // namespace kivimap::imap
