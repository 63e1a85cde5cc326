// Temporary message files: the files a message creates for itself when it is written to (APPEND)
// without a file name of the host's. The message deletes its file when it ends or gets another
// file name.
#pragma once

#include <optional>
#include <string>

namespace kivimap::store {

// Every temporary message file's name begins with this.
inline constexpr char kTempFilePrefix[] = "IMAP";

// The directory for temporary files: $TMPDIR when it is set, absolute and at most 1024 bytes
// long, otherwise /tmp.
std::string TempDirectory();

// Creates a new, empty, uniquely named file (mode 0600) in TempDirectory() whose name begins
// with kTempFilePrefix, and returns its path; nothing when it cannot be created.
std::optional<std::string> CreateTempMessageFile();

}  // namespace kivimap::store
