#include "store/temp_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>
#include <vector>

namespace kivimap::store {
namespace {
constexpr std::size_t kMaxTempDirectory = 1024;
}  // namespace

std::string TempDirectory() {
  const char* env = std::getenv("TMPDIR");
  if (env != nullptr) {
    std::string_view dir(env);
    while (dir.size() > 1 && dir.back() == '/') dir.remove_suffix(1);
    if (!dir.empty() && dir.front() == '/' && dir.size() <= kMaxTempDirectory) {
      return std::string(dir);
    }
  }
  return "/tmp";
}

std::optional<std::string> CreateTempMessageFile() {
  std::string dir = TempDirectory();
  std::string name = dir == "/" ? std::string() : dir;
  name += '/';
  name += kTempFilePrefix;
  name += "XXXXXX";
  std::vector<char> pattern(name.begin(), name.end());
  pattern.push_back('\0');
  const int fd = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return std::string(pattern.data());
}

}  // namespace kivimap::store
