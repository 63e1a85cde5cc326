// How a mailbox name becomes a directory of a user's Maildir++ tree, and which names are safe.
//
// INBOX is the user's Maildir itself; every other mailbox is a directory directly inside it whose
// name is "." followed by the mailbox's levels joined by "." ("Work/Projects" is
// ".Work.Projects"), as Dovecot and Courier lay it out. So a level may hold neither "." nor "/",
// and a disk name never holds "/": no name can reach outside the user's Maildir.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kivimapd {

using Levels = std::vector<std::string>;

inline constexpr std::string_view kInbox = "INBOX";

// A user name that can be a directory name of the Maildir root: 1 to 64 bytes of letters,
// digits and "._@+-", not starting with ".".
bool IsSafeUserName(std::string_view name);

// Why a level that already exists (on disk, or in the object model) cannot be used, or empty
// when it can: it is empty, or holds ".", "/" or a control character.
std::string LevelProblem(std::string_view level);

// Why a level a client asks to create cannot be used, or empty when it can: LevelProblem, and
// also bytes outside printable ASCII (clients send modified UTF-7) and names over 200 bytes.
std::string NewLevelProblem(std::string_view level);

// True for INBOX in any letter case.
bool IsInboxName(std::string_view level);

// The levels of a folder's Path ("/Work/Projects"), or nothing when one is not usable.
std::optional<Levels> LevelsOfPath(std::string_view path);

// The directory name inside the user's Maildir: "" for INBOX (the Maildir itself), else
// ".L1.L2...". Nothing when a level is not usable or the name would be too long for a
// directory entry.
std::optional<std::string> FolderDirectoryName(const Levels& levels);

// The levels a directory entry of the user's Maildir stands for (".Work.Projects"), or nothing
// when the entry is no folder: not starting with ".", ".." or "...", or an empty level.
std::optional<Levels> LevelsOfDirectoryName(std::string_view entry);

// "Work/Projects", for logs and the subscriptions file.
std::string JoinLevels(const Levels& levels);

// ASCII case-insensitive equality, as the server matches mailbox names.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace kivimapd
