// A small, strict JSON reader for fixture files (RFC 8259, no extensions).
//
// Strings come out as UTF-8. A \u escape of a lone surrogate in U+DC80..U+DCFF stands for the raw
// byte 0x80..0xFF, so that a fixture can carry any 8-bit text (the same lossless escape the
// library uses for its 8-bit code page, and Python's "surrogateescape"); any other lone surrogate
// is an error. Objects keep their members in file order and may not repeat a key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace fixture_host::json {

struct Value {
  enum class Kind { Null, Bool, Number, String, Array, Object };
  using Member = std::pair<std::string, Value>;

  Kind kind = Kind::Null;
  bool boolean = false;
  std::string text;  // the string of a String; the literal text of a Number
  std::vector<Value> items;
  std::vector<Member> members;

  // The member with this key, or null when absent (or when this is not an object).
  const Value* Find(std::string_view key) const;
  // A Number written without fraction or exponent that fits in int64.
  bool AsInt64(std::int64_t* out) const;
};

// Parses one JSON document. On failure returns false and describes the first fault, with its
// line and column, in *error.
bool Parse(std::string_view text, Value* out, std::string* error);

// A short name of a kind for messages ("a string", "an object", ...).
const char* KindName(Value::Kind kind);

// Appends the UTF-8 form of a code point below 0x110000.
void AppendUtf8(std::uint32_t code_point, std::string* out);

}  // namespace fixture_host::json
