// Reading message files byte for byte, the way the header parser, the body loader and the
// multipart split need them: by lines of bounded length, from any offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace kivimap::store {

// The longest piece of a line read at once. A longer line arrives as several pieces, each of
// which the readers treat as a line of its own (this is what message files have always been
// parsed with, and BodyStart and the part sizes depend on it).
inline constexpr std::size_t kMaxLinePiece = 16383;

// The line up to (not including) its first CR or LF.
std::string_view CutAtLineEnd(std::string_view line);

// Opens a regular file for reading. Anything else (a directory, a FIFO that would block, a
// device) is refused, as is a name holding a NUL byte.
class FileReader {
 public:
  FileReader();
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  bool Open(std::string_view path);
  bool is_open() const { return fd_ >= 0; }
  // The file's current length in bytes, or -1 when it is not open or cannot be measured.
  std::int64_t Length() const;

  // Moves to an absolute offset. A negative offset moves to 0: nothing lies before the file.
  void Seek(std::int64_t offset);
  // The offset of the next byte a read returns.
  std::int64_t Position() const { return position_; }

  // Reads the next line piece into *line: bytes up to and including the next LF, at most
  // kMaxLinePiece of them. False (and *line empty) when nothing is left or a read fails.
  bool ReadLine(std::string* line);

 private:
  bool Fill();

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t head_ = 0;  // next unread byte in buffer_
  std::size_t tail_ = 0;  // end of the valid bytes in buffer_
  std::int64_t position_ = 0;
};

}  // namespace kivimap::store
