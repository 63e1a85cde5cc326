// kivimapd's log: one line per event on standard error, "<level>: <text>". Lines below the
// chosen level are dropped. Each line goes out in one write, so lines never interleave.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kivimapd {

enum class LogLevel { Error = 0, Warning = 1, Info = 2, Debug = 3 };

// "error", "warning", "info" or "debug" (any case); nothing for anything else.
std::optional<LogLevel> ParseLogLevel(std::string_view text);

void SetLogLevel(LogLevel level);
bool LogEnabled(LogLevel level);
void Log(LogLevel level, std::string_view text);

inline void LogError(std::string_view text) { Log(LogLevel::Error, text); }
inline void LogWarning(std::string_view text) { Log(LogLevel::Warning, text); }
inline void LogInfo(std::string_view text) { Log(LogLevel::Info, text); }
inline void LogDebug(std::string_view text) { Log(LogLevel::Debug, text); }

// Writes the line as it is, whatever the level (the "listening on" line).
void LogPlain(std::string_view text);

// While held, log lines wait (LogPlain does not): the start-up holds them so that "listening
// on" comes first. Releasing writes what waited.
void HoldLog(bool hold);

// Text from a client or from disk made safe for one log line: printable ASCII stays, anything
// else becomes \xHH; long text is cut with "...".
std::string Printable(std::string_view text);

// strerror(errno_value) as a string.
std::string ErrnoText(int errno_value);

}  // namespace kivimapd
