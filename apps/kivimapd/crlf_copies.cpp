#include "crlf_copies.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <unordered_map>
#include <utility>

#include "line_ends.h"
#include "log.h"

namespace kivimapd {

namespace {

// A copy must stay within the server's 32-bit file offsets; a larger source is served as it is.
constexpr std::int64_t kMaxSourceSize = std::int64_t{1} << 30;
// Copies made this long before a Sweep's listing began may still be in use by a listing that
// began before it (the file system's clock is coarse).
constexpr time_t kSweepMargin = 2;
constexpr std::size_t kMaxEntryName = 255;
constexpr std::size_t kMaxVerdicts = 500000;
constexpr std::string_view kUnfinishedPrefix = ".tmp.";

// Whether a source has bare LFs, by folder, unique part, size and mtime: Maildir files never
// change, so the answer holds while those do.
std::unordered_map<std::string, bool>& Verdicts() {
  static std::unordered_map<std::string, bool> verdicts;
  return verdicts;
}

std::string KeyOf(const MessageFile& file, const struct stat& st) {
  std::string key = file.unique;
  key.append(":").append(std::to_string(st.st_size));
  key.append(":").append(std::to_string(st.st_mtim.tv_sec));
  key.append(".").append(std::to_string(st.st_mtim.tv_nsec));
  return key;
}

bool HasBareLfFile(const std::string& path, const MessageFile& file, const struct stat& st) {
  if (const std::optional<bool> named = BareLfFromName(file.unique, st.st_size)) return *named;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  const bool bare = LooksLikeBareLf(fd);
  ::close(fd);
  return bare;
}

}  // namespace

CrlfCopies::CrlfCopies(std::string folder_dir)
    : folder_dir_(std::move(folder_dir)), copies_dir_(folder_dir_ + "/" + kCrlfCopiesName) {
  ::clock_gettime(CLOCK_REALTIME, &created_);
}

bool CrlfCopies::IsCopy(const std::string& folder_dir, const std::string& path) {
  std::string prefix = folder_dir;
  prefix.append("/").append(kCrlfCopiesName).append("/");
  return path.starts_with(prefix);
}

std::string CrlfCopies::ServedPath(const MessageFile& file) {
  std::string source = folder_dir_;
  source.append("/").append(file.RelativePath());
  struct stat st;
  if (::lstat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return source;
  std::string key = KeyOf(file, st);
  std::string verdict_key = folder_dir_;
  verdict_key.append("/").append(key);
  auto& verdicts = Verdicts();
  auto found = verdicts.find(verdict_key);
  if (found == verdicts.end()) {
    if (verdicts.size() >= kMaxVerdicts) verdicts.clear();
    found = verdicts.emplace(verdict_key, HasBareLfFile(source, file, st)).first;
  }
  if (!found->second) return source;
  if (st.st_size > kMaxSourceSize) {
    LogDiskProblemOnce(source, "bare LF line ends, served as they are: too large for a copy");
    return source;
  }
  LoadIndex();
  if (const auto copy = index_.find(key); copy != index_.end()) {
    const std::string path = copies_dir_ + "/" + copy->second.entry;
    struct stat copy_st;
    if (::lstat(path.c_str(), &copy_st) == 0 && S_ISREG(copy_st.st_mode) &&
        copy_st.st_size == copy->second.size) {
      used_.insert(copy->second.entry);
      return path;
    }
  }
  std::string served;
  return MakeCopy(source, st, key, &served) ? served : source;
}

bool CrlfCopies::MakeCopy(const std::string& source, const struct stat& st, const std::string& key,
                          std::string* served) {
  // Room for ":" and the copy's size, which is at most twice the source's.
  if (key.size() + 1 + std::to_string(2 * st.st_size).size() > kMaxEntryName) {
    LogDiskProblemOnce(source, "bare LF line ends, served as they are: the name is too long");
    return false;
  }
  if (::mkdir(copies_dir_.c_str(), 0700) != 0 && errno != EEXIST) {
    LogDiskProblemOnce(copies_dir_, "cannot be made: " + ErrnoText(errno));
    return false;
  }
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (in < 0) return false;  // gone meanwhile: the server reports it when it reads
  std::string temp = copies_dir_;
  temp.append("/").append(kUnfinishedPrefix).append(NewUniqueName());
  const int out = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  std::string error;
  std::int64_t size = 0;
  bool ok = out >= 0;
  if (!ok) error = "cannot create " + Printable(temp) + ": " + ErrnoText(errno);
  if (ok) ok = CopyWithCrlf(in, out, &size, &error);
  // The copy keeps the source's time: INTERNALDATE falls back to it.
  const timespec times[2] = {st.st_atim, st.st_mtim};
  if (ok && ::futimens(out, times) != 0) {
    ok = false;
    error = "cannot set the time: " + ErrnoText(errno);
  }
  if (out >= 0 && ::close(out) != 0 && ok) {
    ok = false;
    error = "cannot write: " + ErrnoText(errno);
  }
  ::close(in);
  std::string entry = key;
  entry.append(":").append(std::to_string(size));
  const std::string path = copies_dir_ + "/" + entry;
  if (ok && ::rename(temp.c_str(), path.c_str()) != 0) {
    ok = false;
    error = "cannot rename into place: " + ErrnoText(errno);
  }
  if (!ok) {
    if (out >= 0) ::unlink(temp.c_str());
    LogWarning("serving " + Printable(source) + " with its bare LF line ends: " + error);
    return false;
  }
  index_[key] = Copy{entry, size};
  entries_.insert(entry);
  used_.insert(entry);
  *served = path;
  return true;
}

void CrlfCopies::LoadIndex() {
  if (index_loaded_) return;
  index_loaded_ = true;
  DIR* dir = ::opendir(copies_dir_.c_str());
  if (!dir) return;  // none made yet
  while (const dirent* e = ::readdir(dir)) {
    const std::string_view name = e->d_name;
    if (name == "." || name == "..") continue;
    entries_.insert(std::string(name));
    const std::size_t colon = name.rfind(':');
    if (name.starts_with(kUnfinishedPrefix) || colon == std::string_view::npos) continue;
    std::int64_t size = -1;
    const std::string_view digits = name.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
    if (ec != std::errc() || end != digits.data() + digits.size()) continue;
    index_[std::string(name.substr(0, colon))] = Copy{std::string(name), size};
  }
  ::closedir(dir);
}

void CrlfCopies::Sweep() {
  LoadIndex();
  for (const std::string& entry : entries_) {
    if (used_.count(entry)) continue;
    const std::string path = copies_dir_ + "/" + entry;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    const bool recent = st.st_ctim.tv_sec + kSweepMargin > created_.tv_sec ||
                        (st.st_ctim.tv_sec + kSweepMargin == created_.tv_sec &&
                         st.st_ctim.tv_nsec >= created_.tv_nsec);
    if (recent) continue;
    if (S_ISREG(st.st_mode) && ::unlink(path.c_str()) == 0) {
      LogDebug("removed the CRLF copy " + Printable(path) + ": its source is gone");
    }
  }
}

}  // namespace kivimapd
