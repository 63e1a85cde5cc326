// The text form of a configuration: parsing and writing `Name = value` lines.
#include <algorithm>
#include <string>
#include <utility>

#include "automation/guarded.h"
#include "common/ascii.h"
#include "kivimap/persistence.h"
#include "server/config_errors.h"

namespace kivimap {

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool HasLineBreak(std::string_view s) { return s.find_first_of("\r\n") != std::string_view::npos; }

}  // namespace

Status PropertyBag::Parse(std::string_view text, PropertyBag* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    if (text.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
      text.remove_prefix(kByteOrderMark.size());
    }
    std::vector<PropertyBagEntry> entries;
    std::uint32_t number = 0;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      std::string_view line = text.substr(0, end);
      text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
      ++number;
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

      const std::string_view content = TrimLeft(line);
      if (content.empty() || content.front() == '#') continue;
      const std::size_t equals = line.find('=');
      if (equals == std::string_view::npos) {
        return server::ReportConfigError(StatusConfigMalformed,
                                         server::LinePlace(number)
                                             .append("expected Name = value, found ")
                                             .append(server::Quoted(content))
                                             .append("."));
      }
      const std::string_view name = Trim(line.substr(0, equals));
      if (name.empty()) {
        return server::ReportConfigError(StatusConfigMalformed,
                                         server::LinePlace(number)
                                             .append("no name before '=' in ")
                                             .append(server::Quoted(content))
                                             .append("."));
      }
      entries.push_back(
          {std::string(name), std::string(TrimLeft(line.substr(equals + 1))), number});
    }
    out->entries_ = std::move(entries);
    return StatusOk;
  });
}

std::string PropertyBag::ToText(std::string_view heading) const {
  std::string text;
  if (!heading.empty()) text.append("# ").append(heading).append("\n");
  for (const PropertyBagEntry& e : entries_) {
    text.append(e.name).append(e.value.empty() ? " =" : " = ").append(e.value).append("\n");
  }
  return text;
}

Status PropertyBag::Add(std::string_view name, std::string_view value) {
  if (name.empty() || name != Trim(name) || name.front() == '#' ||
      name.find('=') != std::string_view::npos || HasLineBreak(name) || HasLineBreak(value) ||
      (!value.empty() && IsBlank(value.front()))) {
    return StatusInvalidArg;
  }
  return automation::Guarded([&] {
    entries_.push_back({std::string(name), std::string(value), 0});
    return StatusOk;
  });
}

const PropertyBagEntry* PropertyBag::Find(std::string_view name) const {
  for (const PropertyBagEntry& e : entries_) {
    if (EqualsNoCase(e.name, name)) return &e;
  }
  return nullptr;
}

std::size_t PropertyBag::Remove(std::string_view name) {
  return std::erase_if(entries_,
                       [&](const PropertyBagEntry& e) { return EqualsNoCase(e.name, name); });
}

}  // namespace kivimap
