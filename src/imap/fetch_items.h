// The FETCH item list: macro expansion, the outer parentheses and the split into items; and
// the "[section]<partial>" that follows "BODY[" or "BODY.PEEK[" in an item.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kivimap::imap {

// Items beyond this many are ignored.
inline constexpr int kMaxFetchItems = 50;

// The items of a FETCH request, in request order, as the client wrote them (case kept).
//   - Macros: "(ALL)", "(FAST)" and "(FULL)" exactly as written here, and the bare words ALL,
//     FAST and FULL in any case (RFC 3501 6.4.5), expand to their items. "(all)" and
//     "(ALL FLAGS)" are not macros: they give the items "all", and "ALL" and "FLAGS".
//   - Outer parentheses: a text that begins with "(" loses every leading "(" and is cut at its
//     last ")" (which goes, with anything after it). Without such a ")" the list is empty:
//     "(FLAGS" gives nothing, "((FLAGS UID))" gives "FLAGS" and "UID)", "(FLAGS)x" gives
//     "FLAGS". A text without a leading "(" is split as it is.
//   - The split is SplitArguments': brackets and parentheses hold an item together, so
//     "BODY[HEADER.FIELDS (DATE FROM)]" is one item.
// A text of any length is read whole; it ends at its first NUL.
std::vector<std::string> ParseFetchItems(std::string_view item_text);

// Section parts beyond this many are ignored.
inline constexpr int kMaxSectionParts = 10;

struct BodySection {
  // The section text split with SplitArguments: none for the whole message, "HEADER",
  // "1.2.TEXT", or "HEADER.FIELDS" and its list "(DATE FROM)".
  std::vector<std::string> parts;
  // A "<start.length>" followed the closing bracket. Without a "." in it, start and length
  // keep their defaults.
  bool partial = false;
  std::uint32_t start = 0;
  std::uint32_t length = 0xFFFFFFFF;  // no limit
  // The text is RFC 3501 syntax after the section: a real "]" closes it and nothing follows
  // but an optional "<number.nz-number>". The other fields are filled either way; this tells
  // a caller that wants to refuse malformed items (ClassifySection) that it should.
  bool well_formed = false;
};

// Reads the text after "BODY[" or "BODY.PEEK[". The closing bracket is the last "]" after the
// first character; without one the first character takes its place (so "HEADER" with no "]"
// is the empty section). A "<" right after the closing bracket with a ">" somewhere after it
// makes the range between them the partial range; its numbers are read like message-set
// numbers (forgiving, modulo 2^32). The text ends at its first NUL.
BodySection ParseBodySection(std::string_view rest);

}  // namespace kivimap::imap
