// ImapFolders: an ordered collection of folders, either a user's root collection or a folder's
// sub-folders. Folders are found by index or by exact, case-sensitive name; the first match
// wins and duplicate names are allowed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"
#include "store/folder.h"

namespace kivimap::store {

class ImapFolders final : public automation::DispatchObject<IImapFolders> {
 public:
  static Ref<ImapFolders> Create();
  static ImapFolders* FromInterface(IImapFolders* folders);

  // IImapFolders
  Status get_Item(const Variant& id, Ref<IImapFolder>* out) override;
  Status get_Count(std::int16_t* out) override;
  Status Add(const WideString& name, Ref<IImapFolder>* out) override;
  Status Remove(const Variant& folder) override;
  Status RemoveAll() override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  ImapFolder* at(std::size_t i) const { return items_[i].get(); }
  // The first folder whose Name equals name exactly (a null name finds a folder without a
  // name), or null.
  ImapFolder* FindByName(const WideString& name) const;
  // The position of the first entry that is folder, or -1.
  std::ptrdiff_t IndexOf(const ImapFolder* folder) const;

  // What Add does: a new folder named name that belongs to this collection, appended at the
  // end. May throw std::bad_alloc.
  Ref<ImapFolder> AddFolder(const WideString& name);
  // Takes the first entry that is folder out of the list; false when none is.
  bool RemoveFolder(const ImapFolder* folder);

  // The user whose tree holds the collection, or null (none, or it has ended).
  IImapUser* OwnerUser() const { return owner_user_.get(); }
  void SetOwnerUser(IImapUser* user) { owner_user_.Reset(user); }
  // The folder that owns the collection, or null (a root or host-created collection, or the
  // folder has ended).
  ImapFolder* ParentFolder() const { return parent_folder_.get(); }
  void SetParentFolder(ImapFolder* folder) { parent_folder_.Reset(folder); }

  static std::span<const automation::DispatchMember<ImapFolders>> Members();

 private:
  ImapFolders() = default;

  // The entry an index or name variant names (with objects_allowed, also an object), or -1
  // for anything out of range, unmatched or of another type.
  std::ptrdiff_t Locate(const Variant& id, bool objects_allowed) const;

  std::vector<Ref<ImapFolder>> items_;
  automation::WeakRef<IImapUser> owner_user_;
  automation::WeakRef<ImapFolder> parent_folder_;
};

}  // namespace kivimap::store
