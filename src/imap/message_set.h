// Message sets ("1:4,7,10:*"): which messages of the selected folder FETCH, STORE and COPY act
// on, as an ordered work list of zero-based positions in the folder's messages.
//
// The reading is deliberately forgiving and never reports a malformed set: a piece that names
// no message adds nothing. It differs from RFC 3501 in ways clients of this dialect see:
//   - a lone "*" selects every message (not the last one) and ends the set: "*,2" is 1..n only;
//   - "*:*" selects every message and the set goes on: "*:*,2" is 1..n, then 2;
//   - a range is not reordered: "3:1" selects nothing, "*:2" selects 1 and 2, "2:*" 2..n;
//   - duplicates stay: "1,1:2" gives 1, 1, 2.
// Sequence numbers (position + 1) compare as signed 32-bit values, so "0:3" and "-5:3" select
// 1 to 3; UIDs compare unsigned. A single number takes the first message that carries it (only
// matters for UIDs, which a host may repeat); a range takes every one, in folder order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "store/messages.h"

namespace kivimap::imap {

// Splits text at separator into at most max_count pieces and returns them as views into text.
// Empty pieces are never returned ("1,,2" and ",1,2," both give "1" and "2"); nothing after the
// max_count-th piece is looked at, and the last piece returned ends at its own separator, so
// "1:2:3" split at ':' into 2 gives "1" and "2". The text ends at its first NUL, as it would
// for a C string.
std::vector<std::string_view> SplitAtChar(std::string_view text, char separator,
                                          std::size_t max_count);

// Pieces of a set beyond this many are ignored.
inline constexpr std::size_t kMaxSetPieces = 8192;

// The most entries one set may put on the work list: 4 MB of positions, enough to name a
// 30000-message folder 33 times over. Without a cap, 8192 pieces of "1:*" would ask for
// 8192 x folder-size entries (gigabytes on a large folder) before the command could answer.
inline constexpr std::size_t kMaxWorkListEntries = 1'000'000;

enum class MessageSetResult {
  Ok,        // the work list holds the selection (possibly nothing)
  TooLarge,  // the selection would pass kMaxWorkListEntries; the work list is left empty
};

// Empties *work_list, then appends the positions that set_text selects in messages: by
// sequence number, or by UID when by_uid. A set text of any length is read whole; up to
// kMaxSetPieces pieces of it count. Each piece costs one walk over the folder at most (UIDs);
// sequence numbers are found by position.
[[nodiscard]] MessageSetResult ParseMessageSet(std::string_view set_text, bool by_uid,
                                               const store::ImapMessages& messages,
                                               std::vector<std::uint32_t>* work_list);

}  // namespace kivimap::imap
