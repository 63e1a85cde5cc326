// Filling the server's object model from a Maildir, as the events ask for it: a level of the
// folder tree from the folder directories, a folder's messages from its files and UID list.
//
// A folder object's Tag holds the UIDVALIDITY its messages were listed under (an I4), or nothing
// while they were never listed on this connection.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "crlf_copies.h"
#include "kivimap/kivimap.h"
#include "maildir.h"
#include "session.h"
#include "uid_file.h"

namespace kivimapd {

// The levels of a folder object's Path; {} for null (the root).
std::optional<Levels> LevelsOf(kivimap::IImapFolder* folder);
// The collection that holds parent's sub-folders: the user's Folders for a null parent.
kivimap::Ref<kivimap::IImapFolders> SubFoldersOf(kivimap::IImapUser* user,
                                                 kivimap::IImapFolder* parent);
// The folder names directly below `levels` on disk (INBOX first at the top).
std::vector<std::string> ChildNames(Session& session, const Levels& levels);

// Makes the collection list exactly the folders on disk directly below `levels`: those gone
// leave it, new ones join it, and each one's Subscribed follows the subscriptions.
void ShowFolderLevel(Session& session, kivimap::IImapFolders* collection, const Levels& levels);

// A folder's messages in UID order, as its UID list gives them.
struct FolderState {
  std::uint32_t uid_validity = 0;
  std::uint32_t next_uid = 1;
  std::vector<std::pair<std::uint32_t, MessageFile>> messages;
};

// Runs under the folder's UID lock, after the list was brought in step with the disk; puts a
// message in place, lists it and adds it to *added. False with *error to give up (the list
// is still saved).
using LockedChange =
    std::function<bool(UidList& list, std::vector<MessageFile>* added, std::string* error)>;

// Reads a folder directory under its UID lock, gives new files their UIDs, runs change (may be
// null), and saves the list.
std::optional<FolderState> SyncFolder(const UserMaildir& maildir, const std::string& dir,
                                      const LockedChange& change, std::string* error);

// Brings the folder's Messages in step with state, each served from copies.ServedPath. may_rebuild
// false keeps every message where it is (the client's numbers of the selected folder stay valid):
// messages gone stay, and only new ones above the highest UID join at the end. Sets the folder's
// UID and NextMessageUID.
void ShowMessages(kivimap::IImapFolder* folder, CrlfCopies& copies, const std::string& dir,
                  const FolderState& state, bool may_rebuild);

// The UIDVALIDITY the folder's messages were listed under, or 0.
std::int32_t ListedUnder(kivimap::IImapFolder* folder);

// The flags a message file stands for.
std::int32_t FlagsOfFile(const MessageFile& file);

// A message object's file: its Tag holds the file's place in the folder ("cur/<name>"), its
// Filename the file the server reads (the file itself, or a copy with CRLF line ends).
void SetMessageFile(kivimap::IImapMessage* message, const MessageFile& file,
                    const std::string& served);
// After the message's file was renamed in dir (flags, or new/ to cur/): a copy keeps serving.
void MovedMessageFile(kivimap::IImapMessage* message, const std::string& dir,
                      const MessageFile& file);

// The message file of a message object in dir's cur/ or new/; nothing for another file (an
// upload still in tmp/).
std::optional<MessageFile> FileOf(kivimap::IImapMessage* message, const std::string& dir);

}  // namespace kivimapd
