#include "mail_store.h"

namespace fixture_host {

using kivimap::IImapFolder;
using kivimap::IImapFolders;
using kivimap::IImapMessage;
using kivimap::IImapMessages;
using kivimap::IImapUser;
using kivimap::Ref;
using kivimap::Variant;
using kivimap::VarType;

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

}  // namespace

MailStore::MailStore(const std::vector<FixtureFolder>& top) {
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
  const std::optional<std::int32_t> index = I4Tag(message);
  if (index && *index >= 0 && static_cast<std::size_t>(*index) < messages_.size()) {
    messages_[static_cast<std::size_t>(*index)].flags = new_flags;
  }
}

void MailStore::SubscriptionChanged(IImapFolder* folder) {
  const std::optional<std::int32_t> tag = FolderTag(folder);
  kivimap::VariantBool subscribed = kivimap::VariantFalse;
  if (tag && kivimap::Succeeded(folder->get_Subscribed(&subscribed))) {
    folders_[*tag / 4].subscribed = subscribed != kivimap::VariantFalse;
  }
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
