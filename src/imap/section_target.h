// What a BODY[...] section asks for, checked against the RFC 3501 grammar (6.4.5, 9):
//   the section = section-msgtext / (section-part ["." section-text])
//   section-msgtext = "HEADER" / "HEADER.FIELDS" [".NOT"] SP header-list / "TEXT"
//   section-text = section-msgtext / "MIME"
// Keywords ignore case. The classification is syntax only: whether part 1 exists, or is a
// message/rfc822 part that has a HEADER of its own, is for FETCH to find out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "imap/fetch_items.h"

namespace kivimap::imap {

enum class SectionKind {
  Whole,            // "" (the message) or a part path alone ("1.2": that part's body)
  Header,           // HEADER
  HeaderFields,     // HEADER.FIELDS (names)
  HeaderFieldsNot,  // HEADER.FIELDS.NOT (names)
  Text,             // TEXT
  Mime,             // MIME, only after a part path
  Invalid,          // anything else: FETCH answers BAD
};

struct SectionTarget {
  SectionKind kind = SectionKind::Invalid;
  // The part numbers before the keyword: "1.2.MIME" gives {1, 2}; empty for the message.
  std::vector<std::uint32_t> part_path;
  // HEADER.FIELDS[.NOT]: the names in request order, letter case as requested.
  std::vector<std::string> field_names;
  // The section as the response names it between "BODY[" and "]": keywords upper-cased, the
  // field names as requested and single-spaced, e.g. "1.HEADER.FIELDS (Date From)".
  std::string text;
};

// Invalid for a section that is not well formed (BodySection::well_formed), for an unknown
// keyword, a part number that is 0, has a leading zero or passes 32 bits, an empty or
// malformed field list, a field name that holds anything but printable ASCII other than
// '(', ')', '"', '\' and ':', MIME without a part path, and parts beyond those the keyword takes
// ("HEADER TEXT").
SectionTarget ClassifySection(const BodySection& section);

}  // namespace kivimap::imap
