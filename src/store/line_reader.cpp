#include "store/line_reader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "store/message_file.h"

namespace kivimap::store {
namespace {
constexpr std::size_t kReadBuffer = 65536;
}  // namespace

std::string_view CutAtLineEnd(std::string_view line) {
  const std::size_t end = line.find_first_of("\r\n");
  return end == std::string_view::npos ? line : line.substr(0, end);
}

FileReader::FileReader() = default;

FileReader::~FileReader() {
  if (fd_ >= 0) ::close(fd_);
}

bool FileReader::Open(std::string_view path) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = OpenForReading(path).Release();
  head_ = tail_ = 0;
  position_ = 0;
  if (fd_ < 0) return false;
  if (!buffer_) buffer_.reset(new char[kReadBuffer]);
  return true;
}

std::int64_t FileReader::Length() const {
  struct stat st;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

void FileReader::Seek(std::int64_t offset) {
  if (offset < 0) offset = 0;
  head_ = tail_ = 0;
  position_ = offset;
}

bool FileReader::Fill() {
  if (fd_ < 0) return false;
  head_ = tail_ = 0;
  for (;;) {
    const ssize_t got = ::pread(fd_, buffer_.get(), kReadBuffer, static_cast<off_t>(position_));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    tail_ = static_cast<std::size_t>(got);
    return true;
  }
}

bool FileReader::ReadLine(std::string* line) {
  line->clear();
  while (line->size() < kMaxLinePiece) {
    if (head_ == tail_ && !Fill()) break;
    const std::size_t room = kMaxLinePiece - line->size();
    const std::size_t avail = std::min(tail_ - head_, room);
    const char* start = buffer_.get() + head_;
    const void* lf = std::memchr(start, '\n', avail);
    const std::size_t take =
        lf ? static_cast<std::size_t>(static_cast<const char*>(lf) - start) + 1 : avail;
    line->append(start, take);
    head_ += take;
    position_ += static_cast<std::int64_t>(take);
    if (lf) break;
  }
  return !line->empty();
}

}  // namespace kivimap::store
