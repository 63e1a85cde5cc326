#include "json.h"

#include <charconv>
#include <cstdio>

namespace fixture_host::json {

Value Value::MakeBool(bool b) {
  Value v;
  v.kind_ = Kind::Bool;
  v.bool_ = b;
  return v;
}

Value Value::MakeNumber(std::string text) {
  Value v;
  v.kind_ = Kind::Number;
  v.text_ = std::move(text);
  return v;
}

Value Value::MakeString(std::string text) {
  Value v;
  v.kind_ = Kind::String;
  v.text_ = std::move(text);
  return v;
}

Value Value::MakeArray(std::vector<Value> items) {
  Value v;
  v.kind_ = Kind::Array;
  v.items_ = std::move(items);
  return v;
}

Value Value::MakeObject(std::vector<Member> members) {
  Value v;
  v.kind_ = Kind::Object;
  v.members_ = std::move(members);
  return v;
}

const Value* Value::Find(std::string_view key) const {
  for (const Member& m : members_) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

bool Value::AsInt64(std::int64_t* out) const {
  if (kind_ != Kind::Number) return false;
  if (text_.find_first_of(".eE") != std::string::npos) return false;
  const char* end = text_.data() + text_.size();
  auto [ptr, ec] = std::from_chars(text_.data(), end, *out);
  return ec == std::errc() && ptr == end;
}

const char* KindName(Value::Kind kind) {
  switch (kind) {
    case Value::Kind::Null:
      return "null";
    case Value::Kind::Bool:
      return "a boolean";
    case Value::Kind::Number:
      return "a number";
    case Value::Kind::String:
      return "a string";
    case Value::Kind::Array:
      return "an array";
    case Value::Kind::Object:
      return "an object";
  }
  return "?";
}

namespace {

// Deep enough for any fixture; keeps a hostile file from exhausting the stack.
constexpr int kMaxDepth = 64;

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

// Length of the valid UTF-8 sequence at s (0 when it is not one).
std::size_t Utf8SequenceLength(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  std::size_t n = 0;
  std::uint32_t cp = 0;
  if (b0 < 0x80) return 1;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    n = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    n = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    n = 4;
    cp = b0 & 0x07;
  } else {
    return 0;
  }
  if (s.size() < n) return 0;
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
        if (text_[i] == '\n') {
          ++line;
          column = 1;
        } else {
          ++column;
        }
      }
      error_ = "line " + std::to_string(line) + " column " + std::to_string(column) + ": " + what;
    }
    return false;
  }

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return text_[pos_]; }

  void SkipSpace() {
    while (!AtEnd() && (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r')) {
      ++pos_;
    }
  }

  bool Expect(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return Fail("invalid literal");
    pos_ += word.size();
    return true;
  }

  bool ParseValue(Value* out, int depth) {
    if (depth > kMaxDepth) return Fail("nesting deeper than 64 levels");
    if (AtEnd()) return Fail("unexpected end of input, a value was expected");
    switch (Peek()) {
      case '{':
        return ParseObject(out, depth);
      case '[':
        return ParseArray(out, depth);
      case '"': {
        std::string s;
        if (!ParseString(&s)) return false;
        *out = Value::MakeString(std::move(s));
        return true;
      }
      case 't':
        if (!Expect("true")) return false;
        *out = Value::MakeBool(true);
        return true;
      case 'f':
        if (!Expect("false")) return false;
        *out = Value::MakeBool(false);
        return true;
      case 'n':
        if (!Expect("null")) return false;
        *out = Value();
        return true;
      default:
        if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return ParseNumber(out);
        return Fail(std::string("unexpected character '") + Peek() + "'");
    }
  }

  bool ParseObject(Value* out, int depth) {
    ++pos_;  // '{'
    std::vector<Value::Member> members;
    SkipSpace();
    if (!AtEnd() && Peek() == '}') {
      ++pos_;
      *out = Value::MakeObject(std::move(members));
      return true;
    }
    for (;;) {
      SkipSpace();
      if (AtEnd() || Peek() != '"') return Fail("a member name in double quotes was expected");
      const std::size_t key_pos = pos_;
      std::string key;
      if (!ParseString(&key)) return false;
      for (const Value::Member& m : members) {
        if (m.first == key) {
          pos_ = key_pos;
          return Fail("duplicate member \"" + key + "\"");
        }
      }
      SkipSpace();
      if (AtEnd() || Peek() != ':') return Fail("':' was expected after a member name");
      ++pos_;
      SkipSpace();
      Value v;
      if (!ParseValue(&v, depth + 1)) return false;
      members.emplace_back(std::move(key), std::move(v));
      SkipSpace();
      if (AtEnd()) return Fail("unexpected end of input inside an object");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == '}') {
        ++pos_;
        *out = Value::MakeObject(std::move(members));
        return true;
      }
      return Fail("',' or '}' was expected");
    }
  }

  bool ParseArray(Value* out, int depth) {
    ++pos_;  // '['
    std::vector<Value> items;
    SkipSpace();
    if (!AtEnd() && Peek() == ']') {
      ++pos_;
      *out = Value::MakeArray(std::move(items));
      return true;
    }
    for (;;) {
      SkipSpace();
      Value v;
      if (!ParseValue(&v, depth + 1)) return false;
      items.push_back(std::move(v));
      SkipSpace();
      if (AtEnd()) return Fail("unexpected end of input inside an array");
      if (Peek() == ',') {
        ++pos_;
        continue;
      }
      if (Peek() == ']') {
        ++pos_;
        *out = Value::MakeArray(std::move(items));
        return true;
      }
      return Fail("',' or ']' was expected");
    }
  }

  bool ParseHex4(std::uint32_t* out) {
    if (text_.size() - pos_ < 4) return Fail("a \\u escape needs four hex digits");
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text_[pos_ + i];
      v <<= 4;
      if (c >= '0' && c <= '9') {
        v |= c - '0';
      } else if (c >= 'a' && c <= 'f') {
        v |= c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        v |= c - 'A' + 10;
      } else {
        return Fail("a \\u escape needs four hex digits");
      }
    }
    pos_ += 4;
    *out = v;
    return true;
  }

  // After "\u" has been consumed.
  bool ParseUnicodeEscape(std::string* out) {
    std::uint32_t cp = 0;
    if (!ParseHex4(&cp)) return false;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (text_.substr(pos_, 2) == "\\u") {
        const std::size_t save = pos_;
        pos_ += 2;
        std::uint32_t low = 0;
        if (!ParseHex4(&low)) return false;
        if (low >= 0xDC00 && low <= 0xDFFF) {
          AppendUtf8(0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00), out);
          return true;
        }
        pos_ = save;
      }
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
        ++pos_;
        if (AtEnd()) return Fail("unterminated escape");
        const char e = Peek();
        ++pos_;
        switch (e) {
          case '"':
          case '\\':
          case '/':
            out->push_back(e);
            break;
          case 'b':
            out->push_back('\b');
            break;
          case 'f':
            out->push_back('\f');
            break;
          case 'n':
            out->push_back('\n');
            break;
          case 'r':
            out->push_back('\r');
            break;
          case 't':
            out->push_back('\t');
            break;
          case 'u':
            if (!ParseUnicodeEscape(out)) return false;
            break;
          default:
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

  bool ParseNumber(Value* out) {
    const std::size_t start = pos_;
    auto digits = [this] {
      std::size_t n = 0;
      while (!AtEnd() && Peek() >= '0' && Peek() <= '9') {
        ++pos_;
        ++n;
      }
      return n;
    };
    if (Peek() == '-') ++pos_;
    if (AtEnd()) return Fail("a digit was expected");
    if (Peek() == '0') {
      ++pos_;
      if (!AtEnd() && Peek() >= '0' && Peek() <= '9')
        return Fail("a number may not have leading zeros");
    } else if (digits() == 0) {
      return Fail("a digit was expected");
    }
    if (!AtEnd() && Peek() == '.') {
      ++pos_;
      if (digits() == 0) return Fail("a digit was expected after '.'");
    }
    if (!AtEnd() && (Peek() == 'e' || Peek() == 'E')) {
      ++pos_;
      if (!AtEnd() && (Peek() == '+' || Peek() == '-')) ++pos_;
      if (digits() == 0) return Fail("a digit was expected in the exponent");
    }
    *out = Value::MakeNumber(std::string(text_.substr(start, pos_ - start)));
    return true;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::string error_;
};

}  // namespace

bool Parse(std::string_view text, Value* out, std::string* error) {
  return Parser(text).ParseDocument(out, error);
}

}  // namespace fixture_host::json
