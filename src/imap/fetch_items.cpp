#include "imap/fetch_items.h"

#include <optional>

#include "common/ascii.h"
#include "imap/protocol_numbers.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

namespace {

struct Macro {
  std::string_view name;
  std::string_view items;
};

constexpr Macro kMacros[] = {
    {"ALL", "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE"},
    {"FAST", "FLAGS INTERNALDATE RFC822.SIZE"},
    {"FULL", "FLAGS INTERNALDATE RFC822.SIZE ENVELOPE BODY"},
};

std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

// The items a macro stands for. The bracketed form is matched byte for byte, as clients of
// this dialect send it; the bare form is an RFC 3501 atom and so ignores case.
std::optional<std::string_view> ExpandMacro(std::string_view text) {
  for (const Macro& macro : kMacros) {
    if (EqualsNoCase(text, macro.name)) return macro.items;
    if (text.size() == macro.name.size() + 2 && text.front() == '(' && text.back() == ')' &&
        text.substr(1, macro.name.size()) == macro.name) {
      return macro.items;
    }
  }
  return std::nullopt;
}

std::string_view StripOuterParentheses(std::string_view text) {
  if (text.empty() || text.front() != '(') return text;
  const std::size_t first = text.find_first_not_of('(');
  if (first == std::string_view::npos) return {};
  text.remove_prefix(first);
  // No ")" (or one only at the first character) leaves nothing.
  const std::size_t close = text.rfind(')');
  return text.substr(0, close == std::string_view::npos ? 0 : close);
}

// SplitArguments over a private copy, so the caller's text stays as it is.
std::vector<std::string> SplitCopy(std::string_view text, int max_count) {
  std::string buffer(text);
  std::vector<std::size_t> offsets(static_cast<std::size_t>(max_count));
  const int count = SplitArguments(buffer.data(), offsets.data(), max_count);
  std::vector<std::string> out;
  out.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) out.emplace_back(buffer.c_str() + offsets[i]);
  return out;
}

// RFC 3501 "<" number "." nz-number ">", and nothing after it.
bool IsStrictPartial(std::string_view tail) {
  if (tail.size() < 2 || tail.front() != '<' || tail.back() != '>') return false;
  const std::string_view range = tail.substr(1, tail.size() - 2);
  const std::size_t dot = range.find('.');
  if (dot == std::string_view::npos) return false;
  const std::optional<std::uint32_t> length = ParseNumber(range.substr(dot + 1));
  return ParseNumber(range.substr(0, dot)) && length && *length > 0;
}

}  // namespace

std::vector<std::string> ParseFetchItems(std::string_view item_text) {
  item_text = UpToNul(item_text);
  if (const std::optional<std::string_view> items = ExpandMacro(item_text)) {
    return SplitCopy(*items, kMaxFetchItems);
  }
  return SplitCopy(StripOuterParentheses(item_text), kMaxFetchItems);
}

BodySection ParseBodySection(std::string_view rest) {
  rest = UpToNul(rest);
  BodySection section;
  if (rest.empty()) return section;  // "BODY[" alone: the whole message, malformed

  const std::size_t found = rest.rfind(']');
  const std::size_t close = found == std::string_view::npos ? 0 : found;
  const std::string_view tail = rest.substr(close + 1);
  if (!tail.empty() && tail.front() == '<') {
    const std::size_t end = tail.find('>', 1);
    if (end != std::string_view::npos) {
      section.partial = true;
      const std::string_view range = tail.substr(1, end - 1);
      if (const std::size_t dot = range.find('.'); dot != std::string_view::npos) {
        section.start = ReadSetNumber(range.substr(0, dot));
        section.length = ReadSetNumber(range.substr(dot + 1));
      }
    }
  }
  section.well_formed = rest[close] == ']' && (tail.empty() || IsStrictPartial(tail));
  section.parts = SplitCopy(rest.substr(0, close), kMaxSectionParts);
  return section;
}

}  // namespace kivimap::imap
