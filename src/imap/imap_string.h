// IMAP strings (RFC 3501, 4.3 and 4.5) for the text the server writes into responses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivimap::imap {

// Appends value as one IMAP string: a literal ("{n}\r\n" and the bytes) when it holds CR, LF
// or NUL, which a quoted string cannot carry (a folded header field, for one); otherwise a
// quoted string in which '"' and '\' are escaped by a backslash. Other bytes, 8-bit ones
// included, go between the quotes as they are.
void AppendImapString(std::string& out, std::string_view value);

// Appends NIL for an absent value, else value as AppendImapString writes it.
void AppendNString(std::string& out, std::optional<std::string_view> value);

}  // namespace kivimap::imap
