// Building responses. Texts are formatted into a string that grows to fit, so that a long tag or
// goodbye text is sent whole, never cut and never written past a buffer.
#pragma once

#include <string>

namespace kivimap::imap {

std::string FormatResponse(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace kivimap::imap
