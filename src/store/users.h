// ImapUsers: the server's collection of connected users, in the order they were accepted. Each
// entry holds one reference to its user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "automation/dispatch_object.h"
#include "kivimap/interfaces.h"
#include "store/user.h"

namespace kivimap::store {

class ImapUsers final : public automation::DispatchObject<IImapUsers> {
 public:
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // IImapUsers
  Status get_Item(std::int16_t index, Ref<IImapUser>* out) override;
  Status get_Count(std::int16_t* out) override;

  // The server's side (not host-visible).
  // Adds the user at the end; the collection takes over the reference. Throws std::bad_alloc.
  void Append(Ref<ImapUser> user);
  // Removes the user (found by identity) and releases the collection's reference to it.
  void Remove(const ImapUser* user);
  // Releases every user, first to last, and empties the collection.
  void RemoveAll();
  std::optional<std::size_t> PositionOf(const ImapUser* user) const;
  std::size_t size() const { return users_.size(); }

 private:
  std::vector<Ref<ImapUser>> users_;
};

}  // namespace kivimap::store
