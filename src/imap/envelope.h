// The ENVELOPE of a message (RFC 3501, 7.4.2), built from its header fields alone.
//
// This is the plain envelope the server has always sent: Sender and Reply-To repeat From, Bcc
// and In-Reply-To are NIL, a missing Message-ID reads "<?>", and each address field yields
// exactly one address whatever it lists. Every value is written as a valid IMAP string
// (AppendImapString), so a folded field goes out as a literal and quotes and backslashes in a
// value are escaped.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "store/message.h"

namespace kivimap::imap {

// The pieces of one address as ParseAddress finds them; each views into the text parsed.
struct ParsedAddress {
  std::optional<std::string_view> name;
  std::optional<std::string_view> mailbox;
  std::optional<std::string_view> host;
};

// Reads one address out of a field value, in this order:
// - the name is the text between the first two double quotes, if there are two;
// - with a "<": when a ">" follows it, the text is cut at that ">", and an "@" between the two
//   gives the mailbox (from "<" to that "@") and the host (from there to the cut); without ">"
//   there is no mailbox or host;
// - without "<" and without a name: the mailbox is the text before the first "@" and the host
//   all that follows it;
// - when neither a non-empty name nor a non-empty mailbox came out, the name is the whole text
//   (as cut at ">").
// So 'Ann <ann@h>' has no name, '"Ann" ann@h' no address, 'ann@h (Ann)' the host "h (Ann)".
ParsedAddress ParseAddress(std::string_view text);

// Appends the inside of a one-address list for a field value: name, route (always NIL),
// mailbox and host, each NIL when absent or empty.
void BuildAddress(std::string& out, std::string_view field_value);

// Appends the envelope: "(" date subject from sender reply-to to cc bcc in-reply-to message-id
// ")". A message whose header fields cannot be read (no file) gives "()". Reads the header
// block on first use; may throw std::bad_alloc.
void BuildEnvelope(std::string& out, store::ImapMessage& message);

}  // namespace kivimap::imap
