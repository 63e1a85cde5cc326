#include "store/folders.h"

#include "automation/guarded.h"
#include "store/messages.h"
#include "store/variant_args.h"

namespace kivimap::store {

Ref<ImapFolders> ImapFolders::Create() { return Ref(new ImapFolders); }

ImapFolders* ImapFolders::FromInterface(IImapFolders* folders) {
  return dynamic_cast<ImapFolders*>(folders);
}

ImapFolder* ImapFolders::FindByName(const WideString& name) const {
  for (const auto& folder : items_) {
    if (folder->Name() == name) return folder.get();
  }
  return nullptr;
}

std::ptrdiff_t ImapFolders::IndexOf(const ImapFolder* folder) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == folder) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

Ref<ImapFolder> ImapFolders::AddFolder(const WideString& name) {
  Ref<ImapFolder> folder = ImapFolder::Create();
  folder->parent_collection_.Reset(this);
  folder->SubFolders()->SetOwnerUser(OwnerUser());
  folder->Messages()->SetOwnerUser(OwnerUser());
  folder->name_ = name;
  items_.push_back(folder);
  return folder;
}

bool ImapFolders::RemoveFolder(const ImapFolder* folder) {
  const std::ptrdiff_t i = IndexOf(folder);
  if (i < 0) return false;
  // Moved out first: releasing it may end the folder and its whole sub-tree.
  Ref<ImapFolder> removed = std::move(items_[static_cast<std::size_t>(i)]);
  items_.erase(items_.begin() + i);
  return true;
}

std::ptrdiff_t ImapFolders::Locate(const Variant& id, bool objects_allowed) const {
  const Variant key = ResolveVariant(id);
  if (const auto index = VariantIndex(key)) {
    if (*index < 0 || static_cast<std::size_t>(*index) >= items_.size()) return -1;
    return *index;
  }
  if (const WideString* name = VariantString(key)) {
    return IndexOf(FindByName(*name));
  }
  if (objects_allowed && key.type() == VarType::Dispatch) {
    const ImapFolder* folder = ImapFolder::FromInterface(VariantObject(key));
    return folder ? IndexOf(folder) : -1;
  }
  return -1;
}

Status ImapFolders::get_Item(const Variant& id, Ref<IImapFolder>* out) {
  return automation::Guarded([&] {
    const std::ptrdiff_t i = Locate(id, /*objects_allowed=*/false);
    if (i < 0) return StatusInvalidArg;
    if (out) *out = Ref<IImapFolder>(items_[static_cast<std::size_t>(i)].get());
    return StatusOk;
  });
}

Status ImapFolders::get_Count(std::int16_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int16_t>(items_.size());
  return StatusOk;
}

Status ImapFolders::Add(const WideString& name, Ref<IImapFolder>* out) {
  return automation::Guarded([&] {
    Ref<ImapFolder> folder = AddFolder(name);
    if (out) *out = Ref<IImapFolder>(folder.get());
    return StatusOk;
  });
}

Status ImapFolders::Remove(const Variant& folder) {
  return automation::Guarded([&] {
    const std::ptrdiff_t i = Locate(folder, /*objects_allowed=*/true);
    if (i < 0) return StatusInvalidArg;
    Ref<ImapFolder> removed = std::move(items_[static_cast<std::size_t>(i)]);
    items_.erase(items_.begin() + i);
    return StatusOk;
  });
}

Status ImapFolders::RemoveAll() {
  // The list is empty before the first folder ends; they end from the front.
  std::vector<Ref<ImapFolder>> removed;
  removed.swap(items_);
  for (auto& folder : removed) folder.Reset();
  return StatusOk;
}

}  // namespace kivimap::store
