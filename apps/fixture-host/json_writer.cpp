#include "json_writer.h"

#include <cstdio>

#include "json.h"

namespace fixture_host {
namespace {

// Appends one code point of a JSON string, escaping what JSON requires. A lone surrogate has no
// UTF-8 form and becomes a \u escape too.
void AppendStringChar(std::uint32_t cp, std::string* out) {
  static constexpr std::string_view kPlain = "\"\\\n\r\t", kEscaped = "\"\\nrt";
  const std::size_t i = cp < 0x80 ? kPlain.find(static_cast<char>(cp)) : std::string_view::npos;
  if (i != std::string_view::npos) {
    out->push_back('\\');
    out->push_back(kEscaped[i]);
  } else if (cp < 0x20 || (cp >= 0xD800 && cp <= 0xDFFF)) {
    char escape[8];
    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(cp));
    out->append(escape);
  } else {
    json::AppendUtf8(cp, out);
  }
}

}  // namespace

void JsonWriter::BeforeValue() {
  if (after_key_) {
    after_key_ = false;
  } else if (!non_empty_.empty()) {
    if (non_empty_.back()) out_.push_back(',');
    non_empty_.back() = true;
  }
}

JsonWriter& JsonWriter::Open(char bracket) {
  BeforeValue();
  out_.push_back(bracket);
  non_empty_.push_back(false);
  return *this;
}

JsonWriter& JsonWriter::Close(char bracket) {
  out_.push_back(bracket);
  non_empty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  Utf8(key);
  out_.push_back(':');
  after_key_ = true;  // the value that follows takes no comma
  return *this;
}

JsonWriter& JsonWriter::Raw(std::string_view text) {
  BeforeValue();
  out_.append(text);
  return *this;
}

JsonWriter& JsonWriter::Utf8(std::string_view text) {
  BeforeValue();
  out_.push_back('"');
  // Keys and fixed texts are ASCII or valid UTF-8 already; only escaping is needed.
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      out_.push_back(c);
    } else {
      AppendStringChar(static_cast<unsigned char>(c), &out_);
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
    const std::uint32_t unit = s[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      json::AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (s[++i] - 0xDC00), &out_);
    } else {
      AppendStringChar(unit, &out_);
    }
  }
  out_.push_back('"');
  return *this;
}

}  // namespace fixture_host
