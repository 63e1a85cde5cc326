// Sequence sets inside SEARCH keys, read as RFC 3501 (9, "sequence-set") defines them. These
// differ on purpose from the sets FETCH, STORE and COPY take (message_set.h):
//   - "*" is the highest number in use (sequence number or UID), not every message;
//   - a range covers the numbers between its ends in either order: "4:2" is "2:4";
//   - so "n:*" with n above the highest number still covers the highest message, which is how
//     clients ask for new mail ("UID SEARCH UID n:*");
//   - 0 is no number, and a malformed set is a syntax error, not an empty selection.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace kivimap::imap {

class SearchSet {
 public:
  // Reads a set such as "1:4,7,10:*"; nothing when it is not one.
  static std::optional<SearchSet> Parse(std::string_view text);

  // Settles "*" as highest (the highest sequence number or UID in use) and sorts and merges the
  // ranges, so that Contains costs a binary search. A folder with no messages has no highest
  // number: pass nothing, and the set then contains nothing at all.
  void Resolve(std::optional<std::uint32_t> highest);
  // After Resolve.
  bool Contains(std::uint32_t number) const;

 private:
  // A number, or "*" (held as 0, which no number can be).
  struct Range {
    std::uint32_t first;
    std::uint32_t last;
  };
  std::vector<Range> written_;   // as the client wrote them
  std::vector<Range> resolved_;  // sorted, disjoint, not adjacent
};

}  // namespace kivimap::imap
