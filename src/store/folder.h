// ImapFolder: one mailbox of a user's tree. It owns its sub-folder collection and its message
// collection for its whole life; its link to the collection that created it is non-owning.
#pragma once

#include <cstdint>
#include <span>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"
#include "store/property_access.h"

namespace kivimap::store {

class ImapFolders;
class ImapMessages;

// Seconds since 1970 used for new folder UIDs. Replaceable so that tests can hold the clock.
using FolderClock = std::int64_t (*)();
// Installs a clock (null restores the system clock); returns the previous one.
FolderClock SetFolderClock(FolderClock clock);

class ImapFolder final : public automation::DispatchObject<IImapFolder> {
 public:
  // A new folder: empty child collections whose ParentFolder is this folder, Subscribed 0,
  // NextMessageUID 1, and a UID from the clock plus the process-wide folder counter, so that
  // folders created within one second (in any thread) still get different UIDs.
  static Ref<ImapFolder> Create();
  static ImapFolder* FromInterface(IImapFolder* folder);
  static ImapFolder* FromInterface(IDispatch* object);

  // IImapFolder
  Status get_Name(WideString* out) override;
  Status put_Name(const WideString& value) override;
  Status get_Messages(Ref<IImapMessages>* out) override;
  Status get_SubFolders(Ref<IImapFolders>* out) override;
  Status get_Tag(Variant* out) override;
  Status put_Tag(const Variant& value) override;
  Status get_UID(std::int32_t* out) override;
  Status put_UID(std::int32_t value) override;
  Status get_Location(WideString* out) override;
  Status put_Location(const WideString& value) override;
  Status get_Subscribed(VariantBool* out) override;
  Status put_Subscribed(VariantBool value) override;
  Status get_Path(WideString* out) override;
  Status get_NextMessageUID(std::int32_t* out) override;
  Status put_NextMessageUID(std::int32_t value) override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // The name as the client sees it: "/" and the names from the top of the tree down, joined
  // by "/" (the parent's Path, "/", the name). A folder outside any collection, or whose
  // collection or parent has ended, starts at "/". May throw std::bad_alloc.
  WideString Path() const;

  const WideString& Name() const { return name_; }
  std::int32_t Uid() const { return uid_; }
  std::int32_t NextMessageUid() const { return next_message_uid_; }
  void SetNextMessageUid(std::int32_t uid) { next_message_uid_ = uid; }
  bool IsSubscribed() const { return subscribed_ != 0; }
  ImapFolders* SubFolders() const { return sub_folders_.get(); }
  ImapMessages* Messages() const { return messages_.get(); }

  // The collection that created the folder through Add, or null (the host made it, or the
  // collection has ended).
  ImapFolders* ParentCollection() const { return parent_collection_.get(); }

  static std::span<const automation::DispatchMember<ImapFolder>> Members();

 private:
  friend class ImapFolders;  // sets ParentCollection in Add

  ImapFolder();
  ~ImapFolder() override;

  Ref<ImapFolders> sub_folders_;
  Ref<ImapMessages> messages_;
  WideString name_;
  WideString location_;
  TagValue tag_;
  std::int32_t subscribed_ = 0;  // stored as 0 or 1
  std::int32_t uid_ = 0;
  std::int32_t next_message_uid_ = 1;
  automation::WeakRef<ImapFolders> parent_collection_;
};

}  // namespace kivimap::store
