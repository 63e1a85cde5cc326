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

bool ReadI4Tag(const Variant& tag, std::int32_t* out) {
  if (tag.type() != VarType::I4 || tag.IsByRef()) return false;
  *out = tag.i4();
  return true;
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
    messages_.push_back(Message{m.file, m.start, m.end, m.flags, m.uid});
  }
  for (const FixtureFolder& child : entry.folders) {
    const std::size_t c = AddFolder(child);  // may grow folders_: index, not reference
    folders_[index].children.push_back(c);
  }
  return index;
}

bool MailStore::FolderLink(IImapFolder* folder, std::size_t* node, std::int32_t* bits) {
  Variant tag;
  std::int32_t value = 0;
  if (!folder || kivimap::Failed(folder->get_Tag(&tag)) || !ReadI4Tag(tag, &value) || value < 0) {
    return false;
  }
  *node = static_cast<std::size_t>(value / 4);
  *bits = value % 4;
  return true;
}

void MailStore::FillCollection(IImapFolders* collection, const std::vector<std::size_t>& nodes) {
  for (std::size_t node : nodes) {
    Folder& stored = folders_[node];
    Ref<IImapFolder> folder;
    if (kivimap::Failed(collection->Add(kivimap::ToWide(stored.name), &folder)) || !folder)
      continue;
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
  if (!user) return;
  Variant tag;
  std::int32_t value = 0;
  if (kivimap::Succeeded(user->get_Tag(&tag)) && ReadI4Tag(tag, &value) && value == kRootFilled) {
    return;
  }
  Ref<IImapFolders> root;
  if (kivimap::Failed(user->get_Folders(&root)) || !root) return;
  FillCollection(root.get(), top_);
  user->put_Tag(Variant(kRootFilled));
}

void MailStore::FillSubFolders(IImapFolder* folder) {
  std::size_t node = 0;
  std::int32_t bits = 0;
  if (!FolderLink(folder, &node, &bits) || node >= folders_.size()) return;
  if (bits & kSubFoldersFilled) return;
  Ref<IImapFolders> subs;
  if (kivimap::Failed(folder->get_SubFolders(&subs)) || !subs) return;
  FillCollection(subs.get(), folders_[node].children);
  folder->put_Tag(Variant(static_cast<std::int32_t>(node * 4) | bits | kSubFoldersFilled));
}

void MailStore::FillMessages(IImapFolder* folder) {
  std::size_t node = 0;
  std::int32_t bits = 0;
  if (!FolderLink(folder, &node, &bits) || node >= folders_.size()) return;
  if (bits & kMessagesFilled) return;
  Ref<IImapMessages> messages;
  if (kivimap::Failed(folder->get_Messages(&messages)) || !messages) return;
  Folder& stored = folders_[node];
  for (std::size_t index : stored.messages) {
    Message& m = messages_[index];
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
  folder->put_Tag(Variant(static_cast<std::int32_t>(node * 4) | bits | kMessagesFilled));
}

void MailStore::FlagsChanged(IImapMessage* message, std::int32_t new_flags) {
  if (!message) return;
  Variant tag;
  std::int32_t index = 0;
  if (kivimap::Failed(message->get_Tag(&tag)) || !ReadI4Tag(tag, &index) || index < 0 ||
      static_cast<std::size_t>(index) >= messages_.size()) {
    return;
  }
  messages_[static_cast<std::size_t>(index)].flags = new_flags;
}

void MailStore::SubscriptionChanged(IImapFolder* folder) {
  std::size_t node = 0;
  std::int32_t bits = 0;
  if (!FolderLink(folder, &node, &bits) || node >= folders_.size()) return;
  kivimap::VariantBool subscribed = kivimap::VariantFalse;
  if (kivimap::Succeeded(folder->get_Subscribed(&subscribed))) {
    folders_[node].subscribed = subscribed != kivimap::VariantFalse;
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
    out->BeginObject()
        .Key("uid")
        .Int(uid)
        .Key("flags")
        .Int(flags)
        .Key("size")
        .Int(size)
        .EndObject();
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
