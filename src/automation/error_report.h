// Leaving error records for the host (read with GetErrorRecord).
#pragma once

#include "kivimap/host_support.h"

namespace kivimap::automation {

// Records status 0x800A0000 + code with the description and source, and returns that status.
Status ReportError(std::uint32_t code, const WideString& description, const WideString& source);
// Records an arbitrary status.
Status ReportStatus(Status status, const WideString& description, const WideString& source);

}  // namespace kivimap::automation
