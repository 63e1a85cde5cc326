// The events log: one JSON object per line, flushed as it is written, so that a test reading
// the file sees every event the host has handled so far.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

#include "json_writer.h"

namespace fixture_host {

class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Creates (or empties) the file. False with *error set when it cannot be opened.
  bool Open(const std::string& path, std::string* error);
  // Writes {"event": event, ...} with the members `members` adds; nothing when no file is open.
  void Write(std::string_view event, const std::function<void(JsonWriter&)>& members);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace fixture_host
