// Header field text as a reader sees it: unfolded, with RFC 2047 encoded words decoded.
#pragma once

#include <string>
#include <string_view>

namespace kivimap::imap {

// The value of a header field as UTF-8 text (where its charsets allow, see charset.h):
//   - folding is undone: every CR and LF goes, the blank that follows stays;
//   - each well-formed encoded word ("=?charset?B?...?=" or "=?charset?Q?...?=", a language
//     after "*" in the charset allowed) becomes the text it encodes, and white space between two
//     encoded words goes, as RFC 2047 (6.2) asks. Words are recognised wherever they stand, also
//     inside quotes or next to other text, as mail readers do;
//   - a word that does not decode (bad base64, an unknown encoding) stays as it is written;
//   - raw text that is not UTF-8 is taken to be Windows-1252, the usual 8-bit header text.
std::string DecodeHeaderText(std::string_view raw);

}  // namespace kivimap::imap
