#include "log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace kivimapd {

namespace {

LogLevel g_level = LogLevel::Info;
bool g_hold = false;
std::vector<std::string> g_held;

constexpr std::size_t kMaxPrintable = 200;

void WriteLine(std::string line) {
  line.push_back('\n');
  const char* data = line.data();
  std::size_t left = line.size();
  while (left > 0) {
    const ssize_t n = ::write(STDERR_FILENO, data, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // nowhere to report a failing log
    data += n;
    left -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::optional<LogLevel> ParseLogLevel(std::string_view text) {
  std::string lower(text);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  if (lower == "error") return LogLevel::Error;
  if (lower == "warning" || lower == "warn") return LogLevel::Warning;
  if (lower == "info") return LogLevel::Info;
  if (lower == "debug") return LogLevel::Debug;
  return std::nullopt;
}

void SetLogLevel(LogLevel level) { g_level = level; }

bool LogEnabled(LogLevel level) { return level <= g_level; }

void Log(LogLevel level, std::string_view text) {
  if (!LogEnabled(level)) return;
  static constexpr const char* kNames[] = {"error: ", "warning: ", "info: ", "debug: "};
  std::string line = kNames[static_cast<int>(level)];
  line.append(text);
  if (g_hold) {
    g_held.push_back(std::move(line));
  } else {
    WriteLine(std::move(line));
  }
}

void HoldLog(bool hold) {
  g_hold = hold;
  if (hold) return;
  for (std::string& line : g_held) WriteLine(std::move(line));
  g_held.clear();
}

void LogPlain(std::string_view text) { WriteLine(std::string(text)); }

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (out.size() >= kMaxPrintable) {
      out.append("...");
      break;
    }
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out.push_back(static_cast<char>(c));
    } else {
      out.append("\\x").push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

std::string ErrnoText(int errno_value) { return std::strerror(errno_value); }

}  // namespace kivimapd
