#include "store/users.h"

#include <array>
#include <utility>

#include "automation/dispatch_table.h"

namespace kivimap::store {

namespace {

constexpr InvokeFlags kGet = DispatchPropertyGet | DispatchMethod;

const std::array<automation::DispatchMember<ImapUsers>, 2> kMembers = {{
    {u"Item", 0, kGet,
     [](ImapUsers& self, DispParams& p, Variant* result) -> Status {
       if (Status s = automation::ExpectArgs(p, 1); s != StatusOk) return s;
       std::int16_t index = 0;
       if (Status s = automation::ArgInt16(p, 0, &index); s != StatusOk) return s;
       Ref<IImapUser> user;
       const Status s = self.get_Item(index, &user);
       if (s == StatusOk)
         automation::SetResult(result, Variant(static_cast<IDispatch*>(user.get())));
       return s;
     }},
    {u"Count", 1, kGet,
     [](ImapUsers& self, DispParams& p, Variant* result) -> Status {
       if (Status s = automation::ExpectArgs(p, 0); s != StatusOk) return s;
       std::int16_t count = 0;
       const Status s = self.get_Count(&count);
       if (s == StatusOk) automation::SetResult(result, Variant(count));
       return s;
     }},
}};

}  // namespace

Status ImapUsers::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<ImapUsers>(kMembers, name, id);
}

Status ImapUsers::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  try {
    return automation::DispatchInvoke<ImapUsers>(kMembers, *this, id, kind, params, result);
  } catch (const std::bad_alloc&) {
    return StatusOutOfMemory;
  }
}

Status ImapUsers::get_Item(std::int16_t index, Ref<IImapUser>* out) {
  if (!out) return StatusOk;
  if (index < 0 || static_cast<std::size_t>(index) >= users_.size()) return StatusInvalidArg;
  *out = Ref<IImapUser>(users_[static_cast<std::size_t>(index)].get());
  return StatusOk;
}

Status ImapUsers::get_Count(std::int16_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int16_t>(users_.size());
  return StatusOk;
}

void ImapUsers::Append(Ref<ImapUser> user) { users_.push_back(std::move(user)); }

void ImapUsers::Remove(const ImapUser* user) {
  for (auto it = users_.begin(); it != users_.end(); ++it) {
    if (it->get() != user) continue;
    // Out of the list before the release: a user that ends here must find it consistent.
    Ref<ImapUser> released = std::move(*it);
    users_.erase(it);
    return;
  }
}

void ImapUsers::RemoveAll() {
  std::vector<Ref<ImapUser>> released;
  released.swap(users_);
  for (auto& user : released) user.Reset();
}

std::optional<std::size_t> ImapUsers::PositionOf(const ImapUser* user) const {
  for (std::size_t i = 0; i < users_.size(); ++i) {
    if (users_[i].get() == user) return i;
  }
  return std::nullopt;
}

}  // namespace kivimap::store

namespace kivimap {

Status CreateImapUsers(Ref<IImapUsers>* out) {
  return automation::HandOut(out, [] { return new store::ImapUsers; });
}

}  // namespace kivimap
