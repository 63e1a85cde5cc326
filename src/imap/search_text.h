// The text SEARCH looks into: header fields with their encoded words decoded, and the text
// parts of a body with their transfer encoding undone and their charset brought to UTF-8.
//
// Which parts count as text: a part of type text/*, or one with no Content-Type (text/plain by
// default); the parts of a multipart, each on its own; and a message/rfc822 part's message,
// its header fields and its text parts. Other parts (images, applications) are not searched,
// as RFC 3501 (6.4.4) allows. A multipart body that cannot be split (its boundary is not
// quoted) is searched as it stands.
//
// Each function reads the message's file (its headers are parsed and kept by the message, a
// multipart is split into parts once), so the caller fires ReadMessage first. Bodies are read
// in pieces and decoded as they are read: memory stays bounded whatever their size.
#pragma once

#include <string_view>

#include "imap/search_finder.h"
#include "store/message.h"

namespace kivimap::imap {

// True when a field called field_name (compared without regard to case) contains the string.
// With several such fields, any one will do; with none the answer is false, also for "".
bool HeaderFieldContains(store::ImapMessage& message, std::string_view field_name,
                         TextFinder& finder);

// True when a header field, written "Name: value" with the value decoded, contains the string.
bool HeaderContains(store::ImapMessage& message, TextFinder& finder);

// True when a text part of the body contains the string.
bool BodyContains(store::ImapMessage& message, TextFinder& finder);

}  // namespace kivimap::imap
