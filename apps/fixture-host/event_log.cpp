#include "event_log.h"

#include <cerrno>
#include <cstring>

namespace fixture_host {

EventLog::~EventLog() {
  if (file_) std::fclose(file_);
}

bool EventLog::Open(const std::string& path, std::string* error) {
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) *error = path + ": " + std::strerror(errno);
  return file_ != nullptr;
}

void EventLog::Write(std::string_view event, const std::function<void(JsonWriter&)>& members) {
  if (!file_) return;
  JsonWriter w;
  w.BeginObject().Key("event").Utf8(event);
  members(w);
  w.EndObject();
  std::fwrite(w.str().data(), 1, w.str().size(), file_);
  std::fputc('\n', file_);
  std::fflush(file_);
}

}  // namespace fixture_host
