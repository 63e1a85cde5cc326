// Reading the MIME fields that say how a body is written: the media type and the parameters of
// a Content-Type value (RFC 2045, 5.1), as SEARCH needs them to pick and decode text parts.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivimap::imap {

// The type and subtype of a Content-Type value, lower-cased ("text", "plain"). Blanks, line
// ends and comments around them are skipped; a value with no "/" gives an empty subtype, and
// an empty or missing value gives two empty strings.
struct MediaType {
  std::string type;
  std::string subtype;
};
MediaType MediaTypeOf(std::string_view content_type);

// The value of the parameter called name (compared without regard to case) in a Content-Type
// value: a token, or a quoted string without its quotes and with its quoted pairs undone. The
// parameters follow the media type, each after a ";"; the first one of that name wins.
std::optional<std::string> MimeParameter(std::string_view content_type, std::string_view name);

}  // namespace kivimap::imap
