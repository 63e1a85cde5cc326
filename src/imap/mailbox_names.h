// Mailbox names: the pattern matcher, the walk over a user's folder tree that resolves and
// lists names, and how a name is written in a response.
//
// A name or pattern from a client is matched, without regard to ASCII case, against the path of
// every folder (the names from the top of the tree down, joined by "/"). Resolving a name takes
// the first folder that matches, depth first, a folder before its sub-folders.
#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "imap/server_context.h"
#include "kivimap/interfaces.h"
#include "store/user.h"

namespace kivimap::imap {

// The references the commands pass: both admit every level, since every walk prefix starts
// with "/". SELECT, EXAMINE, STATUS, APPEND, SUBSCRIBE and UNSUBSCRIBE pass kSelectReference;
// CREATE, DELETE and RENAME pass kFolderReference.
inline constexpr std::string_view kSelectReference = "/*";
inline constexpr std::string_view kFolderReference = "*";
// The walk prefix of the top level.
inline constexpr std::string_view kRootPrefix = "/";

// Whether text matches pattern, comparing bytes as they are (callers lower-case both). "*"
// matches any run of characters, "%" any run without "/", "?" any one character, a backslash
// makes the next pattern character literal, and everything else matches itself. Runs in time
// proportional to the text's length times the pattern's.
bool MatchMailboxPattern(std::string_view text, std::string_view pattern);

// A mailbox name as an IMAP string (RFC 3501, 4.3 and 4.5): a literal ("{n}\r\n" and the bytes)
// when it holds CR, LF or NUL, else a quoted string in which '"' and '\' are escaped by a
// backslash. Any other name comes out between double quotes byte for byte.
std::string QuoteMailboxName(std::string_view name);

enum class WalkResult { Continue, Stop };

struct FolderVisit {
  IImapFolders* collection;  // the collection that holds the folder
  IImapFolder* parent;       // the folder that owns collection; null at the top level
  IImapFolder* folder;
  std::string_view prefix;  // the walk prefix of the folder's level, in its own letter case
  std::string_view name;    // the folder's own name as 8-bit text
  std::string_view path;    // the ancestors' names and the folder's own, joined by "/"
  std::span<const Ref<IImapFolder>> ancestors;  // from the top down; parent last
};

// Called for every folder that matches; Stop ends the walk (the server, the user or its
// connection went away).
using FolderVisitor = std::function<WalkResult(const FolderVisit&)>;

// Walks collection and everything below it, depth first. Every folder fires ListFolders once,
// after it was offered to the visitor and before its sub-folders are walked, so that the host
// can fill them; each collection's count is read again before every index, as the host may
// change it inside the event. A folder is offered when its level path ("/" at the top, "/" and
// the lower-cased path of its parent below) matches reference (absent or empty: "*") and its
// lower-cased, non-empty path matches pattern (lower-cased). Returns Stop as soon as an event
// reports the server, the user or its connection gone, or the visitor returns Stop; then the
// caller touches none of them again. Paths of any length; may throw std::bad_alloc.
WalkResult WalkFolders(ServerContext& server, store::ImapUser& user, IImapFolders* collection,
                       std::string_view prefix, std::string_view reference,
                       std::string_view pattern, const FolderVisitor& visitor);

// The first folder a walk offered, with the folder that held it (null at the top level).
struct FoundFolder {
  Ref<IImapFolder> folder;
  Ref<IImapFolder> parent;
  // The folders above it, from the top down (parent last).
  std::vector<Ref<IImapFolder>> ancestors;
};

// The visitor that keeps the first folder it is given in *result.
FolderVisitor FindFirstFolder(FoundFolder* result);

// Resolves a mailbox name: walks the user's Folders with the prefix "/", reference and the name
// as pattern. result->folder stays null when nothing matches.
WalkResult ResolveMailbox(ServerContext& server, store::ImapUser& user, std::string_view name,
                          std::string_view reference, FoundFolder* result);

}  // namespace kivimap::imap
