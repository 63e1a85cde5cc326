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

class Value {
 public:
  enum class Kind { Null, Bool, Number, String, Array, Object };
  using Member = std::pair<std::string, Value>;

  Value() = default;
  static Value MakeBool(bool b);
  static Value MakeNumber(std::string text);
  static Value MakeString(std::string text);
  static Value MakeArray(std::vector<Value> items);
  static Value MakeObject(std::vector<Member> members);

  Kind kind() const { return kind_; }
  bool is_null() const { return kind_ == Kind::Null; }
  bool is_bool() const { return kind_ == Kind::Bool; }
  bool is_number() const { return kind_ == Kind::Number; }
  bool is_string() const { return kind_ == Kind::String; }
  bool is_array() const { return kind_ == Kind::Array; }
  bool is_object() const { return kind_ == Kind::Object; }

  bool boolean() const { return bool_; }
  // The string of a String; the literal text of a Number.
  const std::string& text() const { return text_; }
  const std::vector<Value>& items() const { return items_; }
  const std::vector<Member>& members() const { return members_; }

  // The member with this key, or null when absent (or when this is not an object).
  const Value* Find(std::string_view key) const;
  // A Number written without fraction or exponent that fits in int64.
  bool AsInt64(std::int64_t* out) const;

 private:
  Kind kind_ = Kind::Null;
  bool bool_ = false;
  std::string text_;
  std::vector<Value> items_;
  std::vector<Member> members_;
};

// Parses one JSON document. On failure returns false and describes the first fault, with its
// line and column, in *error.
bool Parse(std::string_view text, Value* out, std::string* error);

// A short name of a kind for messages ("a string", "an object", ...).
const char* KindName(Value::Kind kind);

}  // namespace fixture_host::json
