// UIDs that survive restarts and are shared by every kivimapd process serving a tree.
//
// Each folder directory holds "kivimapd-uidlist": its UIDVALIDITY, the next free UID, and one
// "<uid> <name>" line per message, keyed by the file name's unique part (the name before ":"),
// which flag changes and the move from new/ to cur/ keep. The list is only read and changed
// under an flock of "kivimapd-uidlist.lock" and replaced atomically, so two processes never
// hand out the same UID.
//
// A new list (none yet, or one that cannot be trusted) takes its UIDVALIDITY from the user's
// counter, "kivimapd-uidvalidity" in the Maildir root: the larger of the clock and the last
// value given plus one, so a folder deleted and created again never reuses one.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "durable_file.h"

namespace kivimapd {

inline constexpr const char* kUidListName = "kivimapd-uidlist";
inline constexpr const char* kUidValidityName = "kivimapd-uidvalidity";

// UIDs and UIDVALIDITY travel as 32-bit signed numbers in the object model.
inline constexpr std::uint32_t kMaxUid = 0x7fffffff;

// A new UIDVALIDITY from the counter in user_root; nothing, with *error, when the counter cannot
// be locked or written.
std::optional<std::uint32_t> NewUidValidity(const std::string& user_root, std::string* error);

class UidList {
 public:
  // Locks the folder's list and reads it. A missing list starts empty; a corrupt one is logged,
  // kept aside as "kivimapd-uidlist.corrupt" and started empty; both with a new UIDVALIDITY.
  // Nothing, with *error, when the lock or the counter fails.
  static std::optional<UidList> Open(const std::string& folder_dir, const std::string& user_root,
                                     std::string* error);

  std::uint32_t uid_validity() const { return uid_validity_; }
  std::uint32_t next_uid() const { return next_uid_; }
  // Unique name -> UID.
  const std::map<std::string, std::uint32_t>& entries() const { return entries_; }

  // Brings the list in step with the unique names found on disk: entries whose name is gone
  // are dropped, and names without an entry get the next UIDs in the order given. When the UID
  // space would run out, the folder starts over with a new UIDVALIDITY and renumbers everything.
  bool Sync(const std::vector<std::string>& names_on_disk, std::string* error);
  // The next free UID, now taken; nothing when the UID space is used up.
  std::optional<std::uint32_t> Reserve();
  // Lists a name under a UID handed out by Reserve.
  void Add(std::uint32_t uid, const std::string& name);

  // Writes the list if it changed; false with *error when it could not be written.
  bool Save(std::string* error);

 private:
  UidList() = default;
  bool StartOver(std::string* error);

  FileLock lock_;
  std::string path_;
  std::string user_root_;
  std::uint32_t uid_validity_ = 0;
  std::uint32_t next_uid_ = 1;
  std::map<std::string, std::uint32_t> entries_;
  bool changed_ = false;
};

}  // namespace kivimapd
