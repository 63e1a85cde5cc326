// ImapMessages: an ordered collection of messages. It serves as a folder's Messages (position =
// sequence number - 1) and, with the same class, as a message's MIME Parts, which it splits out
// of the message file itself (SplitParts).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"
#include "store/message.h"

namespace kivimap::store {

class FileReader;
class ImapFolder;

class ImapMessages final : public automation::DispatchObject<IImapMessages> {
 public:
  static Ref<ImapMessages> Create();
  static ImapMessages* FromInterface(IImapMessages* messages);

  // IImapMessages
  Status get_Item(std::int16_t index, Ref<IImapMessage>* out) override;
  Status get_Count(std::int16_t* out) override;
  Status Add(const Variant& message, Ref<IImapMessage>* out) override;
  Status Remove(const Variant& message) override;
  Status RemoveAll() override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  ImapMessage* at(std::size_t i) const { return items_[i].get(); }
  // The position of the first entry that is message, or -1.
  std::ptrdiff_t IndexOf(const ImapMessage* message) const;

  // What Add does without an object: a new message that belongs to this collection
  // (ParentCollection, OwnerServer, its Parts' OwnerUser, UID = the parent folder's
  // NextMessageUID, which is not advanced), appended at the end. May throw std::bad_alloc.
  Ref<ImapMessage> AddNew();
  // Lists an existing message at the end, changing nothing in it.
  void Append(Ref<ImapMessage> message);
  // Takes the first entry that is message out of the list; false when none is.
  bool RemoveMessage(const ImapMessage* message);

  // The user whose tree holds the collection, or null (none, or it has ended).
  IImapUser* OwnerUser() const { return owner_user_.get(); }
  void SetOwnerUser(IImapUser* user) { owner_user_.Reset(user); }
  // The folder whose Messages this is, or null (a Parts collection, a host-created one, or the
  // folder has ended).
  ImapFolder* ParentFolder() const { return parent_folder_.get(); }
  void SetParentFolder(ImapFolder* folder);

  // The multipart split of a message's body into this (Parts) collection.
  const std::string& SplitDelimiter() const { return split_delimiter_; }
  void SetSplitDelimiter(std::string delimiter) { split_delimiter_ = std::move(delimiter); }
  std::int32_t SplitEnd() const { return split_end_; }
  void SetSplitEnd(std::int32_t end) { split_end_ = end; }
  const WideString& SplitFile() const { return split_file_; }
  void SetSplitFile(const WideString& file) { split_file_ = file; }

  // Reads the parts from file, which is positioned just after the first delimiter line, on to
  // SplitEnd (compared as signed offsets: a negative SplitEnd splits nothing) or the end of the
  // file. Each delimiter line (a line that begins with SplitDelimiter) starts a new part and
  // belongs to it; the first part starts at the first line read. May throw std::bad_alloc.
  void SplitParts(FileReader& file);
  // Drops the last part: the one the closing delimiter opened (or, without a closing
  // delimiter, the last real one).
  void DropLastPart();

  static std::span<const automation::DispatchMember<ImapMessages>> Members();

 private:
  ImapMessages() = default;

  // A message that belongs to this collection, not yet listed.
  Ref<ImapMessage> NewMember();

  std::vector<Ref<ImapMessage>> items_;
  automation::WeakRef<IImapUser> owner_user_;
  automation::WeakRef<ImapFolder> parent_folder_;
  std::string split_delimiter_;
  std::int32_t split_end_ = 0;
  WideString split_file_;
};

}  // namespace kivimap::store
