// Error records of configuration loads and saves. They are the server's refusals: the record's
// source is the server's, and its description names the line and the property at fault.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "kivimap/status.h"

namespace kivimap::server {

// Records the status with the message as its description and returns the status.
Status ReportConfigError(Status status, std::string_view message);

// "Configuration line N: ", or "Configuration: " for line 0 (an entry that was not read).
std::string LinePlace(std::uint32_t line);

// The text in double quotes, cut to a readable length ("..." marks a cut).
std::string Quoted(std::string_view text);

}  // namespace kivimap::server
