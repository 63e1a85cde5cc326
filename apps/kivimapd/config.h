// kivimapd's configuration file: one "Name = value" a line (spaces around "=" optional, the
// value runs to the end of the line), "#" comments, names compared without regard to case.
// The server's own five properties (BindIP, Port, GreetingMessage, GoodbyeMessage, Timeout)
// share the file with kivimapd's keys (Maildir, Users, LogLevel, DebugFile).
//
// The server's five are parsed here for now and applied through its setters; once the server
// reads its own text form and hands back the names it does not know, ParseConfig keeps only
// kivimapd's keys and ApplyServerSettings becomes the server's loader.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kivimap/kivimap.h"
#include "log.h"

namespace kivimapd {

struct ServerSettings {
  std::optional<std::string> bind_ip;
  std::optional<std::int32_t> port;
  std::optional<std::string> greeting;
  std::optional<std::string> goodbye;
  std::optional<std::int32_t> timeout;
};

struct DaemonSettings {
  std::optional<std::string> maildir;
  std::optional<std::string> users;
  std::optional<LogLevel> log_level;
  std::optional<std::string> debug_file;
};

struct Config {
  ServerSettings server;
  DaemonSettings daemon;
};

// Parses the whole text before anything is used: an unknown name, a line without "=", or a
// value of the wrong kind fails with *error naming the line, and *out is left as it was.
bool ParseConfig(std::string_view text, Config* out, std::string* error);
bool LoadConfigFile(const std::string& path, Config* out, std::string* error);

// Applies the settings through the server's setters, in the server's order. False with *error
// (the setter's error record) when one refuses.
bool ApplyServerSettings(kivimap::IkivImapServer* server, const ServerSettings& settings,
                         std::string* error);

// "ADDR:PORT" (ADDR may be empty for every interface) into bind_ip and port.
bool ParseListen(std::string_view text, ServerSettings* out, std::string* error);

}  // namespace kivimapd
