#include "json.h"

#include <charconv>

namespace fixture_host::json {

const Value* Value::Find(std::string_view key) const {
  for (const Member& m : members) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

bool Value::AsInt64(std::int64_t* out) const {
  if (kind != Kind::Number || text.find_first_of(".eE") != std::string::npos) return false;
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

const char* KindName(Value::Kind kind) {
  static constexpr const char* kNames[] = {"null",     "a boolean", "a number",
                                           "a string", "an array",  "an object"};
  return kNames[static_cast<int>(kind)];
}

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
    return;
  }
  // The lead byte carries the length; each continuation byte six more bits.
  const int continuation = cp < 0x800 ? 1 : cp < 0x10000 ? 2 : 3;
  static constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
  out->push_back(static_cast<char>(kLead[continuation] | (cp >> (6 * continuation))));
  for (int shift = 6 * (continuation - 1); shift >= 0; shift -= 6) {
    out->push_back(static_cast<char>(0x80 | ((cp >> shift) & 0x3F)));
  }
}

namespace {

// Deep enough for any fixture; keeps a hostile file from exhausting the stack.
constexpr int kMaxDepth = 64;

// Length of the valid UTF-8 sequence at the start of s (0 when it is not one).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return 1;
  const std::size_t n = b0 < 0xC2 ? 0 : b0 <= 0xDF ? 2 : b0 <= 0xEF ? 3 : b0 <= 0xF4 ? 4 : 0;
  if (n == 0 || s.size() < n) return 0;
  std::uint32_t cp = b0 & (0x7F >> n);
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if (cp >= 0xD800 && cp <= 0xDFFF) return 0;
  return n;
}

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool ParseDocument(Value* out, std::string* error) {
    SkipSpace();
    bool ok = ParseValue(out, 0);
    if (ok) {
      SkipSpace();
      if (pos_ != text_.size()) ok = Fail("unexpected text after the document");
    }
    if (!ok) *error = error_;
    return ok;
  }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) {
      std::size_t line = 1, column = 1;
      for (std::size_t i = 0; i < pos_ && i < text_.size(); ++i) {
        column = text_[i] == '\n' ? 1 : column + 1;
        if (text_[i] == '\n') ++line;
      }
      error_ = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + what;
    }
    return false;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }
  bool At(char c) const { return !AtEnd() && Peek() == c; }
  bool AtDigit() const { return !AtEnd() && Peek() >= '0' && Peek() <= '9'; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++pos_;
    }
  }

  bool Literal(std::string_view word, Value* out, Value::Kind kind, bool boolean = false) {
    if (text_.substr(pos_, word.size()) != word) return Fail("invalid literal");
    pos_ += word.size();
    out->kind = kind;
    out->boolean = boolean;
    return true;
  }

  bool ParseValue(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting deeper than 64 levels");
    if (AtEnd()) return Fail("unexpected end of input, a value was expected");
    switch (Peek()) {
      case '{':
        out->kind = Value::Kind::Object;
        return ParseElements('}', "an object", [&] { return ParseMember(out, depth); });
      case '[':
        out->kind = Value::Kind::Array;
        return ParseElements(']', "an array",
                             [&] { return ParseValue(&out->items.emplace_back(), depth + 1); });
      case '"':
        out->kind = Value::Kind::String;
        return ParseString(&out->text);
      case 't':
        return Literal("true", out, Value::Kind::Bool, true);
      case 'f':
        return Literal("false", out, Value::Kind::Bool);
      case 'n':
        return Literal("null", out, Value::Kind::Null);
      default:
        if (At('-') || AtDigit()) return ParseNumber(out);
        return Fail(std::string("unexpected character '") + Peek() + "'");
    }
  }

  // The elements of an object or an array, from its opening bracket to the closing one.
  template <class ParseElement>
  bool ParseElements(char close, const char* what, ParseElement parse_element) {
    ++pos_;
    SkipSpace();
    if (At(close)) {
      ++pos_;
      return true;
    }
    for (;;) {
      SkipSpace();
      if (!parse_element()) return false;
      SkipSpace();
      if (AtEnd()) return Fail(std::string("unexpected end of input inside ") + what);
      if (Peek() != ',' && Peek() != close) {
        return Fail(std::string("',' or '") + close + "' was expected");
      }
      if (text_[pos_++] == close) return true;
    }
  }

  bool ParseMember(Value* object, int depth) {
    if (!At('"')) return Fail("a member name in double quotes was expected");
    const std::size_t key_pos = pos_;
    std::string key;
    if (!ParseString(&key)) return false;
    if (object->Find(key)) {
      pos_ = key_pos;
      return Fail("duplicate member \"" + key + "\"");
    }
    SkipSpace();
    if (!At(':')) return Fail("':' was expected after a member name");
    ++pos_;
    SkipSpace();
    Value::Member& member = object->members.emplace_back(std::move(key), Value{});
    return ParseValue(&member.second, depth + 1);
  }

  bool ParseHex4(std::uint32_t* out) {
    const char* begin = text_.data() + pos_;
    if (text_.size() - pos_ < 4 || std::from_chars(begin, begin + 4, *out, 16).ptr != begin + 4) {
      return Fail("a \\u escape needs four hex digits");
    }
    pos_ += 4;
    return true;
  }

  // After "\u" has been consumed.
  bool ParseUnicodeEscape(std::string* out) {
    std::uint32_t cp = 0;
    if (!ParseHex4(&cp)) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      const std::size_t save = pos_;
      if (text_.substr(pos_, 2) == "\\u") {
        pos_ += 2;
        std::uint32_t low = 0;
        if (!ParseHex4(&low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00), out);
          return true;
        }
      }
      pos_ = save;
      return Fail("a high surrogate escape without its low half");
    }
    if (cp >= 0xDC80 && cp <= 0xDCFF) {
      out->push_back(static_cast<char>(cp - 0xDC00));  // a raw 8-bit byte
      return true;
    }
    if (cp >= 0xDC00 && cp <= 0xDFFF) return Fail("a lone low surrogate escape");
    AppendUtf8(cp, out);
    return true;
  }

  bool ParseString(std::string* out) {
    static constexpr std::string_view kEscaped = "\"\\/bfnrt", kMeaning = "\"\\/\b\f\n\r\t";
    ++pos_;  // opening quote
    for (;;) {
      if (AtEnd()) return Fail("unterminated string");
      const char c = Peek();
      if (c == '"') {
        ++pos_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character inside a string");
      if (c == '\\') {
        if (++pos_ == text_.size()) return Fail("unterminated escape");
        const char e = text_[pos_++];
        if (e == 'u') {
          if (!ParseUnicodeEscape(out)) return false;
        } else if (const std::size_t i = kEscaped.find(e); i != std::string_view::npos) {
          out->push_back(kMeaning[i]);
        } else {
          --pos_;
          return Fail(std::string("unknown escape '\\") + e + "'");
        }
        continue;
      }
      const std::size_t n = Utf8SequenceLength(text_.substr(pos_));
      if (n == 0) return Fail("invalid UTF-8 in a string");
      out->append(text_.substr(pos_, n));
      pos_ += n;
    }
  }

  std::size_t Digits() {
    const std::size_t start = pos_;
    while (AtDigit()) ++pos_;
    return pos_ - start;
  }

  bool ParseNumber(Value* out) {
    const std::size_t start = pos_;
    if (At('-')) ++pos_;
    if (At('0')) {
      ++pos_;
      if (AtDigit()) return Fail("a number may not have leading zeros");
    } else if (Digits() == 0) {
      return Fail("a digit was expected");
    }
    if (At('.')) {
      ++pos_;
      if (Digits() == 0) return Fail("a digit was expected after '.'");
    }
    if (At('e') || At('E')) {
      ++pos_;
      if (At('+') || At('-')) ++pos_;
      if (Digits() == 0) return Fail("a digit was expected in the exponent");
    }
    out->kind = Value::Kind::Number;
    out->text = std::string(text_.substr(start, pos_ - start));
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool Parse(std::string_view text, Value* out, std::string* error) {
  *out = Value{};
  return Parser(text).ParseDocument(out, error);
}

}  // namespace fixture_host::json
