#include "common/ascii.h"

namespace kivimap {

void AsciiLowerInPlace(std::string& s) {
  for (char& c : s) c = AsciiToLower(c);
}

void AsciiUpperInPlace(std::string& s) {
  for (char& c : s) c = AsciiToUpper(c);
}

std::string AsciiLower(std::string_view s) {
  std::string out(s);
  AsciiLowerInPlace(out);
  return out;
}

std::string AsciiUpper(std::string_view s) {
  std::string out(s);
  AsciiUpperInPlace(out);
  return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

bool EqualsNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiToLower(a[i]) != AsciiToLower(b[i])) return false;
  }
  return true;
}

std::optional<std::size_t> FindNoCase(std::string_view text, std::string_view pattern) {
  if (text.empty() || pattern.size() > text.size()) return std::nullopt;
  if (pattern.empty()) return 0;
  const char first = AsciiToLower(pattern[0]);
  const std::size_t last_start = text.size() - pattern.size();
  for (std::size_t pos = 0; pos <= last_start; ++pos) {
    if (AsciiToLower(text[pos]) != first) continue;
    std::size_t k = 1;
    while (k < pattern.size() && AsciiToLower(text[pos + k]) == AsciiToLower(pattern[k])) ++k;
    if (k == pattern.size()) return pos;
  }
  return std::nullopt;
}

}  // namespace kivimap
