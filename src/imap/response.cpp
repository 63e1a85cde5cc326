#include "imap/response.h"

#include <cstdarg>
#include <cstdio>

namespace kivimap::imap {

std::string FormatResponse(const char* format, ...) {
  std::string out(256, '\0');
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(out.data(), out.size() + 1, format, args);
  va_end(args);
  if (needed < 0) {
    va_end(again);
    return std::string();
  }
  if (static_cast<std::size_t>(needed) > out.size()) {
    out.assign(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(out.data(), out.size() + 1, format, again);
  }
  va_end(again);
  out.resize(static_cast<std::size_t>(needed));
  return out;
}

}  // namespace kivimap::imap
