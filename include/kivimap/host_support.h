// What the host boundary offers besides objects: error records left by failed calls, listeners
// told of property changes, and the byte streams the server saves its configuration to.
#pragma once

#include <cstdint>
#include <string>

#include "kivimap/status.h"
#include "kivimap/wide_string.h"

namespace kivimap {

// What a refused call leaves for the host. One record per thread: the last ReportError wins.
struct ErrorRecord {
  Status status = StatusOk;
  WideString description;
  WideString source;
};
// Copies the thread's last error record into *out and clears it; false when there is none.
bool GetErrorRecord(ErrorRecord* out);
void ClearErrorRecord();

// Told the dispatch id of a property whose value a setter changed.
class IPropertyNotifySink {
 public:
  virtual void OnChanged(std::int32_t dispid) = 0;

 protected:
  virtual ~IPropertyNotifySink() = default;
};

// A sequential byte stream used for persistence.
class IByteStream {
 public:
  // Reads up to n bytes; *read receives the count (0 at the end). Fails only on an I/O error.
  virtual Status Read(void* data, std::uint32_t n, std::uint32_t* read) = 0;
  virtual Status Write(const void* data, std::uint32_t n) = 0;

 protected:
  virtual ~IByteStream() = default;
};

// An IByteStream over memory: writes append, reads go from the front.
class MemoryStream final : public IByteStream {
 public:
  Status Read(void* data, std::uint32_t n, std::uint32_t* read) override;
  Status Write(const void* data, std::uint32_t n) override;
  const std::string& bytes() const { return bytes_; }
  void Rewind() { pos_ = 0; }

 private:
  std::string bytes_;
  std::size_t pos_ = 0;
};

}  // namespace kivimap
