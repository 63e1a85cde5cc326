#include "automation/error_report.h"

#include <new>
#include <optional>
#include <utility>

namespace kivimap {

namespace {
thread_local std::optional<ErrorRecord> last_error;
}  // namespace

bool GetErrorRecord(ErrorRecord* out) {
  if (!last_error) return false;
  if (out) *out = std::move(*last_error);
  last_error.reset();
  return true;
}

void ClearErrorRecord() { last_error.reset(); }

namespace automation {

Status ReportStatus(Status status, const WideString& description, const WideString& source) {
  try {
    last_error = ErrorRecord{status, description, source};
  } catch (const std::bad_alloc&) {
    // Keep at least the status: the host still learns what failed.
    last_error.reset();
    last_error.emplace();
    last_error->status = status;
  }
  return status;
}

Status ReportError(std::uint32_t code, const WideString& description, const WideString& source) {
  return ReportStatus(StatusFromErrorCode(code), description, source);
}

}  // namespace automation
}  // namespace kivimap
