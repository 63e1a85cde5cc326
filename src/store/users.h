// ImapUsers: the server's collection of connected users, in the order they were accepted. Each
// entry holds one reference to its user.
//
// Users connect and leave all the time, so removal must not search or shift the list: each user
// knows its slot (ImapUser::users_slot, kept by this class alone), and a removed user leaves a
// hole. Positions as the host sees them (Item, Index) count live users only; they are made
// dense again, holes squeezed out and slots renumbered, when a position past the first hole is
// asked for or when holes outnumber users (but never while ForEachUser runs). A compaction for
// holes outnumbering users is paid for by the removals that made them, so connecting and leaving
// cost O(1) amortised; Item or Index after a removal may cost one pass over the list.
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
  // Adds the user at the end; the collection takes over the reference. A user already in the
  // collection stays where it is. Throws std::bad_alloc.
  void Append(Ref<ImapUser> user);
  // Removes the user and releases the collection's reference to it; a user that is not in this
  // collection is left alone.
  void Remove(const ImapUser* user);
  // Releases every user, first to last, and empties the collection.
  void RemoveAll();
  // The user's position among the live users (what Index reports), or nothing.
  std::optional<std::size_t> PositionOf(const ImapUser* user);
  // The number of live users.
  std::size_t size() const { return live_; }
  // Calls f(ImapUser&) for each user, first to last. f may remove users (one not yet visited is
  // then skipped) or add them (they are not visited); the user being visited lives until f
  // returns.
  template <class F>
  void ForEachUser(F&& f) {
    struct Visit {
      explicit Visit(int* count) : n(count) { ++*n; }
      ~Visit() { --*n; }
      int* n;
    } visit(&visiting_);
    const std::size_t end = slots_.size();
    for (std::size_t i = 0; i < end && i < slots_.size(); ++i) {
      if (!slots_[i]) continue;
      Ref<ImapUser> user = slots_[i];
      f(*user);
    }
  }
  // Calls visit(ImapUser&) for every live user, first to last.
  template <class Visit>
  void ForEachUser(Visit visit) const {
    for (const Ref<ImapUser>& user : slots_) {
      if (user) visit(*user);
    }
  }

 private:
  static constexpr std::size_t kNoSlot = static_cast<std::size_t>(-1);

  // Whether user sits in one of this collection's slots.
  bool Holds(const ImapUser* user) const;
  // Squeezes the holes out, keeping the order, and renumbers the users' slots.
  void Compact();
  // The slot of the live user at position; during ForEachUser, found by counting instead of by
  // compacting.
  std::size_t SlotAt(std::size_t position);

  // In the order of Append; a removed user leaves a null hole until the next Compact.
  std::vector<Ref<ImapUser>> slots_;
  std::size_t live_ = 0;
  // The lowest slot that is a hole (kNoSlot when none): slots below it are positions already.
  std::size_t first_hole_ = kNoSlot;
  // While ForEachUser runs, nothing compacts, so slots keep their places.
  int visiting_ = 0;
};

}  // namespace kivimap::store
