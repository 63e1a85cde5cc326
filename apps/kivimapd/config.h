// kivimapd's configuration file: the server's text form ("Name = value" lines, "#" comments,
// names in any case), read by the server's own loader. The server takes its five properties
// (BindIP, Port, GreetingMessage, GoodbyeMessage, Timeout) and hands back the other lines,
// which are kivimapd's keys (Maildir, Users, LogLevel, DebugFile).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "kivimap/kivimap.h"
#include "log.h"

namespace kivimapd {

struct DaemonSettings {
  std::optional<std::string> maildir;
  std::optional<std::string> users;
  std::optional<LogLevel> log_level;
  std::optional<std::string> debug_file;
};

// Loads the text into the server and kivimapd's keys into *own. False with *error naming the
// line for a malformed line, a value of the wrong kind, an unknown name or a name given twice;
// *own is then as it was (the server may hold some of the file's values: it is not started).
bool LoadConfig(kivimap::IkivImapServer* server, std::string_view text, DaemonSettings* own,
                std::string* error);
bool LoadConfigFile(kivimap::IkivImapServer* server, const std::string& path, DaemonSettings* own,
                    std::string* error);

// "ADDR:PORT" (ADDR may be empty for every interface), set as the server's BindIP and Port.
bool ApplyListen(kivimap::IkivImapServer* server, std::string_view text, std::string* error);

// The server's last error record as "0x<status> <description>".
std::string ServerErrorText(kivimap::Status status);

}  // namespace kivimapd
