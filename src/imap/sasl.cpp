#include "imap/sasl.h"

#include <cstdint>

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

std::optional<PlainCredentials> ParsePlainMessage(std::string_view message) {
  const std::size_t first = message.find('\0');
  if (first == std::string_view::npos) return std::nullopt;
  const std::size_t second = message.find('\0', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  if (message.find('\0', second + 1) != std::string_view::npos) return std::nullopt;
  PlainCredentials credentials;
  credentials.authorization_id = std::string(message.substr(0, first));
  credentials.username = std::string(message.substr(first + 1, second - first - 1));
  credentials.password = std::string(message.substr(second + 1));
  return credentials;
}

}  // namespace kivimap::imap
