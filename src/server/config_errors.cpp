#include "server/config_errors.h"

#include "automation/error_report.h"
#include "server/imap_server.h"

namespace kivimap::server {

namespace {
constexpr std::size_t kQuotedLimit = 60;
}  // namespace

Status ReportConfigError(Status status, std::string_view message) {
  return automation::ReportStatus(status, ToWide(message), WideString(kErrorSource));
}

std::string LinePlace(std::uint32_t line) {
  if (line == 0) return "Configuration: ";
  return std::string("Configuration line ").append(std::to_string(line)).append(": ");
}

std::string Quoted(std::string_view text) {
  std::string quoted = "\"";
  quoted.append(text.substr(0, kQuotedLimit));
  if (text.size() > kQuotedLimit) quoted.append("...");
  return quoted.append("\"");
}

}  // namespace kivimap::server
