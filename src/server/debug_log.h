// The debug log: the raw conversation with every client, appended to the file the host names.
#pragma once

#include <string_view>

#include "kivimap/wide_string.h"

namespace kivimap::server {

inline constexpr char kDebugSessionStart[] = "----------- NEW SESSION STARTED ------------\r\n";

// Appends text up to its first NUL to the file (created when missing, readable and writable by
// its owner). The file is opened for this write and closed right after it; a file that cannot
// be opened or written is ignored.
void AppendToDebugLog(const WideString& file, std::string_view text);

}  // namespace kivimap::server
