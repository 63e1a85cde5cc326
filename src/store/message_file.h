// Whole-file operations on message files. Every file is opened for the one call and closed
// before it returns; bytes are read and written as they are, with no translation. Offsets are
// checked against the file's real length, so no range reads outside the file or the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivimap::store {

// A file descriptor that is closed when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd();
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int Release();

 private:
  int fd_ = -1;
};

// Opens a regular file for reading. Refuses names holding a NUL byte and anything that is not
// a regular file (a directory, a FIFO, a device), so that no read blocks or fails half-way.
UniqueFd OpenForReading(std::string_view path);
// Opens a regular file for writing, creating it readable and writable by the owner only when
// it does not exist, and emptying it when truncate is set.
UniqueFd OpenForWriting(std::string_view path, bool truncate);

// The file's length in bytes, or nothing when it cannot be opened.
std::optional<std::int64_t> FileLength(std::string_view path);

// The whole file, or nothing when it cannot be opened.
std::optional<std::string> ReadWholeFile(std::string_view path);

// The header block that starts at offset and ends before limit (an absolute offset; the message
// the block belongs to ends there): up to and including the line end of the last header line. The block ends at the first CR LF CR LF (the block keeps its first CR LF);
// failing that at the first CR CR, and failing that at the first LF LF (the block keeps the
// first CR or LF). The file is read in blocks of 32000 bytes and the search runs after each
// block over everything read so far, so which rule wins can depend on where a block ends.
// Nothing when the file cannot be opened or holds no such end before limit.
std::optional<std::string> ReadHeaderBlockFromFile(std::string_view path, std::int64_t offset,
                                                   std::int64_t limit);

// Reads up to count bytes from the absolute offset into buffer[0..count). Returns the number of
// bytes read: fewer when the file ends first, 0 for a negative offset, an offset at or beyond
// the end, a null buffer, or a file that cannot be opened.
std::size_t ReadFileRange(std::string_view path, char* buffer, std::int64_t offset,
                          std::size_t count);

// Writes all n bytes; false when a write fails.
bool WriteAll(int fd, const char* data, std::size_t n);

// Removes the file; false when it could not be removed.
bool DeleteFile(std::string_view path);

}  // namespace kivimap::store
