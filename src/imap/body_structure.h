// The BODY / BODYSTRUCTURE of a message (RFC 3501, 7.4.2), built from the header fields of the
// message and of its MIME parts and from the counts the multipart split keeps.
//
// This is the plain structure the server has always sent: no extension data, parameters only
// from tab-led continuation lines of Content-Type, the type as the field writes it and the
// subtype as the run of letters and "-" after the "/". Every string is a valid IMAP string
// (AppendImapString).
#pragma once

#include <string>
#include <string_view>

#include "store/message.h"

namespace kivimap::imap {

// Appends the parameter list of a Content-Type value and one space: "(" key value ... ") ".
// A parameter is found only after a tab, that is on a continuation line (the folded form
// "text/plain;\r\n\tcharset=us-ascii"); one written on the first line is not listed. It runs
// from the tab to its ";", its line end or the next tab, blanks around key and value dropped;
// a value in double quotes is its content (which may hold ";", "=" or a quoted pair), without
// the quotes. A segment without "=" or without a key is no
// parameter. With none the list is "() ".
void BuildParameterList(std::string& out, std::string_view content_type);

// Appends the structure of message: a multipart one lists its parts' structures and its
// subtype; a single part gives type, subtype, parameters, Content-ID, Content-Description,
// Content-Transfer-Encoding ("7BIT" when missing) and its size, and for a text type its line
// count. A MIME part reports the size and line count the split counted for it; a message that
// is not a part reports its body's. Reads headers and splits parts on first use; may throw
// std::bad_alloc.
void BuildBodyStructure(std::string& out, store::ImapMessage& message);

}  // namespace kivimap::imap
