// The events log: one JSON object per line, flushed as it is written, so that a test reading
// the file sees every event the host has handled so far.
#pragma once

#include <cstdio>
#include <string>

namespace fixture_host {

class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Creates (or empties) the file. False with *error set when it cannot be opened.
  bool Open(const std::string& path, std::string* error);
  bool is_open() const { return file_ != nullptr; }
  // Writes the line and a line feed; does nothing when no file is open.
  void WriteLine(const std::string& line);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace fixture_host
