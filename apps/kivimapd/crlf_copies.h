// CRLF copies of a folder's message files that have bare LF line ends, kept in the folder
// directory's "kivimapd-crlf" (beside the UID list, so that DELETE and RENAME of the folder take
// them along). The user's files are never changed: the server is pointed at the copy instead.
//
// A copy is named "<unique>:<size>:<mtime>:<copy size>" after its source: a source replaced under
// the same name gets a new copy, and a copy cut short by a crash is seen by its size and made
// again. Copies are written beside their final name and renamed into place. A copy whose source
// is gone is removed when its folder is selected (Sweep) or its message expunged.
//
// The cost on a large Maildir: a source's verdict (bare LF or not) is found once per process and
// remembered by name, size and modification time. It costs nothing where the name carries
// Dovecot's ",S=" and ",W=" sizes, and one read of the file's first 8 KB otherwise. Every listing
// stats each file; the copies' directory is read only for folders that have such files.
#pragma once

#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "maildir.h"

namespace kivimapd {

inline constexpr const char* kCrlfCopiesName = "kivimapd-crlf";

class CrlfCopies {
 public:
  explicit CrlfCopies(std::string folder_dir);

  // The file the server should read for a message file of the folder: the file itself, or its
  // CRLF copy, made now when it is missing. The file itself when no copy can be made (logged).
  std::string ServedPath(const MessageFile& file);

  // Removes the copies that were not served through this object and were made before it was
  // created (so a copy another connection made meanwhile for a newer listing stays).
  void Sweep();

  // Whether path is a copy in folder_dir's copies directory.
  static bool IsCopy(const std::string& folder_dir, const std::string& path);

 private:
  struct Copy {
    std::string entry;  // the name in the copies directory
    std::int64_t size = 0;
  };
  void LoadIndex();
  bool MakeCopy(const std::string& source, const struct stat& st, const std::string& key,
                std::string* served);

  std::string folder_dir_;
  std::string copies_dir_;
  timespec created_{};
  bool index_loaded_ = false;
  std::map<std::string, Copy> index_;  // by "<unique>:<size>:<mtime>"
  std::set<std::string> entries_;      // every name in the directory, unfinished copies too
  std::set<std::string> used_;
};

}  // namespace kivimapd
