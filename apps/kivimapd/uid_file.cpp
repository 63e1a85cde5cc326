#include "uid_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <ctime>
#include <set>
#include <string_view>

#include "log.h"

namespace kivimapd {

namespace {

constexpr std::string_view kHeader = "kivimapd-uidlist 1 ";
constexpr std::size_t kMaxListBytes = 64u << 20;

// A decimal number in [low, high] that fills the whole text.
std::optional<std::uint64_t> Number(std::string_view text, std::uint64_t low, std::uint64_t high) {
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty() || value < low ||
      value > high) {
    return std::nullopt;
  }
  return value;
}

bool UsableName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '/' || u < 0x20 || u == 0x7f) return false;
  }
  return true;
}

bool ParseUidList(std::string_view text, std::uint32_t* uid_validity, std::uint32_t* next_uid,
                  std::map<std::string, std::uint32_t>* entries, std::string* problem) {
  std::size_t line_end = text.find('\n');
  if (line_end == std::string_view::npos || !text.starts_with(kHeader)) {
    *problem = "no header line";
    return false;
  }
  const std::string_view header = text.substr(kHeader.size(), line_end - kHeader.size());
  const std::size_t space = header.find(' ');
  const auto validity =
      space == std::string_view::npos ? std::nullopt : Number(header.substr(0, space), 1, kMaxUid);
  const auto next = space == std::string_view::npos
                        ? std::nullopt
                        : Number(header.substr(space + 1), 1, std::uint64_t{kMaxUid} + 1);
  if (!validity || !next) {
    *problem = "a bad header line";
    return false;
  }
  std::set<std::uint64_t> uids;
  std::size_t line_number = 1;
  for (std::size_t start = line_end + 1; start < text.size(); start = line_end + 1) {
    ++line_number;
    line_end = text.find('\n', start);
    if (line_end == std::string_view::npos) {
      *problem = "a last line without its line end";
      return false;
    }
    const std::string_view line = text.substr(start, line_end - start);
    const std::size_t gap = line.find(' ');
    const auto uid =
        gap == std::string_view::npos ? std::nullopt : Number(line.substr(0, gap), 1, *next - 1);
    const std::string_view name =
        gap == std::string_view::npos ? std::string_view() : line.substr(gap + 1);
    if (!uid || !UsableName(name) || !uids.insert(*uid).second ||
        !entries->emplace(std::string(name), static_cast<std::uint32_t>(*uid)).second) {
      *problem = "a bad line " + std::to_string(line_number);
      return false;
    }
  }
  *uid_validity = static_cast<std::uint32_t>(*validity);
  *next_uid = static_cast<std::uint32_t>(*next);
  return true;
}

}  // namespace

std::optional<std::uint32_t> NewUidValidity(const std::string& user_root, std::string* error) {
  const std::string path = user_root + "/" + kUidValidityName;
  FileLock lock = FileLock::Acquire(path + ".lock", error);
  if (!lock.held()) return std::nullopt;
  std::uint64_t last = 0;
  bool missing = false;
  std::string read_error;
  if (const auto text = ReadSmallFile(path, 64, &missing, &read_error)) {
    std::string_view digits = *text;
    while (!digits.empty() && (digits.back() == '\n' || digits.back() == '\r')) {
      digits.remove_suffix(1);
    }
    if (const auto value = Number(digits, 1, kMaxUid)) {
      last = *value;
    } else {
      LogWarning("UIDVALIDITY counter " + Printable(path) + " is damaged; the clock stands for it");
    }
  } else if (!missing) {
    LogWarning(read_error + "; the clock stands for the UIDVALIDITY counter");
  }
  const auto now = static_cast<std::uint64_t>(std::max<std::time_t>(std::time(nullptr), 1));
  std::uint64_t value = std::max(now, last + 1);
  if (value > kMaxUid) value = 1 + (value % kMaxUid);  // past 2038: wraps, still moves on
  if (!ReplaceFile(path, std::to_string(value) + "\n", 0600, error)) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

std::optional<UidList> UidList::Open(const std::string& folder_dir, const std::string& user_root,
                                     std::string* error) {
  UidList list;
  list.path_ = folder_dir + "/" + kUidListName;
  list.user_root_ = user_root;
  list.lock_ = FileLock::Acquire(list.path_ + ".lock", error);
  if (!list.lock_.held()) return std::nullopt;

  bool missing = false;
  std::string read_error;
  const auto text = ReadSmallFile(list.path_, kMaxListBytes, &missing, &read_error);
  std::string problem;
  if (text && ParseUidList(*text, &list.uid_validity_, &list.next_uid_, &list.entries_, &problem)) {
    return list;
  }
  if (!missing) {
    if (text) {
      LogError("UID list " + Printable(list.path_) + " is corrupt (" + problem +
               "); kept as kivimapd-uidlist.corrupt, the folder gets a new UIDVALIDITY");
      const std::string aside = folder_dir + "/" + kUidListName + ".corrupt";
      if (::rename(list.path_.c_str(), aside.c_str()) != 0) {
        LogWarning("cannot keep " + Printable(aside) + ": " + ErrnoText(errno));
      }
    } else {
      LogError(read_error + "; the folder gets a new UID list and UIDVALIDITY");
    }
  }
  list.entries_.clear();
  if (!list.StartOver(error)) return std::nullopt;
  return list;
}

bool UidList::StartOver(std::string* error) {
  const auto validity = NewUidValidity(user_root_, error);
  if (!validity) return false;
  uid_validity_ = *validity;
  next_uid_ = 1;
  entries_.clear();
  changed_ = true;
  return true;
}

bool UidList::Sync(const std::vector<std::string>& names_on_disk, std::string* error) {
  const std::set<std::string_view> present(names_on_disk.begin(), names_on_disk.end());
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (present.count(it->first) == 0) {
      it = entries_.erase(it);
      changed_ = true;
    } else {
      ++it;
    }
  }
  std::vector<const std::string*> fresh;
  for (const std::string& name : names_on_disk) {
    if (entries_.count(name) == 0) fresh.push_back(&name);
  }
  if (fresh.empty()) return true;
  if (fresh.size() > std::uint64_t{kMaxUid} + 1 - next_uid_) {
    LogWarning("UIDs of " + Printable(path_) + " are used up; the folder is numbered anew");
    if (!StartOver(error)) return false;
    fresh.clear();
    for (const std::string& name : names_on_disk) fresh.push_back(&name);
  }
  for (const std::string* name : fresh) {
    if (!entries_.emplace(*name, next_uid_).second) continue;  // a name given twice
    ++next_uid_;
  }
  changed_ = true;
  return true;
}

std::optional<std::uint32_t> UidList::Reserve() {
  if (next_uid_ > kMaxUid) return std::nullopt;
  changed_ = true;
  return next_uid_++;
}

void UidList::Add(std::uint32_t uid, const std::string& name) {
  entries_[name] = uid;
  changed_ = true;
}

bool UidList::Save(std::string* error) {
  if (!changed_) return true;
  std::vector<std::pair<std::uint32_t, const std::string*>> lines;
  lines.reserve(entries_.size());
  for (const auto& [name, uid] : entries_) lines.emplace_back(uid, &name);
  std::sort(lines.begin(), lines.end());
  std::string text(kHeader);
  text.append(std::to_string(uid_validity_)).append(" ").append(std::to_string(next_uid_));
  text.push_back('\n');
  for (const auto& [uid, name] : lines) {
    text.append(std::to_string(uid)).append(" ").append(*name).push_back('\n');
  }
  if (!ReplaceFile(path_, text, 0600, error)) return false;
  changed_ = false;
  return true;
}

}  // namespace kivimapd
