#include "event_sink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "crlf_copies.h"
#include "durable_file.h"
#include "log.h"
#include "mailbox_names.h"
#include "maildir.h"
#include "object_model.h"
#include "session.h"
#include "uid_file.h"

namespace kivimapd {

using kivimap::IImapFolder;
using kivimap::IImapMessage;
using kivimap::IImapMessages;
using kivimap::IImapUser;
using kivimap::Ref;
using kivimap::Variant;
using kivimap::WideString;

namespace {

constexpr std::int32_t kStoredFlags =
    kivimap::Flagged | kivimap::Seen | kivimap::Answered | kivimap::Deleted | kivimap::Draft;

// The session of a logged-in user; null otherwise (no event changes anything then).
Ref<Session> LoggedIn(IImapUser* user) {
  Ref<Session> session = Session::Of(user);
  return session && session->logged_in() ? session : nullptr;
}

void Refused(Session& session, std::string_view what, std::string_view why) {
  std::string line = session.Label();
  line.append(": ").append(what).append(" refused: ").append(why);
  LogWarning(line);
}

std::string Quoted(std::string_view name) {
  std::string text = "\"";
  text.append(Printable(name)).push_back('"');
  return text;
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The folder's levels and directory; nothing (logged) for a name that cannot be on disk.
struct FolderPlace {
  Levels levels;
  std::string dir;
};
std::optional<FolderPlace> PlaceOf(Session& session, IImapFolder* folder) {
  std::optional<Levels> levels = LevelsOf(folder);
  std::optional<std::string> dir =
      levels ? session.maildir().FolderDirectory(*levels) : std::nullopt;
  if (!dir) {
    WideString path;
    if (folder) folder->get_Path(&path);
    LogWarning(session.Label() + ": no directory for folder " + Quoted(path.ToNarrow()));
    return std::nullopt;
  }
  return FolderPlace{std::move(*levels), std::move(*dir)};
}

// Makes sure a folder that so far only its sub-folders implied has its directory.
bool EnsureDirectory(Session& session, const FolderPlace& place, std::string* error) {
  if (session.maildir().FolderReady(place.levels)) return true;
  const bool made = place.dir == session.maildir().root()
                        ? session.maildir().EnsureInbox(error)
                        : session.maildir().CreateFolder(place.levels, false, error);
  session.Changed();
  return made;
}

// The message's file where it is now: another connection may have renamed it (flags) or moved
// it to cur/. Updates the message's Filename when it moved.
std::optional<MessageFile> Locate(Session& session, IImapMessage* message, const std::string& dir) {
  std::optional<MessageFile> file = FileOf(message, dir);
  if (!file || FileExists(dir + "/" + file->RelativePath())) return file;
  std::optional<MessageFile> moved = session.maildir().FindMessage(dir, file->unique);
  if (moved) MovedMessageFile(message, dir, *moved);
  return moved;
}

// Whether a folder's messages may be renumbered: not while the client works with the numbers
// it was given at SELECT.
bool MayRebuild(Session& session, IImapFolder* folder) {
  return session.selecting() || session.selected.get() != folder;
}

Variant AsObject(kivimap::IDispatch* object) { return Variant(object); }

}  // namespace

void MaildirHost::OnConnecting(IImapUser* user, std::int32_t*) {
  WideString host;
  user->get_Hostname(&host);
  Ref<Session> session(new Session(++connections_, Printable(host.ToNarrow())));
  user->put_Tag(Variant(static_cast<kivimap::IDispatch*>(session.get())));
  LogInfo(session->Label() + ": connection");
}

void MaildirHost::OnCommand(IImapUser* user, WideString* command) {
  Ref<Session> session = Session::Of(user);
  if (!session) return;
  session->CommandStarted(command->ToNarrow());
  if (!session->logged_in()) return;
  const std::string& name = session->command();
  if (name == "CLOSE") session->selected.Reset();
  // The top level is filled at login; every command that names a mailbox sees it as the disk
  // has it now, with folders other connections created or removed meanwhile.
  static constexpr std::string_view kNaming[] = {"LIST",   "LSUB",   "SELECT",    "EXAMINE",
                                                 "STATUS", "APPEND", "CREATE",    "DELETE",
                                                 "RENAME", "COPY",   "SUBSCRIBE", "UNSUBSCRIBE"};
  for (const std::string_view naming : kNaming) {
    if (name == naming) {
      ShowFolderLevel(*session, SubFoldersOf(user, nullptr).get(), {});
      return;
    }
  }
}

void MaildirHost::OnConnected(IImapUser* user, const WideString& username,
                              const WideString& password, std::int32_t* action) {
  Ref<Session> session = Session::Of(user);
  if (!session) return;
  const std::string name = username.ToNarrow();
  std::string why;
  if (!IsSafeUserName(name)) {
    why = "not a user name";
  } else if (!users_->Check(name, password.ToNarrow())) {
    why = users_->Has(name) ? "wrong password" : "unknown user";
  } else {
    const std::string maildir = root_ + "/" + name;
    std::string error;
    if (UserMaildir(maildir).EnsureInbox(&error)) {
      session->LoggedIn(name, maildir);
      *action = kivimap::Allow;
      LogInfo(session->Label() + ": login from " + session->peer());
      return;
    }
    LogError(session->Label() + ": " + error);
    why = "the Maildir cannot be made";
  }
  LogWarning(session->Label() + ": login refused for " + Quoted(name) + ": " + why);
  // The server would answer OK: the client reads NO for its command, then the connection ends.
  const std::string verb = session->command().empty() ? "LOGIN" : session->command();
  user->Send(
      kivimap::ToWide(session->tag() + " NO [AUTHENTICATIONFAILED] " + verb + " failed\r\n"));
  user->Disconnect();
}

void MaildirHost::OnDisconnected(IImapUser* user) {
  if (Ref<Session> session = Session::Of(user)) LogDebug(session->Label() + ": disconnected");
}

void MaildirHost::OnListFolders(IImapUser* user, IImapFolder* parent) {
  Ref<Session> session = LoggedIn(user);
  if (!session) return;
  const std::optional<Levels> levels = LevelsOf(parent);
  if (levels) ShowFolderLevel(*session, SubFoldersOf(user, parent).get(), *levels);
}

void MaildirHost::OnSubscribeFolder(IImapUser* user, IImapFolder* folder) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<Levels> levels = session ? LevelsOf(folder) : std::nullopt;
  if (!levels || levels->empty()) return;
  kivimap::VariantBool subscribed = kivimap::VariantFalse;
  folder->get_Subscribed(&subscribed);
  std::string error;
  if (!session->maildir().SetSubscribed(JoinLevels(*levels), subscribed != kivimap::VariantFalse,
                                        &error)) {
    LogError(session->Label() + ": " + error);
  }
  session->Changed();
}

void MaildirHost::OnCreateFolder(IImapUser* user, IImapFolder* parent, const WideString& name,
                                 std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<Levels> parent_levels = session ? LevelsOf(parent) : std::nullopt;
  if (!parent_levels) return;
  const std::string level = name.ToNarrow();
  Levels levels = *parent_levels;
  levels.push_back(level);
  const std::string what = "CREATE " + Quoted(JoinLevels(levels));
  if (const std::string problem = NewLevelProblem(level); !problem.empty()) {
    return Refused(*session, what, problem);
  }
  if (parent_levels->empty() && IsInboxName(level)) return Refused(*session, what, "INBOX exists");
  for (const std::string& sibling : ChildNames(*session, *parent_levels)) {
    // The server finds names without regard to case: a second such folder could not be reached.
    if (SameNameIgnoringCase(sibling, level)) return Refused(*session, what, "the folder exists");
  }
  if (!FolderDirectoryName(levels)) return Refused(*session, what, "the name is too long");
  std::string error;
  if (!session->maildir().CreateFolder(levels, true, &error)) {
    return Refused(*session, what, error);
  }
  session->Changed();
  ShowFolderLevel(*session, SubFoldersOf(user, parent).get(), *parent_levels);
  *action = kivimap::Allow;
  LogInfo(session->Label() + ": created folder " + Quoted(JoinLevels(levels)));
}

void MaildirHost::OnDeleteFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                                 std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<Levels> levels = session ? LevelsOf(folder) : std::nullopt;
  if (!levels || levels->empty()) return;
  const std::string what = "DELETE " + Quoted(JoinLevels(*levels));
  if (levels->size() == 1 && (*levels)[0] == kInbox) {
    return Refused(*session, what, "INBOX cannot be deleted");
  }
  std::string error;
  if (!session->maildir().DeleteFolder(*levels, &error)) return Refused(*session, what, error);
  session->Changed();
  if (Ref<kivimap::IImapFolders> collection = SubFoldersOf(user, parent)) {
    collection->Remove(AsObject(folder));
  }
  *action = kivimap::Allow;
  LogInfo(session->Label() + ": deleted folder " + Quoted(JoinLevels(*levels)));
}

void MaildirHost::OnMoveFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                               IImapFolder* destination_folder, const WideString& destination_name,
                               std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<Levels> from = session ? LevelsOf(folder) : std::nullopt;
  const std::optional<Levels> target_parent = session ? LevelsOf(destination_folder) : std::nullopt;
  if (!from || from->empty() || !target_parent) return;
  const std::string level = destination_name.ToNarrow();
  Levels to = *target_parent;
  to.push_back(level);
  const std::string what = "RENAME " + Quoted(JoinLevels(*from)) + " to " + Quoted(JoinLevels(to));
  if (const std::string problem = NewLevelProblem(level); !problem.empty()) {
    return Refused(*session, what, problem);
  }
  if ((from->size() == 1 && (*from)[0] == kInbox) ||
      (target_parent->empty() && IsInboxName(level))) {
    return Refused(*session, what, "INBOX cannot be renamed, nor replaced");
  }
  for (const std::string& sibling : ChildNames(*session, *target_parent)) {
    Levels other = *target_parent;
    other.push_back(sibling);
    if (other != *from && SameNameIgnoringCase(sibling, level)) {
      return Refused(*session, what, "a folder of that name exists");
    }
  }
  std::string error;
  if (!session->maildir().RenameFolder(*from, to, &error)) return Refused(*session, what, error);
  if (!session->maildir().RenameSubscriptions(JoinLevels(*from), JoinLevels(to), &error)) {
    LogError(session->Label() + ": " + error);
  }
  session->Changed();
  if (destination_folder == parent) {
    folder->put_Name(destination_name);  // renamed in place: the object and its sub-tree stay
  } else {
    if (Ref<kivimap::IImapFolders> old = SubFoldersOf(user, parent)) old->Remove(AsObject(folder));
    ShowFolderLevel(*session, SubFoldersOf(user, destination_folder).get(), *target_parent);
  }
  *action = kivimap::Allow;
  LogInfo(session->Label() + ": renamed folder " + Quoted(JoinLevels(*from)) + " to " +
          Quoted(JoinLevels(to)));
}

void MaildirHost::OnListMessages(IImapUser* user, IImapFolder* folder) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  const bool may_rebuild = MayRebuild(*session, folder);
  if (session->selecting()) session->selected = Ref<IImapFolder>(folder);
  if (!session->maildir().FolderExists(place->levels)) {
    // Only implied by its sub-folders: no messages until something is put there.
    Ref<IImapMessages> messages;
    if (may_rebuild && kivimap::Succeeded(folder->get_Messages(&messages)) && messages) {
      messages->RemoveAll();
    }
    return;
  }
  std::string error;
  CrlfCopies copies(place->dir);
  const std::optional<FolderState> state =
      SyncFolder(session->maildir(), place->dir, nullptr, &error);
  if (!state) {
    LogError(session->Label() + ": " + error);
    return;
  }
  ShowMessages(folder, copies, place->dir, *state, may_rebuild);
  if (session->selecting()) {
    session->maildir().SweepTmp(place->dir);
    copies.Sweep();
  }
}

void MaildirHost::OnReadMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  const std::optional<MessageFile> file = Locate(*session, message, place->dir);
  std::string problem = "it is gone";
  if (file) {
    const std::string path = place->dir + "/" + file->RelativePath();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
      // A copy with CRLF removed meanwhile (by hand) is made again.
      WideString served;
      message->get_Filename(&served);
      if (!FileExists(served.ToNarrow())) {
        SetMessageFile(message, *file, CrlfCopies(place->dir).ServedPath(*file));
      }
      return;
    }
    problem = ErrnoText(errno);
  }
  std::int32_t uid = 0;
  message->get_UID(&uid);
  LogError(session->Label() + ": cannot read message " + std::to_string(uid) + " of " +
           Printable(place->dir) + ": " + problem);
}

void MaildirHost::OnFlagChange(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                               std::int32_t new_flags, std::int32_t) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::optional<MessageFile> file = Locate(*session, message, place->dir);
    if (!file) return;  // a message still being appended, or one that is gone
    // A message stays in new/ while it is still Recent and nothing stored changed.
    const bool stay_new = file->in_new && (new_flags & kivimap::Recent) != 0 &&
                          FlagsOfInfo(file->info) == (new_flags & kStoredFlags);
    if (stay_new) return;
    const std::string name = MessageName(file->unique, InfoWithFlags(file->info, new_flags));
    const std::string from = place->dir + "/" + file->RelativePath();
    const std::string to = place->dir + "/cur/" + name;
    if (from == to) return;
    if (::rename(from.c_str(), to.c_str()) == 0) {
      MovedMessageFile(message, place->dir, ParseMessageName(name, false));
      return;
    }
    if (errno != ENOENT) {
      LogError(session->Label() + ": cannot rename " + Printable(from) + ": " + ErrnoText(errno));
      return;
    }
    // Renamed by another connection in between: find it again once.
  }
}

void MaildirHost::OnCopyMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                IImapFolder* destination, std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> source = session ? PlaceOf(*session, folder) : std::nullopt;
  const std::optional<FolderPlace> target =
      source && destination ? PlaceOf(*session, destination) : std::nullopt;
  if (!target) return;
  const std::string what = "COPY to " + Quoted(JoinLevels(target->levels));
  const std::optional<MessageFile> file = Locate(*session, message, source->dir);
  if (!file) return Refused(*session, what, "the message file is gone");
  std::string error;
  if (!EnsureDirectory(*session, *target, &error)) return Refused(*session, what, error);

  std::int32_t flags = 0;
  message->get_Flags(&flags);
  const std::string from = source->dir + "/" + file->RelativePath();
  const std::string name = MessageName(NewUniqueName(), InfoWithFlags(file->info, flags));
  const LockedChange put_copy = [&](UidList& list, std::vector<MessageFile>* added,
                                    std::string* failure) {
    const std::optional<std::uint32_t> uid = list.Reserve();
    if (!uid) {
      *failure = "the folder's UIDs are used up";
      return false;
    }
    if (!PutCopy(from, target->dir, name, failure)) return false;
    list.Add(*uid, ParseMessageName(name, false).unique);
    added->push_back(ParseMessageName(name, false));
    return true;
  };
  CrlfCopies copies(target->dir);
  const std::optional<FolderState> state =
      SyncFolder(session->maildir(), target->dir, put_copy, &error);
  if (!state) return Refused(*session, what, error);
  if (ListedUnder(destination) != 0) {
    ShowMessages(destination, copies, target->dir, *state, MayRebuild(*session, destination));
  }
  *action = kivimap::Allow;
}

void MaildirHost::OnDeleteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  const std::optional<MessageFile> file = Locate(*session, message, place->dir);
  if (file) {
    const std::string path = place->dir + "/" + file->RelativePath();
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return Refused(*session, "EXPUNGE of " + Printable(path), ErrnoText(errno));
    }
  }
  WideString served;
  message->get_Filename(&served);
  if (CrlfCopies::IsCopy(place->dir, served.ToNarrow())) ::unlink(served.ToNarrow().c_str());
  // Gone already (expunged by another connection) counts as removed. The UID list drops the
  // name at its next reading.
  Ref<IImapMessages> messages;
  if (kivimap::Succeeded(folder->get_Messages(&messages)) && messages) {
    messages->Remove(AsObject(message));
  }
  *action = kivimap::Allow;
}

void MaildirHost::OnCreateMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                  std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  const std::string what = "APPEND to " + Quoted(JoinLevels(place->levels));
  std::string error;
  if (!EnsureDirectory(*session, *place, &error)) return Refused(*session, what, error);
  Ref<IImapMessages> messages;
  if (kivimap::Failed(folder->get_Messages(&messages)) || !messages) return;

  std::uint32_t uid = 0;
  const LockedChange reserve = [&uid](UidList& list, std::vector<MessageFile>*,
                                      std::string* failure) {
    const std::optional<std::uint32_t> reserved = list.Reserve();
    if (!reserved) *failure = "the folder's UIDs are used up";
    uid = reserved.value_or(0);
    return reserved.has_value();
  };
  CrlfCopies copies(place->dir);
  const std::optional<FolderState> state =
      SyncFolder(session->maildir(), place->dir, reserve, &error);
  if (!state) return Refused(*session, what, error);
  // The messages other connections delivered meanwhile come before the new one.
  const Variant object = AsObject(message);
  messages->Remove(object);
  if (ListedUnder(folder) != 0)
    ShowMessages(folder, copies, place->dir, *state, MayRebuild(*session, folder));
  messages->Add(object, nullptr);
  folder->put_UID(static_cast<std::int32_t>(state->uid_validity));
  folder->put_NextMessageUID(static_cast<std::int32_t>(state->next_uid));
  message->put_UID(static_cast<std::int32_t>(uid));
  // The upload is written straight into tmp/, and moved into place once complete.
  std::string temp;
  do {
    temp = place->dir + "/tmp/" + NewUniqueName();
  } while (FileExists(temp));
  message->put_Filename(kivimap::ToWide(temp));
  *action = kivimap::Allow;
}

void MaildirHost::OnWriteMessage(IImapUser* user, IImapFolder* folder, IImapMessage* message,
                                 std::int32_t* action) {
  Ref<Session> session = LoggedIn(user);
  const std::optional<FolderPlace> place = session ? PlaceOf(*session, folder) : std::nullopt;
  if (!place) return;
  const std::string what = "APPEND to " + Quoted(JoinLevels(place->levels));
  WideString wide;
  message->get_Filename(&wide);
  const std::string temp = wide.ToNarrow();
  const std::string prefix = place->dir + "/tmp/";
  Ref<IImapMessages> messages;
  folder->get_Messages(&messages);
  const auto fail = [&](std::string_view why) {
    *action = kivimap::Deny;
    ::unlink(temp.c_str());
    if (messages) messages->Remove(AsObject(message));
    Refused(*session, what, why);
  };
  if (!temp.starts_with(prefix) || temp.find('/', prefix.size()) != std::string::npos) {
    return fail("the upload is not in the folder's tmp/");
  }
  std::string error;
  if (!SyncFile(temp, &error)) return fail(error);
  std::int32_t flags = 0, uid = 0;
  message->get_Flags(&flags);
  message->get_UID(&uid);
  const std::string unique = temp.substr(prefix.size());
  // A message without stored flags is new mail, Recent for the next SELECT.
  const MessageFile file =
      (flags & kStoredFlags) == 0
          ? ParseMessageName(unique, true)
          : ParseMessageName(MessageName(unique, InfoWithFlags("", flags)), false);
  const std::string target = place->dir + "/" + file.RelativePath();
  const LockedChange deliver = [&](UidList& list, std::vector<MessageFile>* added,
                                   std::string* failure) {
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      *failure = "cannot move the upload into place: " + ErrnoText(errno);
      return false;
    }
    list.Add(static_cast<std::uint32_t>(uid), unique);
    added->push_back(file);
    return SyncDirectory(DirectoryOf(target), failure);
  };
  CrlfCopies copies(place->dir);
  const std::optional<FolderState> state =
      SyncFolder(session->maildir(), place->dir, deliver, &error);
  if (!state && !FileExists(target)) return fail(error);
  if (!state) LogError(session->Label() + ": " + error);
  SetMessageFile(message, file, copies.ServedPath(file));
  if (state && ListedUnder(folder) != 0) {
    ShowMessages(folder, copies, place->dir, *state, MayRebuild(*session, folder));
  }
  LogDebug(session->Label() + ": delivered " + Printable(target));
}

}  // namespace kivimapd
