// One user's Maildir++ tree on disk: its folders (directories), the message files in them, and
// the subscriptions. Nothing here knows the server's object model; the event sink translates.
//
// Message files live in cur/ and new/ of a folder. A file name is "<unique>:2,<info>": the unique
// part names the message for good (the UID list keys on it), the info letters after ":2," carry
// its flags (D Draft, F Flagged, R Answered, S Seen, T Deleted; other letters, such as keywords,
// are kept as they are). A file in new/ has not been seen by any client yet: it is Recent, and
// moves to cur/ once reported.
#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "mailbox_names.h"

namespace kivimapd {

struct MessageFile {
  std::string unique;  // the name before ":", the message's lasting key
  std::string name;    // the whole file name
  std::string info;    // the letters after ":2,"; empty when there are none
  bool in_new = false;

  std::string RelativePath() const { return (in_new ? "new/" : "cur/") + name; }
};

// The unique part, info and place of a file name.
MessageFile ParseMessageName(std::string_view name, bool in_new);
// ImapMessageFlags bits of info letters (never Recent).
std::int32_t FlagsOfInfo(std::string_view info);
// Info letters for flags: letters that are no flag are kept, the five flag letters follow
// flags; sorted, as Maildir readers expect.
std::string InfoWithFlags(std::string_view info, std::int32_t flags);
// "<unique>:2,<info>".
std::string MessageName(std::string_view unique, std::string_view info);
// A unique part no other delivery on any machine uses: "<sec>.M<usec>P<pid>Q<n>.<host>".
std::string NewUniqueName();

// Puts a copy of the file `from` into folder_dir's cur/ as `name`: a hard link, or where links
// fail a copy written in tmp/, fsynced and renamed. The directory is fsynced.
bool PutCopy(const std::string& from, const std::string& folder_dir, const std::string& name,
             std::string* error);

class UserMaildir {
 public:
  explicit UserMaildir(std::string root) : root_(std::move(root)) {}
  const std::string& root() const { return root_; }

  // Creates the Maildir with cur/, new/ and tmp/ where any is missing.
  bool EnsureInbox(std::string* error) const;

  // Every folder: INBOX, each folder directory, and each level that only its sub-folders'
  // directories imply. Sorted. Odd directory entries are logged and left out.
  std::vector<Levels> ListFolders() const;
  // The folder's directory, or nothing for an unusable name.
  std::optional<std::string> FolderDirectory(const Levels& levels) const;
  // True when the folder's directory exists and is a real directory (not a symlink).
  bool FolderExists(const Levels& levels) const;
  // True when the folder's directory and its cur/, new/ and tmp/ all exist as real directories:
  // only then is anything written into it.
  bool FolderReady(const Levels& levels) const;
  bool HasSubFolders(const Levels& levels) const;

  // Creates the folder's directory with cur/, new/, tmp/ and the "maildirfolder" mark; also
  // completes a folder directory that lacks some of them. Fails when it exists already and
  // `exclusive` is set.
  bool CreateFolder(const Levels& levels, bool exclusive, std::string* error) const;
  // Removes a folder without sub-folders, with its messages: the directory is first renamed
  // out of sight, so a crash never leaves half a folder.
  bool DeleteFolder(const Levels& levels, std::string* error) const;
  // Renames the folder and every sub-folder below it.
  bool RenameFolder(const Levels& from, const Levels& to, std::string* error) const;

  // The messages in new/ and cur/ of a folder directory, sorted by unique part. Files that are
  // not regular, hidden names and names that cannot be stored in the UID list are logged once
  // and left out; of two files with one unique part, the first is kept.
  std::optional<std::vector<MessageFile>> ScanMessages(const std::string& folder_dir,
                                                       std::string* error) const;
  // Where a message is now, after another session renamed or moved it.
  std::optional<MessageFile> FindMessage(const std::string& folder_dir,
                                         std::string_view unique) const;
  // Removes files in tmp/ older than 36 hours: deliveries that never finished.
  void SweepTmp(const std::string& folder_dir) const;

  // Subscribed folders, as "Work/Projects" paths, in "kivimapd-subscriptions".
  std::set<std::string> Subscriptions() const;
  bool SetSubscribed(const std::string& path, bool subscribed, std::string* error) const;
  // Moves subscriptions of a renamed folder and its sub-folders.
  bool RenameSubscriptions(const std::string& from, const std::string& to,
                           std::string* error) const;

 private:
  struct FolderEntry {
    std::string entry;  // the directory name in the root
    Levels levels;
  };
  std::vector<FolderEntry> FolderEntries() const;
  bool ChangeSubscriptions(const std::string& from, const std::string& to, bool subscribed,
                           bool rename, std::string* error) const;

  std::string root_;
};

// Logs a problem with something on disk once per process (the same odd file would otherwise
// be reported at every listing).
void LogDiskProblemOnce(const std::string& path, std::string_view problem);

}  // namespace kivimapd
