// Line ends of message files. Clients are owed CRLF line ends and sizes counted with them, but
// delivery agents on Linux write bare LF: such a file is served from a copy with CRLF.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivimapd {

// How much of a file's head LooksLikeBareLf reads.
inline constexpr std::size_t kLineEndProbeBytes = 8192;

// The verdict a Maildir file name carries, or nothing when it carries none. Dovecot writes
// ",S=<size>" (the size on disk) and ",W=<size>" (the size with CRLF line ends) into the unique
// part; when S matches the file's size, W tells whether the file has bare LFs.
std::optional<bool> BareLfFromName(std::string_view unique, std::int64_t file_size);

// True when the bytes hold an LF without a CR before it. The head of a message decides for the
// whole file: delivery agents write a message with one kind of line end throughout.
bool HasBareLf(std::string_view bytes);

// Reads up to kLineEndProbeBytes from the start of an open file and applies HasBareLf; false
// when nothing can be read.
bool LooksLikeBareLf(int fd);

// Writes the bytes of `in` to `out` with every bare LF preceded by a CR (a lone CR and CR LF
// stay as they are). The written size in *out_size. False with *error on a read or write error.
bool CopyWithCrlf(int in, int out, std::int64_t* out_size, std::string* error);

}  // namespace kivimapd
