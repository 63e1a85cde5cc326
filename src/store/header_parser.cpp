#include "store/header_parser.h"

namespace kivimap::store {

HeaderBlockResult ParseHeaderBlock(FileReader& file, bool starts_with_delimiter,
                                   ImapMessageHeaders& fields) {
  HeaderBlockResult result;
  std::string line;
  if (starts_with_delimiter) {
    file.ReadLine(&line);
    result.delimiter_line = std::string(CutAtLineEnd(line));
  }
  while (file.ReadLine(&line)) {
    const std::string_view text = CutAtLineEnd(line);
    if (text.empty()) break;
    if (text.front() == '\t') {
      ImapMessageHeader* previous = fields.back();
      if (!previous) return result;
      previous->AppendContinuation(text);
    } else {
      fields.AddHeaderLine(text);
    }
  }
  result.body_start = file.Position();
  return result;
}

}  // namespace kivimap::store
