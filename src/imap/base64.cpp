#include "imap/base64.h"

namespace kivimap::imap {

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  std::size_t padding = 0;
  while (padding < 2 && !text.empty() && text.back() == '=') {
    text.remove_suffix(1);
    ++padding;
  }
  if (padding > 0 && (text.size() + padding) % 4 != 0) return std::nullopt;
  if (text.size() % 4 == 1) return std::nullopt;
  std::string out;
  out.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (const char c : text) {
    const int v = Base64Value(c);
    if (v < 0) return std::nullopt;
    bits = (bits << 6) | static_cast<std::uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

void Base64Stream::Feed(std::string_view text, std::string& out) {
  for (const char c : text) {
    if (c == '=') {
      Finish(out);
      continue;
    }
    const int v = Base64Value(c);
    if (v < 0) continue;
    bits_ = (bits_ << 6) | static_cast<std::uint32_t>(v);
    count_ += 6;
    if (count_ == 24) {
      out.push_back(static_cast<char>(bits_ >> 16));
      out.push_back(static_cast<char>(bits_ >> 8));
      out.push_back(static_cast<char>(bits_));
      bits_ = 0;
      count_ = 0;
    }
  }
}

void Base64Stream::Finish(std::string& out) {
  // 12 bits hold one byte, 18 hold two; 6 bits alone hold none.
  if (count_ >= 12) out.push_back(static_cast<char>(bits_ >> (count_ - 8)));
  if (count_ == 18) out.push_back(static_cast<char>(bits_ >> 2));
  bits_ = 0;
  count_ = 0;
}

}  // namespace kivimap::imap
