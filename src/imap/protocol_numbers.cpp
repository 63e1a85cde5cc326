#include "imap/protocol_numbers.h"

namespace kivimap::imap {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// White space as the C library's isspace sees it in the "C" locale.
bool IsSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

std::uint32_t ReadSetNumber(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) negative = text[pos++] == '-';
  std::uint32_t value = 0;  // unsigned: the wrap-around is defined
  for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
    value = value * 10u + static_cast<std::uint32_t>(text[pos] - '0');
  }
  return negative ? 0u - value : value;
}

std::optional<std::uint32_t> ParseNumber(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

}  // namespace kivimap::imap
