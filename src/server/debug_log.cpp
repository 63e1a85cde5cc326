#include "server/debug_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace kivimap::server {

void AppendToDebugLog(const WideString& file, std::string_view text) {
  if (const void* nul = std::memchr(text.data(), '\0', text.size())) {
    text = text.substr(0, static_cast<std::size_t>(static_cast<const char*>(nul) - text.data()));
  }
  if (text.empty()) return;
  std::string name = file.ToNarrow();
  if (name.empty() || name.find('\0') != std::string::npos) return;
  const int fd = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return;
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  ::close(fd);
}

}  // namespace kivimap::server
