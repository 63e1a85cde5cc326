#include "store/folder.h"

#include <atomic>
#include <ctime>
#include <vector>

#include "automation/guarded.h"
#include "store/folders.h"
#include "store/messages.h"

namespace kivimap::store {
namespace {

// Shared by the folders of every user and server in the process; hosts may run servers on
// several threads, so it is atomic.
std::atomic<std::uint32_t> g_folder_uid_counter{0};

std::int64_t SystemClock() { return static_cast<std::int64_t>(std::time(nullptr)); }

std::atomic<FolderClock> g_folder_clock{&SystemClock};

// A deeper chain of parents than this can only be a cycle; Path stops there.
constexpr int kMaxPathDepth = 65536;

}  // namespace

FolderClock SetFolderClock(FolderClock clock) {
  return g_folder_clock.exchange(clock ? clock : &SystemClock);
}

ImapFolder::ImapFolder() : sub_folders_(ImapFolders::Create()), messages_(ImapMessages::Create()) {
  sub_folders_->SetParentFolder(this);
  messages_->SetParentFolder(this);
  const auto now = static_cast<std::uint32_t>(g_folder_clock.load()());
  uid_ = static_cast<std::int32_t>(now + g_folder_uid_counter.fetch_add(1));
}

ImapFolder::~ImapFolder() = default;

Ref<ImapFolder> ImapFolder::Create() { return Ref(new ImapFolder); }

ImapFolder* ImapFolder::FromInterface(IImapFolder* folder) {
  return dynamic_cast<ImapFolder*>(folder);
}

ImapFolder* ImapFolder::FromInterface(IDispatch* object) {
  return dynamic_cast<ImapFolder*>(object);
}

WideString ImapFolder::Path() const {
  // Names from this folder up to the top; the path is written from the top down.
  std::vector<const WideString*> names;
  for (const ImapFolder* folder = this; folder && names.size() < kMaxPathDepth;) {
    names.push_back(&folder->name_);
    const ImapFolders* collection = folder->ParentCollection();
    folder = collection ? collection->ParentFolder() : nullptr;
  }
  std::u16string path;
  for (auto it = names.rbegin(); it != names.rend(); ++it) {
    path += u'/';
    path += (*it)->view();
  }
  return WideString(path);
}

Status ImapFolder::get_Name(WideString* out) { return CopyNameOut(name_, out); }

Status ImapFolder::put_Name(const WideString& value) { return automation::CopyIn(value, &name_); }

Status ImapFolder::get_Messages(Ref<IImapMessages>* out) {
  if (out) *out = Ref<IImapMessages>(messages_.get());
  return StatusOk;
}

Status ImapFolder::get_SubFolders(Ref<IImapFolders>* out) {
  if (out) *out = Ref<IImapFolders>(sub_folders_.get());
  return StatusOk;
}

Status ImapFolder::get_Tag(Variant* out) { return tag_.Get(out); }

Status ImapFolder::put_Tag(const Variant& value) { return tag_.Put(value); }

Status ImapFolder::get_UID(std::int32_t* out) { return automation::CopyOut(uid_, out); }

Status ImapFolder::put_UID(std::int32_t value) {
  uid_ = value;
  return StatusOk;
}

Status ImapFolder::get_Location(WideString* out) { return automation::CopyOut(location_, out); }

Status ImapFolder::put_Location(const WideString& value) {
  return automation::CopyIn(value, &location_);
}

Status ImapFolder::get_Subscribed(VariantBool* out) {
  if (!out) return StatusPointer;
  *out = subscribed_ != 0 ? VariantTrue : VariantFalse;
  return StatusOk;
}

Status ImapFolder::put_Subscribed(VariantBool value) {
  subscribed_ = value != 0 ? 1 : 0;
  return StatusOk;
}

Status ImapFolder::get_Path(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    *out = Path();
    return StatusOk;
  });
}

Status ImapFolder::get_NextMessageUID(std::int32_t* out) {
  return automation::CopyOut(next_message_uid_, out);
}

Status ImapFolder::put_NextMessageUID(std::int32_t value) {
  next_message_uid_ = value;
  return StatusOk;
}

}  // namespace kivimap::store
