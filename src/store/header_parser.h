// The header block parser: one field per line, split at the first ": ", continuation lines
// recognised only by a leading tab, values kept with their folding.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "store/headers.h"
#include "store/line_reader.h"

namespace kivimap::store {

struct HeaderBlockResult {
  // The part's first line (cut at its line end), read only when it starts with its delimiter.
  std::optional<std::string> delimiter_line;
  // The offset of the first byte after the empty line that ends the block (the end of the file
  // when there is none). Nothing when the block began with a continuation line: such a block
  // is not parsed at all.
  std::optional<std::int64_t> body_start;
};

// Parses the header block that begins at the file's current position into fields. The block
// runs to its empty line or to the end of the file, whatever the message's own end.
HeaderBlockResult ParseHeaderBlock(FileReader& file, bool starts_with_delimiter,
                                   ImapMessageHeaders& fields);

}  // namespace kivimap::store
