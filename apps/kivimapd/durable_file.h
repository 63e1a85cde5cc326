// Small files that several kivimapd processes share: an exclusive lock held through a separate
// lock file, whole-file reads, and replacement that a crash never leaves half written (write a
// new file beside it, fsync, rename over the old one, fsync the directory).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace kivimapd {

// An exclusive flock on a lock file, created (mode 0600) when missing, released on destruction.
// The lock file is never replaced, so the lock stays valid while the data file beside it is.
class FileLock {
 public:
  FileLock() = default;
  FileLock(FileLock&& other) noexcept;
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  ~FileLock();

  // Waits up to about ten seconds for the lock; on failure returns a lock that is not held and
  // sets *error.
  static FileLock Acquire(const std::string& path, std::string* error);

  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

// The whole content of a regular file of at most max_bytes. Nothing, with *error set, when it
// cannot be read; *missing tells whether it simply does not exist.
std::optional<std::string> ReadSmallFile(const std::string& path, std::size_t max_bytes,
                                         bool* missing, std::string* error);

// Replaces path with content, file mode `mode`: written to a new file in the same directory,
// fsynced, renamed over path, and the directory fsynced. False with *error on any failure, and
// then path is as it was.
bool ReplaceFile(const std::string& path, std::string_view content, mode_t mode,
                 std::string* error);

// fsync of a directory, so that a rename or a new entry in it survives a crash.
bool SyncDirectory(const std::string& path, std::string* error);

// fsync of a file by name.
bool SyncFile(const std::string& path, std::string* error);

// The directory part of a path ("." when there is none).
std::string DirectoryOf(const std::string& path);

}  // namespace kivimapd
