#include "event_log.h"

#include <cerrno>
#include <cstring>

namespace fixture_host {

EventLog::~EventLog() {
  if (file_) std::fclose(file_);
}

bool EventLog::Open(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    *error = path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

void EventLog::WriteLine(const std::string& line) {
  if (!file_) return;
  std::fwrite(line.data(), 1, line.size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace fixture_host
