#include "line_ends.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "log.h"

namespace kivimapd {

namespace {

// The number after `key` (",S=") in a unique part, up to the next ',' or the end.
std::optional<std::int64_t> NameField(std::string_view unique, std::string_view key) {
  const std::size_t at = unique.find(key);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view rest = unique.substr(at + key.size());
  std::int64_t value = 0;
  const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), value);
  if (ec != std::errc() || end == rest.data() || (end != rest.data() + rest.size() && *end != ','))
    return std::nullopt;
  return value;
}

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<bool> BareLfFromName(std::string_view unique, std::int64_t file_size) {
  const std::optional<std::int64_t> size = NameField(unique, ",S=");
  const std::optional<std::int64_t> crlf_size = NameField(unique, ",W=");
  if (!size || !crlf_size || *size != file_size || *crlf_size < *size) return std::nullopt;
  return *crlf_size > *size;
}

bool HasBareLf(std::string_view bytes) {
  for (std::size_t at = bytes.find('\n'); at != std::string_view::npos;
       at = bytes.find('\n', at + 1)) {
    if (at == 0 || bytes[at - 1] != '\r') return true;
  }
  return false;
}

bool LooksLikeBareLf(int fd) {
  char head[kLineEndProbeBytes];
  ssize_t n;
  do {
    n = ::pread(fd, head, sizeof head, 0);
  } while (n < 0 && errno == EINTR);
  return n > 0 && HasBareLf(std::string_view(head, static_cast<std::size_t>(n)));
}

bool CopyWithCrlf(int in, int out, std::int64_t* out_size, std::string* error) {
  char buffer[65536];
  std::string converted;
  converted.reserve(2 * sizeof buffer);
  bool after_cr = false;
  *out_size = 0;
  for (;;) {
    const ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      *error = "cannot read: " + ErrnoText(errno);
      return false;
    }
    if (n == 0) return true;
    converted.clear();
    for (ssize_t i = 0; i < n; ++i) {
      const char c = buffer[i];
      if (c == '\n' && !after_cr) converted.push_back('\r');
      converted.push_back(c);
      after_cr = c == '\r';
    }
    if (!WriteAll(out, converted.data(), converted.size())) {
      *error = "cannot write: " + ErrnoText(errno);
      return false;
    }
    *out_size += static_cast<std::int64_t>(converted.size());
  }
}

}  // namespace kivimapd
