#include "maildir.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <map>
#include <utility>

#include "durable_file.h"
#include "kivimap/interfaces.h"
#include "log.h"

namespace kivimapd {

namespace {

constexpr const char* kSubscriptionsName = "kivimapd-subscriptions";
constexpr const char* kFolderMark = "maildirfolder";
constexpr std::string_view kTrashPrefix = "..kivimapd-deleted.";
constexpr std::time_t kTmpLifetime = 36 * 60 * 60;
constexpr std::size_t kMaxLoggedProblems = 10000;

struct FlagLetter {
  char letter;
  std::int32_t flag;
};
// In the order Maildir readers expect them (ASCII).
constexpr FlagLetter kFlagLetters[] = {{'D', kivimap::Draft},
                                       {'F', kivimap::Flagged},
                                       {'R', kivimap::Answered},
                                       {'S', kivimap::Seen},
                                       {'T', kivimap::Deleted}};

std::string Failure(std::string_view what, const std::string& path, int errno_value) {
  std::string text(what);
  text.append(" ").append(Printable(path)).append(": ").append(ErrnoText(errno_value));
  return text;
}

bool IsRealDirectory(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeDirectory(const std::string& path, std::string* error) {
  if (::mkdir(path.c_str(), 0700) == 0 || (errno == EEXIST && IsRealDirectory(path))) return true;
  *error = Failure("cannot create directory", path, errno);
  return false;
}

bool StartsWith(const Levels& levels, const Levels& prefix) {
  return levels.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), levels.begin());
}

// A name the UID list can hold and that is no hidden file: logged when it is odd.
bool UsableMessageName(const std::string& dir, std::string_view name) {
  if (name.empty() || name.front() == '.') return false;  // hidden, by Maildir convention
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      LogDiskProblemOnce(dir + "/" + std::string(name), "a file name with control characters");
      return false;
    }
  }
  if (name.front() == ':') {
    LogDiskProblemOnce(dir + "/" + std::string(name), "a file name without a unique part");
    return false;
  }
  return true;
}

bool IsRegularEntry(int dir_fd, const dirent* entry) {
  if (entry->d_type == DT_REG) return true;
  if (entry->d_type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
}

int RemoveEntry(const char* path, const struct stat*, int, FTW*) {
  if (::remove(path) != 0) LogWarning(Failure("cannot remove", path, errno));
  return 0;  // go on: remove as much as can be removed
}

// Copies a file's bytes into a new file (mode 0600) and fsyncs it.
bool CopyFile(const std::string& from, const std::string& to, std::string* error) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
  if (in < 0) {
    *error = Failure("cannot open", from, errno);
    return false;
  }
  const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (out < 0) {
    *error = Failure("cannot create", to, errno);
    ::close(in);
    return false;
  }
  bool ok = true;
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(in, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    for (const char* p = buffer; ok && n > 0;) {
      const ssize_t w = ::write(out, p, static_cast<std::size_t>(n));
      if (w < 0 && errno == EINTR) continue;
      ok = w > 0;
      if (ok) {
        p += w;
        n -= w;
      }
    }
    if (!ok) break;
  }
  if (ok && ::fsync(out) != 0) ok = false;
  if (::close(out) != 0) ok = false;
  if (!ok) {
    *error = Failure("cannot copy into", to, errno);
    ::unlink(to.c_str());
  }
  ::close(in);
  return ok;
}

std::string HostPart() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "localhost";
  std::string out;
  for (const char* p = host; *p; ++p) {
    // "/" and ":" cannot be in a unique part; Maildir writes them as octal escapes.
    if (*p == '/') {
      out.append("\\057");
    } else if (*p == ':') {
      out.append("\\072");
    } else {
      out.push_back(*p);
    }
  }
  return out;
}

}  // namespace

void LogDiskProblemOnce(const std::string& path, std::string_view problem) {
  static std::set<std::string> logged;
  if (logged.size() >= kMaxLoggedProblems || !logged.insert(path).second) return;
  LogWarning("skipped " + Printable(path) + ": " + std::string(problem));
}

MessageFile ParseMessageName(std::string_view name, bool in_new) {
  MessageFile file;
  file.name = std::string(name);
  file.in_new = in_new;
  const std::size_t colon = name.find(':');
  file.unique = std::string(name.substr(0, colon));
  if (colon != std::string_view::npos && name.substr(colon + 1).starts_with("2,")) {
    file.info = std::string(name.substr(colon + 3));
  }
  return file;
}

std::int32_t FlagsOfInfo(std::string_view info) {
  std::int32_t flags = 0;
  for (const char c : info) {
    for (const FlagLetter& f : kFlagLetters) {
      if (c == f.letter) flags |= f.flag;
    }
  }
  return flags;
}

std::string InfoWithFlags(std::string_view info, std::int32_t flags) {
  std::string out;
  for (const char c : info) {
    const bool flag_letter = std::any_of(std::begin(kFlagLetters), std::end(kFlagLetters),
                                         [c](const FlagLetter& f) { return f.letter == c; });
    if (!flag_letter && c != ',' && out.find(c) == std::string::npos) out.push_back(c);
  }
  for (const FlagLetter& f : kFlagLetters) {
    if ((flags & f.flag) != 0) out.push_back(f.letter);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string MessageName(std::string_view unique, std::string_view info) {
  std::string name(unique);
  name.append(":2,").append(info);
  return name;
}

std::string NewUniqueName() {
  static std::uint64_t deliveries = 0;
  static const std::string host = HostPart();
  timeval now{};
  ::gettimeofday(&now, nullptr);
  std::string name = std::to_string(now.tv_sec);
  name.append(".M").append(std::to_string(now.tv_usec));
  name.append("P").append(std::to_string(::getpid()));
  name.append("Q").append(std::to_string(++deliveries));
  name.append(".").append(host);
  return name;
}

bool PutCopy(const std::string& from, const std::string& folder_dir, const std::string& name,
             std::string* error) {
  const std::string to = folder_dir + "/cur/" + name;
  // A hard link shares the bytes, as Maildir files never change; a copy where links fail.
  if (::link(from.c_str(), to.c_str()) != 0) {
    const std::string temp = folder_dir + "/tmp/" + name;
    if (!CopyFile(from, temp, error)) return false;
    if (::rename(temp.c_str(), to.c_str()) != 0) {
      *error = Failure("cannot move into cur/", temp, errno);
      ::unlink(temp.c_str());
      return false;
    }
  }
  return SyncDirectory(folder_dir + "/cur", error);
}

bool UserMaildir::EnsureInbox(std::string* error) const {
  // The user's Maildir itself may be a link the administrator made; nothing inside it may.
  struct stat st;
  if (::mkdir(root_.c_str(), 0700) != 0 &&
      (errno != EEXIST || ::stat(root_.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))) {
    *error = Failure("cannot create directory", root_, errno);
    return false;
  }
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (!MakeDirectory(root_ + sub, error)) return false;
  }
  return true;
}

std::vector<UserMaildir::FolderEntry> UserMaildir::FolderEntries() const {
  std::vector<FolderEntry> entries;
  DIR* dir = ::opendir(root_.c_str());
  if (!dir) {
    LogError(Failure("cannot list", root_, errno));
    return entries;
  }
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name.size() < 2 || name[0] != '.' || name[1] == '.') continue;  // ".", "..", trash
    const std::string path = root_ + "/" + std::string(name);
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;  // gone meanwhile
    if (S_ISLNK(st.st_mode)) {
      LogDiskProblemOnce(path, "a symbolic link is never followed out of a Maildir");
      continue;
    }
    if (!S_ISDIR(st.st_mode)) continue;  // a hidden file, not a folder
    std::optional<Levels> levels = LevelsOfDirectoryName(name);
    if (!levels) {
      LogDiskProblemOnce(path, "not a usable folder name");
      continue;
    }
    if (levels->size() == 1 && (*levels)[0] == kInbox) {
      LogDiskProblemOnce(path, "INBOX is the Maildir itself; this directory is not served");
      continue;
    }
    entries.push_back({std::string(name), std::move(*levels)});
  }
  ::closedir(dir);
  return entries;
}

std::vector<Levels> UserMaildir::ListFolders() const {
  std::set<Levels> folders{Levels{std::string(kInbox)}};
  for (const FolderEntry& entry : FolderEntries()) {
    for (std::size_t n = 1; n <= entry.levels.size(); ++n) {
      folders.insert(Levels(entry.levels.begin(), entry.levels.begin() + n));
    }
  }
  return {folders.begin(), folders.end()};
}

std::optional<std::string> UserMaildir::FolderDirectory(const Levels& levels) const {
  const std::optional<std::string> name = FolderDirectoryName(levels);
  if (!name) return std::nullopt;
  if (name->empty()) return root_;
  return root_ + "/" + *name;
}

bool UserMaildir::FolderExists(const Levels& levels) const {
  const std::optional<std::string> dir = FolderDirectory(levels);
  if (!dir) return false;
  if (*dir == root_) return true;
  return IsRealDirectory(*dir);
}

bool UserMaildir::FolderReady(const Levels& levels) const {
  const std::optional<std::string> dir = FolderDirectory(levels);
  if (!dir || !FolderExists(levels)) return false;
  return IsRealDirectory(*dir + "/cur") && IsRealDirectory(*dir + "/new") &&
         IsRealDirectory(*dir + "/tmp");
}

bool UserMaildir::HasSubFolders(const Levels& levels) const {
  for (const FolderEntry& entry : FolderEntries()) {
    if (entry.levels.size() > levels.size() && StartsWith(entry.levels, levels)) return true;
  }
  return false;
}

bool UserMaildir::CreateFolder(const Levels& levels, bool exclusive, std::string* error) const {
  const std::optional<std::string> dir = FolderDirectory(levels);
  if (!dir || *dir == root_) {
    *error = "not a folder name that can be created";
    return false;
  }
  if (::mkdir(dir->c_str(), 0700) != 0) {
    if (errno != EEXIST || exclusive) {
      *error = Failure(errno == EEXIST ? "already exists:" : "cannot create", *dir, errno);
      return false;
    }
    if (!IsRealDirectory(*dir)) {
      *error = "not a directory: " + Printable(*dir);
      return false;
    }
  }
  for (const char* sub : {"/cur", "/new", "/tmp"}) {
    if (!MakeDirectory(*dir + sub, error)) return false;
  }
  const std::string mark = *dir + "/" + kFolderMark;
  const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0) ::close(fd);
  return SyncDirectory(root_, error);
}

bool UserMaildir::DeleteFolder(const Levels& levels, std::string* error) const {
  const std::optional<std::string> dir = FolderDirectory(levels);
  if (!dir || *dir == root_) {
    *error = "INBOX cannot be deleted";
    return false;
  }
  if (HasSubFolders(levels)) {
    *error = "it has sub-folders";
    return false;
  }
  struct stat st;
  if (::lstat(dir->c_str(), &st) != 0) {
    if (errno == ENOENT) return true;  // only implied by sub-folders deleted before
    *error = Failure("cannot look at", *dir, errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *error = "not a directory: " + Printable(*dir);
    return false;
  }
  const std::string trash = root_ + "/" + std::string(kTrashPrefix) + NewUniqueName();
  if (::rename(dir->c_str(), trash.c_str()) != 0) {
    *error = Failure("cannot move aside", *dir, errno);
    return false;
  }
  // FTW_PHYS: a symbolic link inside is removed itself, never followed.
  ::nftw(trash.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS | FTW_MOUNT);
  std::string sync_error;
  if (!SyncDirectory(root_, &sync_error)) LogWarning(sync_error);
  return true;
}

bool UserMaildir::RenameFolder(const Levels& from, const Levels& to, std::string* error) const {
  if (StartsWith(to, from) || StartsWith(from, to)) {
    *error = "a folder cannot move into itself";
    return false;
  }
  if (!FolderDirectory(from) || !FolderDirectory(to) || FolderDirectory(from) == root_ ||
      FolderDirectory(to) == root_) {
    *error = "INBOX cannot be renamed, nor a folder renamed to INBOX";
    return false;
  }
  // Every directory to move, the folder's own first, and where it goes.
  std::vector<std::pair<std::string, std::string>> moves;
  for (const FolderEntry& entry : FolderEntries()) {
    if (!StartsWith(entry.levels, from)) continue;
    Levels target = to;
    target.insert(target.end(), entry.levels.begin() + static_cast<long>(from.size()),
                  entry.levels.end());
    const std::optional<std::string> target_dir = FolderDirectory(target);
    if (!target_dir) {
      *error = "the new name " + Printable(JoinLevels(target)) + " is too long for the disk";
      return false;
    }
    struct stat st;
    if (::lstat(target_dir->c_str(), &st) == 0 || errno != ENOENT) {
      *error = "already exists: " + Printable(*target_dir);
      return false;
    }
    moves.emplace_back(root_ + "/" + entry.entry, *target_dir);
  }
  if (moves.empty()) {
    *error = "no such folder on disk: " + Printable(JoinLevels(from));
    return false;
  }
  std::sort(moves.begin(), moves.end());  // a parent's name sorts before its sub-folders'
  for (const auto& [source, target] : moves) {
    if (::rename(source.c_str(), target.c_str()) != 0) {
      *error = Failure("cannot rename", source, errno);
      return false;
    }
  }
  return SyncDirectory(root_, error);
}

std::optional<std::vector<MessageFile>> UserMaildir::ScanMessages(const std::string& folder_dir,
                                                                  std::string* error) const {
  std::vector<MessageFile> files;
  std::set<std::string> uniques;
  for (const bool in_new : {false, true}) {
    const std::string dir = folder_dir + (in_new ? "/new" : "/cur");
    if (!IsRealDirectory(dir)) {
      struct stat st;
      if (::lstat(dir.c_str(), &st) != 0 && errno == ENOENT) continue;  // an empty folder
      *error = "not a directory: " + Printable(dir);
      return std::nullopt;
    }
    DIR* handle = ::opendir(dir.c_str());
    if (!handle) {
      *error = Failure("cannot list", dir, errno);
      return std::nullopt;
    }
    while (const dirent* entry = ::readdir(handle)) {
      const std::string_view name = entry->d_name;
      if (!UsableMessageName(dir, name)) continue;
      if (!IsRegularEntry(::dirfd(handle), entry)) {
        LogDiskProblemOnce(dir + "/" + std::string(name), "not a regular file");
        continue;
      }
      MessageFile file = ParseMessageName(name, in_new);
      if (!uniques.insert(file.unique).second) {
        LogDiskProblemOnce(dir + "/" + std::string(name), "a second file of the same message");
        continue;
      }
      files.push_back(std::move(file));
    }
    ::closedir(handle);
  }
  std::sort(files.begin(), files.end(),
            [](const MessageFile& a, const MessageFile& b) { return a.unique < b.unique; });
  return files;
}

std::optional<MessageFile> UserMaildir::FindMessage(const std::string& folder_dir,
                                                    std::string_view unique) const {
  std::string error;
  const auto files = ScanMessages(folder_dir, &error);
  if (!files) return std::nullopt;
  for (const MessageFile& file : *files) {
    if (file.unique == unique) return file;
  }
  return std::nullopt;
}

void UserMaildir::SweepTmp(const std::string& folder_dir) const {
  const std::string dir = folder_dir + "/tmp";
  DIR* handle = ::opendir(dir.c_str());
  if (!handle) return;
  const std::time_t now = std::time(nullptr);
  while (const dirent* entry = ::readdir(handle)) {
    struct stat st;
    if (entry->d_name[0] == '.' ||
        ::fstatat(::dirfd(handle), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode) || now - st.st_mtime < kTmpLifetime) {
      continue;
    }
    if (::unlinkat(::dirfd(handle), entry->d_name, 0) == 0) {
      LogInfo("removed an unfinished delivery " + Printable(dir + "/" + entry->d_name));
    }
  }
  ::closedir(handle);
}

std::set<std::string> UserMaildir::Subscriptions() const {
  std::set<std::string> names;
  bool missing = false;
  std::string error;
  const std::string path = root_ + "/" + kSubscriptionsName;
  const auto text = ReadSmallFile(path, 1u << 20, &missing, &error);
  if (!text) {
    if (!missing) LogWarning(error);
    return names;
  }
  std::size_t start = 0;
  while (start < text->size()) {
    const std::size_t end = std::min(text->find('\n', start), text->size());
    if (end > start) names.insert(text->substr(start, end - start));
    start = end + 1;
  }
  return names;
}

bool UserMaildir::ChangeSubscriptions(const std::string& from, const std::string& to,
                                      bool subscribed, bool rename, std::string* error) const {
  const std::string path = root_ + "/" + kSubscriptionsName;
  FileLock lock = FileLock::Acquire(path + ".lock", error);
  if (!lock.held()) return false;
  std::set<std::string> names = Subscriptions();
  const std::set<std::string> before = names;
  if (rename) {
    std::set<std::string> moved;
    for (auto it = names.begin(); it != names.end();) {
      if (*it == from || it->starts_with(from + "/")) {
        moved.insert(to + it->substr(from.size()));
        it = names.erase(it);
      } else {
        ++it;
      }
    }
    names.insert(moved.begin(), moved.end());
  } else if (subscribed) {
    names.insert(from);
  } else {
    names.erase(from);
  }
  if (names == before) return true;
  std::string text;
  for (const std::string& name : names) text.append(name).push_back('\n');
  return ReplaceFile(path, text, 0600, error);
}

bool UserMaildir::SetSubscribed(const std::string& path, bool subscribed,
                                std::string* error) const {
  return ChangeSubscriptions(path, path, subscribed, false, error);
}

bool UserMaildir::RenameSubscriptions(const std::string& from, const std::string& to,
                                      std::string* error) const {
  return ChangeSubscriptions(from, to, false, true, error);
}

}  // namespace kivimapd
