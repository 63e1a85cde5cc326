#include "mail_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>

namespace fixture_host {

using kivimap::IDispatch;
using kivimap::IImapFolder;
using kivimap::IImapFolders;
using kivimap::IImapMessage;
using kivimap::IImapMessages;
using kivimap::IImapUser;
using kivimap::Ref;
using kivimap::Variant;
using kivimap::VarType;
using kivimap::WideString;

namespace {

constexpr std::int32_t kSubFoldersFilled = 1;
constexpr std::int32_t kMessagesFilled = 2;
constexpr std::int32_t kRootFilled = 1;

// The object's Tag when it is an I4 (the link to the store), else nothing.
template <class Object>
std::optional<std::int32_t> I4Tag(Object* object) {
  Variant tag;
  if (!object || kivimap::Failed(object->get_Tag(&tag)) || tag.type() != VarType::I4 ||
      tag.IsByRef()) {
    return std::nullopt;
  }
  return tag.i4();
}

void Erase(std::vector<std::size_t>& list, std::size_t value) {
  list.erase(std::remove(list.begin(), list.end(), value), list.end());
}

// The object as a variant, the form in which collections' Remove and Add take it.
Variant ObjectVariant(IDispatch* object) { return Variant(object); }

// Writes all n bytes; false on an error.
bool WriteAll(int fd, const char* data, std::size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    n -= static_cast<std::size_t>(done);
  }
  return true;
}

}  // namespace

MailStore::MailStore(const std::vector<FixtureFolder>& top, std::string append_dir)
    : append_dir_(std::move(append_dir)) {
  for (const FixtureFolder& entry : top) top_.push_back(AddFolder(entry));
}

std::size_t MailStore::AddFolder(const FixtureFolder& entry) {
  const std::size_t index = folders_.size();
  folders_.push_back(Folder{entry.name, entry.uid, entry.nextuid, entry.subscribed, {}, {}});
  for (const FixtureMessage& m : entry.messages) {
    folders_[index].messages.push_back(messages_.size());
    messages_.push_back(m);
  }
  for (const FixtureFolder& child : entry.folders) {
    const std::size_t c = AddFolder(child);  // may grow folders_: index, not reference
    folders_[index].children.push_back(c);
  }
  return index;
}

std::optional<std::int32_t> MailStore::FolderTag(IImapFolder* folder) const {
  const std::optional<std::int32_t> tag = I4Tag(folder);
  if (!tag || *tag < 0 || static_cast<std::size_t>(*tag / 4) >= folders_.size()) {
    return std::nullopt;
  }
  return tag;
}

std::optional<std::size_t> MailStore::FolderNode(IImapFolder* folder) const {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  if (!tag) return std::nullopt;
  return static_cast<std::size_t>(*tag / 4);
}

std::optional<std::size_t> MailStore::MessageIndex(IImapMessage* message) const {
  const std::optional<std::int32_t> index = I4Tag(message);
  if (!index || *index < 0 || static_cast<std::size_t>(*index) >= messages_.size()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(*index);
}

std::vector<std::size_t>* MailStore::ListHolding(std::size_t node) {
  const auto holds = [node](const std::vector<std::size_t>& list) {
    return std::find(list.begin(), list.end(), node) != list.end();
  };
  if (holds(top_)) return &top_;
  for (Folder& f : folders_) {
    if (holds(f.children)) return &f.children;
  }
  return nullptr;  // deleted, or below a deleted folder
}

bool MailStore::Contains(std::size_t root, std::size_t node) const {
  std::vector<std::size_t> pending{root};
  while (!pending.empty()) {
    const std::size_t at = pending.back();
    pending.pop_back();
    if (at == node) return true;
    const std::vector<std::size_t>& children = folders_[at].children;
    pending.insert(pending.end(), children.begin(), children.end());
  }
  return false;
}

void MailStore::FillCollection(IImapFolders* collection, const std::vector<std::size_t>& nodes) {
  for (std::size_t node : nodes) {
    Folder& stored = folders_[node];
    Ref<IImapFolder> folder;
    if (kivimap::Failed(collection->Add(kivimap::ToWide(stored.name), &folder)) || !folder) {
      continue;
    }
    if (stored.uid) {
      folder->put_UID(*stored.uid);
    } else {
      // The component chose a UIDVALIDITY; keep it, so every later connection sees the same.
      std::int32_t uid = 0;
      if (kivimap::Succeeded(folder->get_UID(&uid))) stored.uid = uid;
    }
    if (stored.nextuid) folder->put_NextMessageUID(*stored.nextuid);
    folder->put_Subscribed(stored.subscribed ? kivimap::VariantTrue : kivimap::VariantFalse);
    folder->put_Tag(Variant(static_cast<std::int32_t>(node * 4)));
  }
}

void MailStore::FillRoot(IImapUser* user) {
  Ref<IImapFolders> root;
  if (!user || I4Tag(user) == kRootFilled || kivimap::Failed(user->get_Folders(&root)) || !root) {
    return;
  }
  FillCollection(root.get(), top_);
  user->put_Tag(Variant(kRootFilled));
}

void MailStore::FillSubFolders(IImapFolder* folder) {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  Ref<IImapFolders> subs;
  if (!tag || (*tag & kSubFoldersFilled) || kivimap::Failed(folder->get_SubFolders(&subs)) ||
      !subs) {
    return;
  }
  FillCollection(subs.get(), folders_[*tag / 4].children);
  folder->put_Tag(Variant(*tag | kSubFoldersFilled));
}

void MailStore::FillMessages(IImapFolder* folder) {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  Ref<IImapMessages> messages;
  if (!tag || (*tag & kMessagesFilled) || kivimap::Failed(folder->get_Messages(&messages)) ||
      !messages) {
    return;
  }
  Folder& stored = folders_[*tag / 4];
  for (std::size_t index : stored.messages) {
    FixtureMessage& m = messages_[index];
    Ref<IImapMessage> message;
    if (kivimap::Failed(messages->Add(Variant(), &message)) || !message) continue;
    message->put_Filename(kivimap::ToWide(m.file));  // sets the range to the whole file
    if (m.start) message->put_StartPosition(*m.start);
    if (m.end) message->put_EndPosition(*m.end);
    message->put_Flags(m.flags);
    if (m.uid) {
      message->put_UID(*m.uid);
    } else {
      // Add gave it the folder's NextMessageUID; a real host then moves that on and keeps both.
      std::int32_t uid = 0;
      if (kivimap::Succeeded(message->get_UID(&uid))) {
        m.uid = uid;
        stored.nextuid = uid + 1;
        folder->put_NextMessageUID(uid + 1);
      }
    }
    message->put_Tag(Variant(static_cast<std::int32_t>(index)));
  }
  folder->put_Tag(Variant(*tag | kMessagesFilled));
}

void MailStore::FlagsChanged(IImapMessage* message, std::int32_t new_flags) {
  if (const std::optional<std::size_t> index = MessageIndex(message)) {
    messages_[*index].flags = new_flags;
  }
}

void MailStore::SubscriptionChanged(IImapFolder* folder) {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  kivimap::VariantBool subscribed = kivimap::VariantFalse;
  if (tag && kivimap::Succeeded(folder->get_Subscribed(&subscribed))) {
    folders_[*tag / 4].subscribed = subscribed != kivimap::VariantFalse;
  }
}

void MailStore::Show(IImapUser* user, IImapFolder* parent, std::size_t node) {
  Ref<IImapFolders> collection;
  if (parent) {
    const std::optional<std::int32_t> tag = FolderTag(parent);
    if (!tag) return;
    if (!(*tag & kSubFoldersFilled)) {
      FillSubFolders(parent);  // brings the new entry with the others
      return;
    }
    parent->get_SubFolders(&collection);
  } else {
    if (!user) return;
    if (I4Tag(user) != kRootFilled) {
      FillRoot(user);
      return;
    }
    user->get_Folders(&collection);
  }
  if (collection) FillCollection(collection.get(), std::vector<std::size_t>{node});
}

void MailStore::CreateFolder(IImapUser* user, IImapFolder* parent, const WideString& name) {
  std::optional<std::size_t> parent_node;
  if (parent) {
    parent_node = FolderNode(parent);
    if (!parent_node) return;  // not a folder of this store: there is nowhere to create it
  }
  const std::size_t node = folders_.size();
  folders_.push_back(Folder{name.ToNarrow(), std::nullopt, std::nullopt, false, {}, {}});
  (parent_node ? folders_[*parent_node].children : top_).push_back(node);
  Show(user, parent, node);
}

void MailStore::DeleteFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder) {
  if (!folder) return;
  // The folder's sub-tree and messages go with it; no message file is deleted.
  if (const std::optional<std::size_t> node = FolderNode(folder)) {
    if (std::vector<std::size_t>* list = ListHolding(*node)) Erase(*list, *node);
  }
  Ref<IImapFolders> collection;
  if (parent) {
    parent->get_SubFolders(&collection);
  } else if (user) {
    user->get_Folders(&collection);
  }
  if (collection) collection->Remove(ObjectVariant(folder));
}

bool MailStore::MoveFolder(IImapUser* user, IImapFolder* parent, IImapFolder* folder,
                           IImapFolder* destination, const WideString& name) {
  const std::optional<std::size_t> node = FolderNode(folder);
  const std::optional<std::size_t> target = FolderNode(destination);
  if (!node || (destination && !target) || (target && Contains(*node, *target))) return false;
  std::vector<std::size_t>* from = ListHolding(*node);
  if (!from) return false;
  Erase(*from, *node);
  folders_[*node].name = name.ToNarrow();
  (target ? folders_[*target].children : top_).push_back(*node);

  if (parent == destination) {  // a new name in the same place: the object stays
    folder->put_Name(name);
    return true;
  }
  // Another parent: the object leaves its collection, and the destination shows the folder as a
  // new object, whose sub-folders and messages are filled from the store when asked for.
  Ref<IImapFolders> old_collection;
  if (parent) {
    parent->get_SubFolders(&old_collection);
  } else if (user) {
    user->get_Folders(&old_collection);
  }
  if (old_collection) old_collection->Remove(ObjectVariant(folder));
  Show(user, destination, *node);
  return true;
}

void MailStore::DeleteMessage(IImapFolder* folder, IImapMessage* message) {
  if (!message) return;
  // The message file stays: it may be shared with other messages or be the tests' own data.
  if (const std::optional<std::size_t> index = MessageIndex(message)) {
    for (Folder& f : folders_) Erase(f.messages, *index);
  }
  Ref<IImapMessages> messages;
  if (folder) folder->get_Messages(&messages);
  if (messages) messages->Remove(ObjectVariant(message));
}

void MailStore::CopyMessage(IImapFolder* destination, IImapMessage* message) {
  const std::optional<std::int32_t> tag = FolderTag(destination);
  if (!tag || !message) return;
  FixtureMessage entry;
  WideString file;
  std::int32_t start = 0;
  std::int32_t end = 0;
  std::int32_t uid = 1;
  message->get_Filename(&file);
  message->get_StartPosition(&start);
  message->get_EndPosition(&end);
  message->get_Flags(&entry.flags);
  destination->get_NextMessageUID(&uid);
  entry.file = file.ToNarrow();
  entry.start = start;
  entry.end = end;
  entry.uid = uid;
  Folder& stored = folders_[*tag / 4];
  stored.nextuid = uid + 1;
  destination->put_NextMessageUID(uid + 1);
  const std::size_t index = messages_.size();
  messages_.push_back(entry);
  stored.messages.push_back(index);
  // A destination listed on this connection shows the copy at once; one listed later gets it
  // from the store.
  Ref<IImapMessages> messages;
  Ref<IImapMessage> copy;
  if (!(*tag & kMessagesFilled) || kivimap::Failed(destination->get_Messages(&messages)) ||
      !messages || kivimap::Failed(messages->Add(Variant(), &copy)) || !copy) {
    return;
  }
  copy->put_Filename(file);
  copy->put_StartPosition(start);
  copy->put_EndPosition(end);
  copy->put_Flags(entry.flags);
  copy->put_UID(uid);
  copy->put_Tag(Variant(static_cast<std::int32_t>(index)));
}

void MailStore::CreateMessage(IImapFolder* folder, IImapMessage* message) {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  if (!tag || !message) return;
  Ref<IImapMessages> messages;
  if (!(*tag & kMessagesFilled) && kivimap::Succeeded(folder->get_Messages(&messages)) &&
      messages) {
    // The folder's stored messages were not listed on this connection yet. They come before
    // the new one, as they would have if the client had selected the folder first.
    const Variant object = ObjectVariant(message);
    if (kivimap::Succeeded(messages->Remove(object))) {
      FillMessages(folder);
      messages->Add(object, nullptr);
    }
  }
  Folder& stored = folders_[*tag / 4];
  std::int32_t next = 0;
  if (kivimap::Succeeded(folder->get_NextMessageUID(&next))) stored.nextuid = next;  // used up
  FixtureMessage entry;
  message->get_Flags(&entry.flags);
  std::int32_t uid = 0;
  if (kivimap::Succeeded(message->get_UID(&uid))) entry.uid = uid;
  // Listed in the store folder only once WriteMessage keeps it with its file.
  message->put_Tag(Variant(static_cast<std::int32_t>(messages_.size())));
  messages_.push_back(std::move(entry));
}

void MailStore::WriteMessage(IImapFolder* folder, IImapMessage* message) {
  const std::optional<std::size_t> node = FolderNode(folder);
  if (!node || !message || append_dir_.empty()) return;
  std::int32_t folder_uid = 0;
  folder->get_UID(&folder_uid);
  const std::string file = KeepFile(message, folder_uid);
  if (file.empty()) return;
  // The message now reads from the kept file; the component drops its temporary one.
  message->put_Filename(kivimap::ToWide(file));

  std::optional<std::size_t> index = MessageIndex(message);
  if (!index) {  // not seen in CreateMessage
    index = messages_.size();
    messages_.emplace_back();
    message->put_Tag(Variant(static_cast<std::int32_t>(*index)));
  }
  FixtureMessage& entry = messages_[*index];
  entry.file = file;
  entry.start.reset();
  entry.end.reset();
  message->get_Flags(&entry.flags);
  std::int32_t uid = 0;
  if (kivimap::Succeeded(message->get_UID(&uid))) entry.uid = uid;
  std::vector<std::size_t>& listed = folders_[*node].messages;
  if (std::find(listed.begin(), listed.end(), *index) == listed.end()) listed.push_back(*index);
}

std::string MailStore::KeepFile(IImapMessage* message, std::int32_t folder_uid) {
  WideString source;
  std::int32_t start = 0, end = 0, uid = 0;
  if (kivimap::Failed(message->get_Filename(&source)) || source.empty() ||
      kivimap::Failed(message->get_StartPosition(&start)) ||
      kivimap::Failed(message->get_EndPosition(&end)) || start < 0 || end < start) {
    return {};
  }
  message->get_UID(&uid);
  // <UIDVALIDITY>-<UID>.eml; a file already there is never overwritten.
  const std::string stem = append_dir_ + std::to_string(folder_uid) + "-" + std::to_string(uid);
  std::string name;
  int out = -1;
  for (int n = 1; out < 0 && n <= 1000; ++n) {
    name = stem;
    if (n > 1) name.append(1, '-').append(std::to_string(n));
    name.append(".eml");
    out = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (out < 0 && errno != EEXIST) return {};
  }
  if (out < 0) return {};
  const int in = open(source.ToNarrow().c_str(), O_RDONLY | O_CLOEXEC);
  bool ok = in >= 0;
  char buffer[65536];
  for (off_t at = start; ok && at < end;) {
    const std::size_t want = std::min<off_t>(sizeof buffer, end - at);
    const ssize_t got = pread(in, buffer, want, at);
    if (got < 0 && errno == EINTR) continue;
    ok = got > 0 && WriteAll(out, buffer, static_cast<std::size_t>(got));  // 0: file too short
    at += got;
  }
  if (in >= 0) close(in);
  if (close(out) != 0) ok = false;
  if (!ok) {
    unlink(name.c_str());
    return {};
  }
  return name;
}

namespace {

void WriteMessages(IImapMessages* messages, JsonWriter* out) {
  out->BeginArray();
  std::int16_t count = 0;
  if (messages) messages->get_Count(&count);
  for (std::int16_t i = 0; i < count; ++i) {
    Ref<IImapMessage> m;
    if (kivimap::Failed(messages->get_Item(i, &m)) || !m) continue;
    std::int32_t uid = 0, flags = 0, size = 0;
    m->get_UID(&uid);
    m->get_Flags(&flags);
    m->get_Size(&size);
    out->BeginObject().Key("uid").Int(uid).Key("flags").Int(flags);
    out->Key("size").Int(size).EndObject();
  }
  out->EndArray();
}

void WriteFolders(IImapFolders* folders, JsonWriter* out) {
  out->BeginArray();
  std::int16_t count = 0;
  if (folders) folders->get_Count(&count);
  for (std::int16_t i = 0; i < count; ++i) {
    Ref<IImapFolder> f;
    if (kivimap::Failed(folders->get_Item(Variant(static_cast<std::int32_t>(i)), &f)) || !f) {
      continue;
    }
    kivimap::WideString name, path;
    std::int32_t uid = 0, nextuid = 0;
    kivimap::VariantBool subscribed = kivimap::VariantFalse;
    f->get_Name(&name);
    f->get_Path(&path);
    f->get_UID(&uid);
    f->get_NextMessageUID(&nextuid);
    f->get_Subscribed(&subscribed);
    out->BeginObject();
    out->Key("name").Wide(name).Key("path").Wide(path);
    out->Key("uid").Int(uid).Key("nextuid").Int(nextuid);
    out->Key("subscribed").Bool(subscribed != kivimap::VariantFalse);
    Ref<IImapMessages> messages;
    f->get_Messages(&messages);
    out->Key("messages");
    WriteMessages(messages.get(), out);
    Ref<IImapFolders> subs;
    f->get_SubFolders(&subs);
    out->Key("folders");
    WriteFolders(subs.get(), out);
    out->EndObject();
  }
  out->EndArray();
}

}  // namespace

void MailStore::WriteTree(IImapUser* user, JsonWriter* out) {
  Ref<IImapFolders> root;
  if (user) user->get_Folders(&root);
  WriteFolders(root.get(), out);
}

}  // namespace fixture_host
