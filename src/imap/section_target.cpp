#include "imap/section_target.h"

#include <optional>
#include <string_view>
#include <utility>

#include "common/ascii.h"
#include "imap/message_set.h"
#include "imap/protocol_numbers.h"

namespace kivimap::imap {

namespace {

struct Keyword {
  std::string_view name;
  SectionKind kind;
};

constexpr Keyword kKeywords[] = {
    {"HEADER", SectionKind::Header},
    {"HEADER.FIELDS", SectionKind::HeaderFields},
    {"HEADER.FIELDS.NOT", SectionKind::HeaderFieldsNot},
    {"TEXT", SectionKind::Text},
    {"MIME", SectionKind::Mime},
};

// nz-number: no zero, no leading zero.
std::optional<std::uint32_t> ParsePartNumber(std::string_view text) {
  if (text.empty() || text.front() == '0') return std::nullopt;
  return ParseNumber(text);
}

// A header field name (RFC 2822 2.2: printable ASCII but ':'), less what would not survive
// the trip through the item tokenizer or the echo in the response.
bool IsFieldName(std::string_view name) {
  for (const char c : name) {
    if (c < '!' || c > '~') return false;
    if (c == ':' || c == '(' || c == ')' || c == '"' || c == '\\') return false;
  }
  return !name.empty();
}

// "(A B)": the names, or nothing when the list is malformed or empty.
std::optional<std::vector<std::string>> ParseFieldList(std::string_view list) {
  if (list.size() < 2 || list.front() != '(' || list.back() != ')') return std::nullopt;
  std::vector<std::string> names;
  for (const std::string_view name : SplitAtChar(list.substr(1, list.size() - 2), ' ', SIZE_MAX)) {
    if (!IsFieldName(name)) return std::nullopt;
    names.emplace_back(name);
  }
  if (names.empty()) return std::nullopt;
  return names;
}

}  // namespace

SectionTarget ClassifySection(const BodySection& section) {
  const SectionTarget invalid;
  if (!section.well_formed) return invalid;
  SectionTarget target;
  if (section.parts.empty()) {
    target.kind = SectionKind::Whole;
    return target;
  }

  // The leading numbers, each followed by "." or the end.
  std::string_view rest = section.parts[0];
  while (!rest.empty() && rest.front() >= '0' && rest.front() <= '9') {
    const std::size_t dot = rest.find('.');
    const std::optional<std::uint32_t> number = ParsePartNumber(rest.substr(0, dot));
    if (!number) return invalid;
    target.part_path.push_back(*number);
    if (dot == std::string_view::npos) {
      rest = {};
    } else {
      rest.remove_prefix(dot + 1);
      if (rest.empty()) return invalid;  // "1."
    }
  }
  for (const std::uint32_t number : target.part_path) {
    if (!target.text.empty()) target.text.push_back('.');
    target.text.append(std::to_string(number));
  }

  const std::size_t parts_taken = section.parts.size();
  if (rest.empty()) {
    if (target.part_path.empty() || parts_taken != 1) return invalid;  // BODY[""] or "1 X"
    target.kind = SectionKind::Whole;
    return target;
  }
  for (const Keyword& keyword : kKeywords) {
    if (EqualsNoCase(rest, keyword.name)) target.kind = keyword.kind;
  }
  const bool takes_list =
      target.kind == SectionKind::HeaderFields || target.kind == SectionKind::HeaderFieldsNot;
  if (target.kind == SectionKind::Invalid || parts_taken != (takes_list ? 2u : 1u) ||
      (target.kind == SectionKind::Mime && target.part_path.empty())) {
    return invalid;
  }
  if (!target.text.empty()) target.text.push_back('.');
  target.text.append(AsciiUpper(rest));
  if (takes_list) {
    std::optional<std::vector<std::string>> names = ParseFieldList(section.parts[1]);
    if (!names) return invalid;
    target.field_names = std::move(*names);
    target.text.append(" (");
    for (std::size_t i = 0; i < target.field_names.size(); ++i) {
      if (i > 0) target.text.push_back(' ');
      target.text.append(target.field_names[i]);
    }
    target.text.push_back(')');
  }
  return target;
}

}  // namespace kivimap::imap
