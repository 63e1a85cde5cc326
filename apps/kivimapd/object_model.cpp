#include "object_model.h"

#include <algorithm>
#include <map>

#include "log.h"

namespace kivimapd {

using kivimap::IImapFolder;
using kivimap::IImapFolders;
using kivimap::IImapMessage;
using kivimap::IImapMessages;
using kivimap::Ref;
using kivimap::Variant;
using kivimap::WideString;

namespace {

bool StartsWith(const Levels& levels, const Levels& prefix) {
  return levels.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), levels.begin());
}

void AddMessage(IImapMessages* messages, CrlfCopies& copies, std::uint32_t uid,
                const MessageFile& file) {
  Ref<IImapMessage> message;
  if (kivimap::Failed(messages->Add(Variant(), &message)) || !message) return;
  message->put_UID(static_cast<std::int32_t>(uid));
  SetMessageFile(message.get(), file, copies.ServedPath(file));
  message->put_Flags(FlagsOfFile(file));
}

std::optional<MessageFile> ParsePlace(std::string_view relative) {
  for (const bool in_new : {false, true}) {
    const std::string_view prefix = in_new ? "new/" : "cur/";
    if (relative.size() > prefix.size() && relative.starts_with(prefix) &&
        relative.find('/', prefix.size()) == std::string_view::npos) {
      return ParseMessageName(relative.substr(prefix.size()), in_new);
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<Levels> LevelsOf(IImapFolder* folder) {
  if (!folder) return Levels{};
  WideString path;
  if (kivimap::Failed(folder->get_Path(&path))) return std::nullopt;
  return LevelsOfPath(path.ToNarrow());
}

Ref<IImapFolders> SubFoldersOf(kivimap::IImapUser* user, IImapFolder* parent) {
  Ref<IImapFolders> collection;
  if (parent) {
    parent->get_SubFolders(&collection);
  } else if (user) {
    user->get_Folders(&collection);
  }
  return collection;
}

std::vector<std::string> ChildNames(Session& session, const Levels& levels) {
  std::vector<std::string> names;
  for (const Levels& folder : session.Folders()) {
    if (folder.size() == levels.size() + 1 && StartsWith(folder, levels)) {
      names.push_back(folder.back());
    }
  }
  if (levels.empty()) {  // INBOX first, as clients expect
    const auto inbox = std::find(names.begin(), names.end(), kInbox);
    if (inbox != names.end()) std::rotate(names.begin(), inbox, inbox + 1);
  }
  return names;
}

void ShowFolderLevel(Session& session, IImapFolders* collection, const Levels& levels) {
  if (!collection) return;
  const std::vector<std::string> names = ChildNames(session, levels);
  std::int16_t count = 0;
  collection->get_Count(&count);
  std::vector<std::string> shown;
  for (std::int16_t i = count; i-- > 0;) {
    Ref<IImapFolder> folder;
    if (kivimap::Failed(collection->get_Item(Variant(static_cast<std::int32_t>(i)), &folder)) ||
        !folder) {
      continue;
    }
    WideString name;
    folder->get_Name(&name);
    const std::string narrow = name.ToNarrow();
    if (std::find(names.begin(), names.end(), narrow) == names.end()) {
      collection->Remove(Variant(static_cast<std::int32_t>(i)));  // gone from the disk
    } else {
      shown.push_back(narrow);
    }
  }
  for (const std::string& name : names) {
    if (std::find(shown.begin(), shown.end(), name) != shown.end()) continue;
    Ref<IImapFolder> folder;
    collection->Add(kivimap::ToWide(name), &folder);
  }
  // Subscriptions may have changed on another connection.
  const std::set<std::string>& subscribed = session.Subscriptions();
  collection->get_Count(&count);
  for (std::int16_t i = 0; i < count; ++i) {
    Ref<IImapFolder> folder;
    if (kivimap::Failed(collection->get_Item(Variant(static_cast<std::int32_t>(i)), &folder)) ||
        !folder) {
      continue;
    }
    WideString name;
    folder->get_Name(&name);
    Levels path = levels;
    path.push_back(name.ToNarrow());
    folder->put_Subscribed(subscribed.count(JoinLevels(path)) ? kivimap::VariantTrue
                                                              : kivimap::VariantFalse);
  }
}

std::optional<FolderState> SyncFolder(const UserMaildir& maildir, const std::string& dir,
                                      const LockedChange& change, std::string* error) {
  std::optional<UidList> list = UidList::Open(dir, maildir.root(), error);
  if (!list) return std::nullopt;
  const auto files = maildir.ScanMessages(dir, error);
  if (!files) return std::nullopt;
  std::vector<std::string> names;
  names.reserve(files->size());
  for (const MessageFile& file : *files) names.push_back(file.unique);
  if (!list->Sync(names, error)) return std::nullopt;
  std::vector<MessageFile> added;
  bool changed = true;
  if (change) changed = change(*list, &added, error);
  std::string save_error;
  if (!list->Save(&save_error)) {
    if (changed) *error = save_error;
    return std::nullopt;
  }
  if (!changed) return std::nullopt;

  FolderState state;
  state.uid_validity = list->uid_validity();
  state.next_uid = list->next_uid();
  const auto& entries = list->entries();
  for (const std::vector<MessageFile>* set : {&*files, &std::as_const(added)}) {
    for (const MessageFile& file : *set) {
      const auto entry = entries.find(file.unique);
      if (entry != entries.end()) state.messages.emplace_back(entry->second, file);
    }
  }
  std::sort(state.messages.begin(), state.messages.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  return state;
}

std::int32_t ListedUnder(IImapFolder* folder) {
  Variant tag;
  if (!folder || kivimap::Failed(folder->get_Tag(&tag)) || tag.type() != kivimap::VarType::I4 ||
      tag.IsByRef()) {
    return 0;
  }
  return tag.i4();
}

std::int32_t FlagsOfFile(const MessageFile& file) {
  return FlagsOfInfo(file.info) | (file.in_new ? kivimap::Recent : 0);
}

void SetMessageFile(IImapMessage* message, const MessageFile& file, const std::string& served) {
  const WideString place = kivimap::ToWide(file.RelativePath());
  Variant tag;
  message->get_Tag(&tag);
  if (tag.type() != kivimap::VarType::BStr || tag.IsByRef() || !(tag.bstr() == place)) {
    message->put_Tag(Variant(place));
  }
  const WideString path = kivimap::ToWide(served);
  WideString current;
  message->get_Filename(&current);
  if (!(current == path)) message->put_Filename(path);
}

void MovedMessageFile(IImapMessage* message, const std::string& dir, const MessageFile& file) {
  WideString current;
  message->get_Filename(&current);
  const std::string served = current.ToNarrow();
  // A copy with CRLF stays valid: a rename changes neither the bytes nor the unique part.
  SetMessageFile(message, file,
                 CrlfCopies::IsCopy(dir, served) ? served : dir + "/" + file.RelativePath());
}

std::optional<MessageFile> FileOf(IImapMessage* message, const std::string& dir) {
  if (!message) return std::nullopt;
  Variant tag;
  if (kivimap::Succeeded(message->get_Tag(&tag)) && tag.type() == kivimap::VarType::BStr &&
      !tag.IsByRef()) {
    return ParsePlace(tag.bstr().ToNarrow());
  }
  // A message kivimapd has not placed yet (an upload): its Filename is its file.
  WideString name;
  if (kivimap::Failed(message->get_Filename(&name))) return std::nullopt;
  const std::string path = name.ToNarrow();
  if (!path.starts_with(dir + "/")) return std::nullopt;
  return ParsePlace(std::string_view(path).substr(dir.size() + 1));
}

void ShowMessages(IImapFolder* folder, CrlfCopies& copies, const std::string& dir,
                  const FolderState& state, bool may_rebuild) {
  Ref<IImapMessages> messages;
  if (!folder || kivimap::Failed(folder->get_Messages(&messages)) || !messages) return;
  const auto validity = static_cast<std::int32_t>(state.uid_validity);

  // The objects already there, by unique name.
  std::map<std::string, Ref<IImapMessage>> existing;
  std::uint32_t highest = 0;
  std::int16_t count = 0;
  messages->get_Count(&count);
  for (std::int16_t i = 0; i < count; ++i) {
    Ref<IImapMessage> message;
    if (kivimap::Failed(messages->get_Item(i, &message)) || !message) continue;
    std::int32_t uid = 0;
    message->get_UID(&uid);
    highest = std::max(highest, static_cast<std::uint32_t>(uid));
    if (const auto file = FileOf(message.get(), dir)) existing.emplace(file->unique, message);
  }
  bool rebuild = ListedUnder(folder) != validity;
  std::size_t kept = 0;
  for (const auto& [uid, file] : state.messages) {
    if (existing.count(file.unique)) {
      ++kept;
    } else if (uid <= highest) {
      rebuild = true;  // would not come last
    }
  }
  if (kept != existing.size()) rebuild = true;  // some are gone

  if (rebuild && may_rebuild) {
    messages->RemoveAll();
    for (const auto& [uid, file] : state.messages) AddMessage(messages.get(), copies, uid, file);
  } else {
    for (const auto& [uid, file] : state.messages) {
      const auto found = existing.find(file.unique);
      if (found == existing.end()) {
        if (uid > highest) AddMessage(messages.get(), copies, uid, file);
        continue;
      }
      IImapMessage* message = found->second.get();
      SetMessageFile(message, file, copies.ServedPath(file));
      message->put_Flags(FlagsOfFile(file));
    }
  }
  folder->put_UID(validity);
  folder->put_NextMessageUID(static_cast<std::int32_t>(state.next_uid));
  folder->put_Tag(Variant(validity));
}

}  // namespace kivimapd
