// ASCII case helpers: only A-Z and a-z are mapped, everywhere in kivimap.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kivimap {

constexpr char AsciiToLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }
constexpr char AsciiToUpper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }
// The value of a hexadecimal digit in either case, or -1.
constexpr int AsciiHexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}
constexpr char16_t AsciiToLower(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? char16_t(c - u'A' + u'a') : c;
}

void AsciiLowerInPlace(std::string& s);
void AsciiUpperInPlace(std::string& s);
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);
bool EqualsNoCase(std::string_view a, std::string_view b);
bool EqualsNoCase(std::u16string_view a, std::u16string_view b);

// Position of the first occurrence of pattern in text, comparing without regard to ASCII case.
// An empty text gives nothing; an empty pattern matches at 0 of a non-empty text.
std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view pattern);

}  // namespace kivimap
