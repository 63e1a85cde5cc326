// The debug log: the raw conversation with every client, appended to the file the host names.
#pragma once

#include <chrono>
#include <cstddef>
#include <string_view>

#include "kivimap/wide_string.h"

namespace kivimap::server {

inline constexpr char kDebugSessionStart[] = "----------- NEW SESSION STARTED ------------\r\n";

// Bytes of one file that may wait for a slow reader or disk; what comes beyond them is dropped,
// and a line saying how much is written once the file has caught up.
inline constexpr std::size_t kDebugBacklogLimit = std::size_t{8} << 20;

// Appends text up to its first NUL to the file (created when missing, readable and writable by
// its owner only). A file that cannot be opened or written is ignored.
//
// Never blocks the calling loop on the file: a process-wide writer thread owns the descriptors
// (opened non-blocking, kept open per name, opened again when the name points to another file)
// and does the writes. The caller waits for its bytes while the writer is getting on with them,
// so that with a file on a working disk they are in the file when this returns. When the file
// stalls (a FIFO nobody reads, a disk that does not answer) the caller stops waiting after a few
// milliseconds, and later calls only queue, up to kDebugBacklogLimit, until the file has caught
// up. Thread-safe; never throws.
void AppendToDebugLog(const WideString& file, std::string_view text) noexcept;

// Waits until everything queued so far is written or discarded, at most `limit`. Returns whether
// nothing is left. Runs with a short limit at process exit; tests use it to wait for a reader.
bool FlushDebugLog(std::chrono::milliseconds limit) noexcept;

}  // namespace kivimap::server
