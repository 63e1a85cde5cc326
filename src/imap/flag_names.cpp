#include "imap/flag_names.h"

#include "common/ascii.h"
#include "kivimap/interfaces.h"

namespace kivimap::imap {

namespace {

struct FlagName {
  std::int32_t bit;
  std::string_view name;
};

// The order is the output order everywhere.
constexpr FlagName kFlagNames[] = {
    {Flagged, "\\Flagged"}, {Seen, "\\Seen"},   {Answered, "\\Answered"},
    {Deleted, "\\Deleted"}, {Draft, "\\Draft"}, {Recent, "\\Recent"},
};

}  // namespace

std::string FormatFlagList(std::int32_t flags) {
  std::string text;
  for (const FlagName& flag : kFlagNames) {
    if ((flags & flag.bit) == 0) continue;
    if (!text.empty()) text.push_back(' ');
    text.append(flag.name);
  }
  return text;
}

std::int32_t FlagBit(std::string_view name) {
  for (const FlagName& flag : kFlagNames) {
    if (EqualsNoCase(name, flag.name)) return flag.bit;
  }
  return 0;
}

}  // namespace kivimap::imap
