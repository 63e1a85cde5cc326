#include "store/users.h"

#include <algorithm>
#include <array>
#include <utility>

#include "automation/dispatch_table.h"

namespace kivimap::store {

namespace {

using namespace automation::glue;  // NOLINT: table building blocks

const std::array<automation::DispatchMember<ImapUsers>, 2> kMembers = {{
    {u"Item", DispIdValue, kGet, GetWith<&ImapUsers::get_Item>},
    {u"Count", 1, kGet, Get<&ImapUsers::get_Count>},
}};

}  // namespace

Status ImapUsers::GetIDsOfNames(std::u16string_view name, DispId* id) {
  return automation::DispatchGetIDsOfNames<ImapUsers>(kMembers, name, id);
}

Status ImapUsers::Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) {
  return automation::DispatchInvoke<ImapUsers>(kMembers, *this, id, kind, params, result);
}

Status ImapUsers::get_Item(std::int16_t index, Ref<IImapUser>* out) {
  if (!out) return StatusOk;
  if (index < 0 || static_cast<std::size_t>(index) >= live_) return StatusInvalidArg;
  *out = Ref<IImapUser>(slots_[SlotAt(static_cast<std::size_t>(index))].get());
  return StatusOk;
}

Status ImapUsers::get_Count(std::int16_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int16_t>(live_);
  return StatusOk;
}

bool ImapUsers::Holds(const ImapUser* user) const {
  return user && user->users_slot < slots_.size() && slots_[user->users_slot].get() == user;
}

void ImapUsers::Append(Ref<ImapUser> user) {
  if (!user || Holds(user.get())) return;
  slots_.push_back(std::move(user));
  slots_.back()->users_slot = slots_.size() - 1;
  ++live_;
}

void ImapUsers::Remove(const ImapUser* user) {
  if (!Holds(user)) return;
  const std::size_t slot = user->users_slot;
  // Out of the list before the release: a user that ends here must find it consistent.
  Ref<ImapUser> released = std::move(slots_[slot]);
  released->users_slot = kNoSlot;
  --live_;
  first_hole_ = std::min(first_hole_, slot);
  if (visiting_ == 0 && slots_.size() - live_ > live_) Compact();
}

void ImapUsers::RemoveAll() {
  std::vector<Ref<ImapUser>> released;
  released.swap(slots_);
  live_ = 0;
  first_hole_ = kNoSlot;
  for (auto& user : released) {
    if (user) user->users_slot = kNoSlot;
  }
  for (auto& user : released) user.Reset();
}

std::optional<std::size_t> ImapUsers::PositionOf(const ImapUser* user) {
  if (!Holds(user)) return std::nullopt;
  if (user->users_slot < first_hole_) return user->users_slot;
  if (visiting_ == 0) {
    Compact();
    return user->users_slot;
  }
  std::size_t position = first_hole_;
  for (std::size_t slot = first_hole_; slot < user->users_slot; ++slot) {
    if (slots_[slot]) ++position;
  }
  return position;
}

std::size_t ImapUsers::SlotAt(std::size_t position) {
  if (position < first_hole_) return position;
  if (visiting_ == 0) {
    Compact();
    return position;
  }
  std::size_t slot = first_hole_;
  for (std::size_t live = first_hole_;; ++slot) {
    if (!slots_[slot]) continue;
    if (live == position) return slot;
    ++live;
  }
}

void ImapUsers::Compact() {
  std::size_t to = 0;
  for (std::size_t from = 0; from < slots_.size(); ++from) {
    if (!slots_[from]) continue;
    if (from != to) slots_[to] = std::move(slots_[from]);
    slots_[to]->users_slot = to;
    ++to;
  }
  slots_.resize(to);  // only moved-from nulls are dropped: nothing is released here
  first_hole_ = kNoSlot;
}

}  // namespace kivimap::store

namespace kivimap {

Status CreateImapUsers(Ref<IImapUsers>* out) {
  return automation::HandOut(out, [] { return new store::ImapUsers; });
}

}  // namespace kivimap
