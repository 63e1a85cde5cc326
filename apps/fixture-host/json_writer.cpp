#include "json_writer.h"

#include <cstdio>

namespace fixture_host {
namespace {

void AppendEscape(std::uint32_t unit, std::string* out) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "\\u%04x", unit);
  out->append(buf);
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Appends one code point of a JSON string, escaping what JSON requires.
void AppendStringChar(std::uint32_t cp, std::string* out) {
  switch (cp) {
    case '"':
      out->append("\\\"");
      return;
    case '\\':
      out->append("\\\\");
      return;
    case '\n':
      out->append("\\n");
      return;
    case '\r':
      out->append("\\r");
      return;
    case '\t':
      out->append("\\t");
      return;
    default:
      break;
  }
  if (cp < 0x20 || (cp >= 0xD800 && cp <= 0xDFFF)) {
    AppendEscape(cp, out);
  } else {
    AppendUtf8(cp, out);
  }
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!non_empty_.empty()) {
    if (non_empty_.back()) out_.push_back(',');
    non_empty_.back() = true;
  }
}

JsonWriter& JsonWriter::BeginObject() {
  BeforeValue();
  out_.push_back('{');
  non_empty_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  out_.push_back('}');
  non_empty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  BeforeValue();
  out_.push_back('[');
  non_empty_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  out_.push_back(']');
  non_empty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  BeforeValue();
  after_key_ = true;  // the key itself is written as a value that takes no comma
  Utf8(key);
  out_.push_back(':');
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::Null() {
  BeforeValue();
  out_.append("null");
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  BeforeValue();
  out_.append(value ? "true" : "false");
  return *this;
}

JsonWriter& JsonWriter::Int(std::int64_t value) {
  BeforeValue();
  out_.append(std::to_string(value));
  return *this;
}

JsonWriter& JsonWriter::Utf8(std::string_view text) {
  BeforeValue();
  out_.push_back('"');
  // Keys and fixed texts are ASCII or valid UTF-8 already; only escaping is needed.
  for (char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if (b >= 0x80) {
      out_.push_back(c);
    } else {
      AppendStringChar(b, &out_);
    }
  }
  out_.push_back('"');
  return *this;
}

JsonWriter& JsonWriter::Wide(const kivimap::WideString& text) {
  if (text.IsNull()) return Null();
  BeforeValue();
  out_.push_back('"');
  const std::u16string_view s = text.view();
  for (std::size_t i = 0; i < s.size(); ++i) {
    std::uint32_t unit = s[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (s[i + 1] - 0xDC00), &out_);
      ++i;
      continue;
    }
    AppendStringChar(unit, &out_);
  }
  out_.push_back('"');
  return *this;
}

}  // namespace fixture_host
