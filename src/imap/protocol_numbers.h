// The two ways the engine reads a decimal number from a client's text.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kivimap::imap {

// The forgiving reader of message-set numbers and partial ranges: skips leading white space,
// takes one optional '+' or '-', then adds up decimal digits modulo 2^32 until the first
// non-digit. No digits read as 0, and '-' negates modulo 2^32 ("-1" is 4294967295). Never
// fails: a malformed number selects whatever it reads as. The text ends at its first NUL.
std::uint32_t ReadSetNumber(std::string_view text);

// The strict reader of RFC 3501 "number": one or more digits and nothing else, at most
// 4294967295. Nothing for anything else.
std::optional<std::uint32_t> ParseNumber(std::string_view text);

}  // namespace kivimap::imap
