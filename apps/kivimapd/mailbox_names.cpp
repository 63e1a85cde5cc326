#include "mailbox_names.h"

#include <algorithm>

namespace kivimapd {

namespace {

// A directory entry is at most 255 bytes on the file systems a Maildir lives on.
constexpr std::size_t kMaxEntry = 255;
constexpr std::size_t kMaxNewLevel = 200;
constexpr std::size_t kMaxUserName = 64;

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool IsSafeUserName(std::string_view name) {
  if (name.empty() || name.size() > kMaxUserName || name.front() == '.') return false;
  for (const char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '.' || c == '_' || c == '@' || c == '+' || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::string LevelProblem(std::string_view level) {
  if (level.empty()) return "an empty name";
  for (const char c : level) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '.') return "a name with \".\" (the separator on disk)";
    if (c == '/') return "a name with \"/\"";
    if (u < 0x20 || u == 0x7f) return "a name with a control character";
  }
  return {};
}

std::string NewLevelProblem(std::string_view level) {
  std::string problem = LevelProblem(level);
  if (!problem.empty()) return problem;
  if (level.size() > kMaxNewLevel) return "a name longer than 200 bytes";
  for (const char c : level) {
    if (static_cast<unsigned char>(c) >= 0x80) return "a name with 8-bit bytes";
  }
  return {};
}

bool IsInboxName(std::string_view level) { return SameNameIgnoringCase(level, kInbox); }

std::optional<Levels> LevelsOfPath(std::string_view path) {
  if (path.empty() || path.front() != '/') return std::nullopt;
  Levels levels;
  std::size_t start = 1;
  for (;;) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    std::string_view level = path.substr(start, end - start);
    if (!LevelProblem(level).empty()) return std::nullopt;
    levels.emplace_back(level);
    if (end == path.size()) break;
    start = end + 1;
  }
  return levels;
}

std::optional<std::string> FolderDirectoryName(const Levels& levels) {
  if (levels.empty()) return std::nullopt;
  for (const std::string& level : levels) {
    if (!LevelProblem(level).empty()) return std::nullopt;
  }
  if (levels.size() == 1 && levels[0] == kInbox) return std::string();
  std::string name;
  for (const std::string& level : levels) name.append(".").append(level);
  if (name.size() > kMaxEntry) return std::nullopt;
  return name;
}

std::optional<Levels> LevelsOfDirectoryName(std::string_view entry) {
  if (entry.size() < 2 || entry[0] != '.' || entry[1] == '.') return std::nullopt;
  Levels levels;
  std::size_t start = 1;
  for (;;) {
    const std::size_t end = std::min(entry.find('.', start), entry.size());
    const std::string_view level = entry.substr(start, end - start);
    if (!LevelProblem(level).empty()) return std::nullopt;
    levels.emplace_back(level);
    if (end == entry.size()) break;
    start = end + 1;
  }
  return levels;
}

std::string JoinLevels(const Levels& levels) {
  std::string text;
  for (const std::string& level : levels) {
    if (!text.empty()) text.push_back('/');
    text.append(level);
  }
  return text;
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

}  // namespace kivimapd
