// The 8-bit code page: UTF-8, with every byte that is not part of a well-formed sequence carried
// through as the lone surrogate U+DC00 + byte, so that no 8-bit text is ever altered.
#include "kivimap/wide_string.h"

#include <cstdint>
#include <cstring>

namespace kivimap {

namespace {

constexpr char16_t kEscapeBase = 0xDC00;
constexpr char kNoNarrowForm = '?';

bool IsContinuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// True when the 8 bytes at p are all ASCII.
bool AllAscii8(const unsigned char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, sizeof word);
  return (word & 0x8080808080808080ull) == 0;
}

// Decodes one well-formed UTF-8 sequence at p (p[0] >= 0x80). Returns its length in bytes and
// stores the code point, or returns 0 when the lead byte does not start a well-formed sequence:
// overlong forms, encoded surrogates, values above U+10FFFF and truncated sequences all fail.
std::size_t DecodeSequence(const unsigned char* p, std::size_t left, char32_t* cp) {
  const unsigned char b0 = p[0];
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    if (left < 2 || !IsContinuation(p[1])) return 0;
    *cp = char32_t((b0 & 0x1F) << 6 | (p[1] & 0x3F));
    return 2;
  }
  if (b0 >= 0xE0 && b0 <= 0xEF) {
    if (left < 3) return 0;
    const unsigned char lo = b0 == 0xE0 ? 0xA0 : 0x80;
    const unsigned char hi = b0 == 0xED ? 0x9F : 0xBF;
    if (p[1] < lo || p[1] > hi || !IsContinuation(p[2])) return 0;
    *cp = char32_t((b0 & 0x0F) << 12 | (p[1] & 0x3F) << 6 | (p[2] & 0x3F));
    return 3;
  }
  if (b0 >= 0xF0 && b0 <= 0xF4) {
    if (left < 4) return 0;
    const unsigned char lo = b0 == 0xF0 ? 0x90 : 0x80;
    const unsigned char hi = b0 == 0xF4 ? 0x8F : 0xBF;
    if (p[1] < lo || p[1] > hi || !IsContinuation(p[2]) || !IsContinuation(p[3])) return 0;
    *cp = char32_t((b0 & 0x07) << 18 | (p[1] & 0x3F) << 12 | (p[2] & 0x3F) << 6 | (p[3] & 0x3F));
    return 4;
  }
  return 0;
}

// Bytes the code unit(s) at p take in 8-bit form; *units receives how many code units they are.
std::size_t NarrowLength(const char16_t* p, std::size_t left, std::size_t* units) {
  const char16_t c = p[0];
  *units = 1;
  if (c < 0x80) return 1;
  if (c < 0x800) return 2;
  if (c >= 0xD800 && c <= 0xDBFF && left >= 2 && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
    *units = 2;
    return 4;
  }
  if (c >= 0xD800 && c <= 0xDFFF) return 1;  // an escaped byte, or '?'
  return 3;
}

}  // namespace

WideString ToWide(std::string_view narrow) {
  const auto* in = reinterpret_cast<const unsigned char*>(narrow.data());
  const std::size_t n = narrow.size();
  std::u16string out(n, u'\0');  // never more code units than bytes
  char16_t* o = out.data();
  std::size_t i = 0;
  while (i < n) {
    while (i + 8 <= n && AllAscii8(in + i)) {
      for (int k = 0; k < 8; ++k) o[k] = in[i + k];
      o += 8;
      i += 8;
    }
    if (i >= n) break;
    const unsigned char b = in[i];
    if (b < 0x80) {
      *o++ = b;
      ++i;
      continue;
    }
    char32_t cp = 0;
    const std::size_t len = DecodeSequence(in + i, n - i, &cp);
    if (len == 0) {
      *o++ = char16_t(kEscapeBase + b);
      ++i;
    } else if (cp >= 0x10000) {
      cp -= 0x10000;
      *o++ = char16_t(0xD800 + (cp >> 10));
      *o++ = char16_t(0xDC00 + (cp & 0x3FF));
      i += len;
    } else {
      *o++ = char16_t(cp);
      i += len;
    }
  }
  out.resize(static_cast<std::size_t>(o - out.data()));
  return WideString(std::move(out));
}

std::string WideString::ToNarrow() const {
  const char16_t* in = text_.data();
  const std::size_t n = text_.size();
  std::string out;
  // Optimistically all ASCII: one byte per unit. On the first other unit, size the rest exactly.
  out.resize(n);
  std::size_t i = 0;
  while (i < n && in[i] < 0x80) {
    out[i] = char(in[i]);
    ++i;
  }
  if (i == n) return out;

  std::size_t total = i;
  for (std::size_t j = i; j < n;) {
    std::size_t units = 0;
    total += NarrowLength(in + j, n - j, &units);
    j += units;
  }
  out.resize(total);
  auto* o = reinterpret_cast<unsigned char*>(out.data()) + i;
  while (i < n) {
    const char16_t c = in[i];
    if (c < 0x80) {
      *o++ = static_cast<unsigned char>(c);
      ++i;
    } else if (c < 0x800) {
      *o++ = static_cast<unsigned char>(0xC0 | (c >> 6));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      ++i;
    } else if (c < 0xD800 || c > 0xDFFF) {
      *o++ = static_cast<unsigned char>(0xE0 | (c >> 12));
      *o++ = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | (c & 0x3F));
      ++i;
    } else if (c <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
      const char32_t cp = 0x10000 + ((char32_t(c) - 0xD800) << 10) + (char32_t(in[i + 1]) - 0xDC00);
      *o++ = static_cast<unsigned char>(0xF0 | (cp >> 18));
      *o++ = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      *o++ = static_cast<unsigned char>(0x80 | (cp & 0x3F));
      i += 2;
    } else if (c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF) {
      *o++ = static_cast<unsigned char>(c - kEscapeBase);
      ++i;
    } else {
      *o++ = kNoNarrowForm;
      ++i;
    }
  }
  return out;
}

std::string ToNarrow(const WideString& s) { return s.ToNarrow(); }

std::string EscapeBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

}  // namespace kivimap
