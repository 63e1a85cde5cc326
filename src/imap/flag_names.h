// The six system flags: their bits, the names responses write, and the names requests match.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kivimap::imap {

// The six bits that have names; a host may keep other bits of its own in Flags.
inline constexpr std::int32_t kSystemFlags = 63;

// The names of the set bits in the order \Flagged \Seen \Answered \Deleted \Draft \Recent, one
// space between them; other bits are never written. 0 gives the empty text.
std::string FormatFlagList(std::int32_t flags);

// The bit of a flag name compared without regard to ASCII case ("\seen", "\SEEN"), or 0 for a
// keyword or anything else.
std::int32_t FlagBit(std::string_view name);

}  // namespace kivimap::imap
