#include "imap/sasl.h"

namespace kivimap::imap {

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
