#include "imap/body_structure.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "common/ascii.h"
#include "imap/imap_string.h"
#include "store/headers.h"
#include "store/messages.h"

namespace kivimap::imap {

namespace {

constexpr auto npos = std::string_view::npos;

// Parts nested deeper than this are reported as single parts. Real mail nests a few levels;
// the limit keeps a crafted message from exhausting the stack or re-reading its file once per
// level without end.
constexpr int kMaxNesting = 100;

// What RFC 2045 (5.2) takes for a part without a usable Content-Type.
constexpr std::string_view kDefaultMediaType = "\"TEXT\" \"PLAIN\" (\"CHARSET\" \"US-ASCII\") ";

bool IsSubtypeChar(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-'; }

// The run of letters and "-" from start: "plain" of "text/plain;", "rfc" of "message/rfc822".
std::string_view SubtypeAt(std::string_view value, std::size_t start) {
  std::size_t end = start;
  while (end < value.size() && IsSubtypeChar(value[end])) ++end;
  return value.substr(start, end - start);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// A parameter ends at its ";", its line end, or the tab that leads the next one.
bool EndsSegment(char c) { return c == ';' || c == '\r' || c == '\n' || c == '\t'; }

struct Parameter {
  std::optional<std::string_view> key;  // absent: the segment is no parameter
  std::string value;
  std::size_t end;  // where the search for the next tab resumes
};

// The content of a quoted string that opens at text[open]: up to the closing quote, with each
// quoted pair ("\x") read as its second character. An unclosed one runs to its line end.
std::string ReadQuoted(std::string_view text, std::size_t open, std::size_t* end) {
  std::string content;
  std::size_t i = open + 1;
  for (; i < text.size() && text[i] != '"' && text[i] != '\r' && text[i] != '\n'; ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] != '\r' && text[i + 1] != '\n') ++i;
    content.push_back(text[i]);
  }
  *end = (i < text.size() && text[i] == '"') ? i + 1 : i;
  return content;
}

// The parameter that starts at text[start] (just after a tab).
Parameter ReadParameter(std::string_view text, std::size_t start) {
  std::size_t equals = start;
  while (equals < text.size() && text[equals] != '=' && !EndsSegment(text[equals])) ++equals;
  if (equals == text.size() || text[equals] != '=') return {std::nullopt, {}, equals};
  Parameter parameter{TrimBlanks(text.substr(start, equals - start)), {}, equals + 1};
  std::size_t value_start = equals + 1;
  while (value_start < text.size() && IsBlank(text[value_start])) ++value_start;
  if (value_start < text.size() && text[value_start] == '"') {
    parameter.value = ReadQuoted(text, value_start, &parameter.end);
  } else {
    std::size_t end = value_start;
    while (end < text.size() && !EndsSegment(text[end])) ++end;
    parameter.value = TrimBlanks(text.substr(value_start, end - value_start));
    parameter.end = end;
  }
  if (parameter.key->empty()) parameter.key.reset();
  return parameter;
}

void AppendFieldOr(std::string& out, const store::ImapMessageHeaders* headers,
                   std::string_view name, std::string_view missing) {
  const store::ImapMessageHeader* field = headers ? headers->Find(name) : nullptr;
  if (!field) {
    out.append(missing);
    return;
  }
  AppendImapString(out, field->value());
  out.push_back(' ');
}

// Appends type, subtype and parameter list; returns whether the type is text, which adds the
// line count to the structure.
bool AppendMediaType(std::string& out, const store::ImapMessageHeaders* headers) {
  const store::ImapMessageHeader* field = headers ? headers->Find("Content-type") : nullptr;
  const std::size_t slash = field ? field->value().find('/') : npos;
  if (slash == npos) {
    // Without "type/subtype" the field says nothing a client could use, and NIL is no media
    // type: take the default as for a missing field.
    out.append(kDefaultMediaType);
    return true;
  }
  const std::string_view value = field->value();
  const std::string_view type = value.substr(0, slash);
  AppendImapString(out, type);
  out.push_back(' ');
  AppendImapString(out, SubtypeAt(value, slash + 1));
  out.push_back(' ');
  BuildParameterList(out, value);
  return EqualsNoCase(type, "text");
}

// Each line counts as its length without line end plus 2, as the split counts a part's.
struct BodyCounts {
  std::uint64_t size;
  std::uint64_t lines;
};

BodyCounts CountsOf(store::ImapMessage& message) {
  // Only the split sets these, and every part holds at least the line that started it.
  if (message.PartLines() > 0) return {message.PartSize(), message.PartLines()};
  // A whole message: its loaded body has every line ending in CR LF, which is that count.
  message.LoadBody();
  const std::string_view text = message.TextCache();
  return {text.size(), static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'))};
}

void AppendSinglePart(std::string& out, store::ImapMessage& message) {
  message.ParseHeaders();
  const store::ImapMessageHeaders* headers = message.HeadersCollection();
  const bool is_text = AppendMediaType(out, headers);
  AppendFieldOr(out, headers, "Content-ID", "NIL ");
  AppendFieldOr(out, headers, "Content-Description", "NIL ");
  AppendFieldOr(out, headers, "Content-Transfer-Encoding", "\"7BIT\" ");
  const BodyCounts counts = CountsOf(message);
  out.append(std::to_string(counts.size));
  if (is_text) out.append(" ").append(std::to_string(counts.lines));
}

void AppendMultipartSubtype(std::string& out, store::ImapMessage& message) {
  const store::ImapMessageHeader* field = message.FindHeader("Content-type");
  // The split that found the parts matched "multipart/" in any case; so does this.
  const auto at = field ? FindNoCase(field->value(), "multipart/") : std::nullopt;
  out.push_back(' ');
  if (!at) {
    // The delimiter came from a later Content-Type field. A subtype is required, and RFC 2046
    // (5.1.3) reads one it does not know as "mixed".
    out.append("\"MIXED\"");
    return;
  }
  AppendImapString(out, SubtypeAt(field->value(), *at + 10));
}

void AppendStructure(std::string& out, store::ImapMessage& message, int depth) {
  out.push_back('(');
  const store::ImapMessages* parts = nullptr;
  if (depth < kMaxNesting) {
    message.LoadBody();
    parts = message.PartsCollection();
  }
  if (parts && !parts->empty()) {
    for (std::size_t i = 0; i < parts->size(); ++i) {
      AppendStructure(out, *parts->at(i), depth + 1);
    }
    AppendMultipartSubtype(out, message);
  } else {
    AppendSinglePart(out, message);
  }
  out.push_back(')');
}

}  // namespace

void BuildParameterList(std::string& out, std::string_view content_type) {
  out.push_back('(');
  bool first = true;
  for (std::size_t tab = content_type.find('\t'); tab != npos;) {
    const Parameter parameter = ReadParameter(content_type, tab + 1);
    if (parameter.key) {
      if (!first) out.push_back(' ');
      first = false;
      AppendImapString(out, *parameter.key);
      out.push_back(' ');
      AppendImapString(out, parameter.value);
    }
    tab = content_type.find('\t', parameter.end);
  }
  out.append(") ");
}

void BuildBodyStructure(std::string& out, store::ImapMessage& message) {
  AppendStructure(out, message, 0);
}

}  // namespace kivimap::imap
