#include "imap/imap_string.h"

namespace kivimap::imap {

void AppendImapString(std::string& out, std::string_view value) {
  if (value.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    out.append("{").append(std::to_string(value.size())).append("}\r\n").append(value);
    return;
  }
  out.push_back('"');
  for (const char c : value) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
}

void AppendNString(std::string& out, std::optional<std::string_view> value) {
  if (value) {
    AppendImapString(out, *value);
  } else {
    out.append("NIL");
  }
}

}  // namespace kivimap::imap
