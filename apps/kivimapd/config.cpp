#include "config.h"

#include <charconv>
#include <cstdio>
#include <map>

#include "durable_file.h"

namespace kivimapd {

namespace {

// kivimapd's values are paths and a level: blanks at the end are a slip of the editor, not
// part of the value (the server keeps them in its texts, where they may be meant).
std::string TrimEnd(std::string_view text) {
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return std::string(text);
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string Where(std::uint32_t line) {
  std::string text = "Configuration line ";
  text.append(std::to_string(line)).append(": ");
  return text;
}

// kivimapd's keys from the entries the server did not know.
bool ReadOwnKeys(const kivimap::PropertyBag& rest, DaemonSettings* out, std::string* error) {
  DaemonSettings own = *out;
  std::map<std::string, std::uint32_t> seen;
  for (const kivimap::PropertyBagEntry& e : rest.entries()) {
    const std::string name = Lower(e.name);
    const std::string value = TrimEnd(e.value);
    const auto [first, fresh] = seen.emplace(name, e.line);
    if (!fresh) {
      *error = Where(e.line).append(e.name).append(" is given twice (first on line ");
      error->append(std::to_string(first->second)).append(").");
      return false;
    }
    if (name == "maildir") {
      own.maildir = value;
    } else if (name == "users") {
      own.users = value;
    } else if (name == "debugfile") {
      own.debug_file = value;
    } else if (name == "loglevel") {
      own.log_level = ParseLogLevel(value);
      if (!own.log_level) {
        *error = Where(e.line).append("LogLevel is one of error, warning, info, debug.");
        return false;
      }
    } else {
      *error = Where(e.line).append("unknown name ").append(Printable(e.name)).append(".");
      return false;
    }
  }
  *out = std::move(own);
  return true;
}

}  // namespace

std::string ServerErrorText(kivimap::Status status) {
  kivimap::ErrorRecord record;
  std::string text = "(no error record)";
  if (kivimap::GetErrorRecord(&record)) text = record.description.ToNarrow();
  char head[32];
  std::snprintf(head, sizeof head, "0x%08X ", status);
  return head + text;
}

bool LoadConfig(kivimap::IkivImapServer* server, std::string_view text, DaemonSettings* own,
                std::string* error) {
  kivimap::PropertyBag rest;
  kivimap::ClearErrorRecord();
  const kivimap::Status status = kivimap::LoadConfigText(server, text, &rest);
  if (kivimap::Failed(status)) {
    *error = ServerErrorText(status);
    return false;
  }
  return ReadOwnKeys(rest, own, error);
}

bool LoadConfigFile(kivimap::IkivImapServer* server, const std::string& path, DaemonSettings* own,
                    std::string* error) {
  bool missing = false;
  const auto text = ReadSmallFile(path, 1u << 20, &missing, error);
  if (!text) return false;
  if (!LoadConfig(server, *text, own, error)) {
    *error = Printable(path).append(": ").append(*error);
    return false;
  }
  return true;
}

bool ApplyListen(kivimap::IkivImapServer* server, std::string_view text, std::string* error) {
  const std::size_t colon = text.rfind(':');
  std::int32_t port = -1;
  if (colon != std::string_view::npos) {
    const std::string_view digits = text.substr(colon + 1);
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
    if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) port = -1;
  }
  if (port < 0 || port > 65535) {
    *error = "--listen takes ADDR:PORT, a port from 0 to 65535: " + Printable(text);
    return false;
  }
  kivimap::ClearErrorRecord();
  kivimap::Status status = server->put_BindIP(kivimap::ToWide(text.substr(0, colon)));
  if (kivimap::Succeeded(status)) status = server->put_Port(port);
  if (kivimap::Failed(status)) {
    *error = "--listen: " + ServerErrorText(status);
    return false;
  }
  return true;
}

}  // namespace kivimapd
