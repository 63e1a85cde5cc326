#include "config.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "durable_file.h"

namespace kivimapd {

namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::optional<std::int32_t> Int32(std::string_view text) {
  std::int32_t value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::string ErrorText(kivimap::Status status) {
  kivimap::ErrorRecord record;
  std::string text = "(no error record)";
  if (kivimap::GetErrorRecord(&record)) text = record.description.ToNarrow();
  char head[32];
  std::snprintf(head, sizeof head, "0x%08X ", status);
  return head + text;
}

}  // namespace

bool ParseConfig(std::string_view text, Config* out, std::string* error) {
  Config config = *out;
  std::size_t number = 0;
  for (std::size_t start = 0; start <= text.size();) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = Trim(text.substr(start, end - start));
    start = end + 1;
    ++number;
    if (line.empty() || line.front() == '#') continue;
    const std::string where = "line " + std::to_string(number) + ": ";
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) {
      *error = where + "not a \"Name = value\" line";
      return false;
    }
    const std::string name = Lower(Trim(line.substr(0, equals)));
    const std::string value(Trim(line.substr(equals + 1)));
    const auto number_value = [&](std::optional<std::int32_t>* field) {
      *field = Int32(value);
      if (!*field) *error = where + "not a decimal number: " + Printable(value);
      return field->has_value();
    };
    if (name == "bindip") {
      config.server.bind_ip = value;
    } else if (name == "port") {
      if (!number_value(&config.server.port)) return false;
    } else if (name == "greetingmessage") {
      config.server.greeting = value;
    } else if (name == "goodbyemessage") {
      config.server.goodbye = value;
    } else if (name == "timeout") {
      if (!number_value(&config.server.timeout)) return false;
    } else if (name == "maildir") {
      config.daemon.maildir = value;
    } else if (name == "users") {
      config.daemon.users = value;
    } else if (name == "debugfile") {
      config.daemon.debug_file = value;
    } else if (name == "loglevel") {
      config.daemon.log_level = ParseLogLevel(value);
      if (!config.daemon.log_level) {
        *error = where + "LogLevel is one of error, warning, info, debug";
        return false;
      }
    } else {
      *error = where + "unknown name " + Printable(name);
      return false;
    }
  }
  *out = std::move(config);
  return true;
}

bool LoadConfigFile(const std::string& path, Config* out, std::string* error) {
  bool missing = false;
  const auto text = ReadSmallFile(path, 1u << 20, &missing, error);
  if (!text) return false;
  if (!ParseConfig(*text, out, error)) {
    *error = Printable(path) + " " + *error;
    return false;
  }
  return true;
}

bool ApplyServerSettings(kivimap::IkivImapServer* server, const ServerSettings& settings,
                         std::string* error) {
  kivimap::ClearErrorRecord();
  kivimap::Status status = kivimap::StatusOk;
  if (settings.bind_ip) status = server->put_BindIP(kivimap::ToWide(*settings.bind_ip));
  if (kivimap::Succeeded(status) && settings.port) status = server->put_Port(*settings.port);
  if (kivimap::Succeeded(status) && settings.greeting) {
    status = server->put_GreetingMessage(kivimap::ToWide(*settings.greeting));
  }
  if (kivimap::Succeeded(status) && settings.goodbye) {
    status = server->put_GoodbyeMessage(kivimap::ToWide(*settings.goodbye));
  }
  if (kivimap::Succeeded(status) && settings.timeout) {
    status = server->put_Timeout(*settings.timeout);
  }
  if (kivimap::Failed(status)) {
    *error = ErrorText(status);
    return false;
  }
  return true;
}

bool ParseListen(std::string_view text, ServerSettings* out, std::string* error) {
  const std::size_t colon = text.rfind(':');
  const std::optional<std::int32_t> port =
      colon == std::string_view::npos ? std::nullopt : Int32(text.substr(colon + 1));
  if (!port || *port < 0 || *port > 65535) {
    *error = "--listen takes ADDR:PORT, a port from 0 to 65535: " + Printable(text);
    return false;
  }
  out->bind_ip = std::string(text.substr(0, colon));
  out->port = *port;
  return true;
}

}  // namespace kivimapd
