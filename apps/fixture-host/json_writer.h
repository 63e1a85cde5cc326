// Builds one line of JSON. Keys and values are written in call order; commas are placed here.
// Wide strings are written from their UTF-16 form: a lone surrogate, such as the U+DC80..U+DCFF
// escape of a raw 8-bit byte, becomes a \u escape, so every string survives the round trip.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kivimap/wide_string.h"

namespace fixture_host {

class JsonWriter {
 public:
  JsonWriter& BeginObject() { return Open('{'); }
  JsonWriter& EndObject() { return Close('}'); }
  JsonWriter& BeginArray() { return Open('['); }
  JsonWriter& EndArray() { return Close(']'); }
  // Inside an object, before each value.
  JsonWriter& Key(std::string_view key);

  JsonWriter& Null() { return Raw("null"); }
  JsonWriter& Bool(bool value) { return Raw(value ? "true" : "false"); }
  JsonWriter& Int(std::int64_t value) { return Raw(std::to_string(value)); }
  JsonWriter& Utf8(std::string_view text);            // text in UTF-8
  JsonWriter& Wide(const kivimap::WideString& text);  // null -> JSON null

  const std::string& str() const { return out_; }

 private:
  void BeforeValue();
  JsonWriter& Open(char bracket);
  JsonWriter& Close(char bracket);
  JsonWriter& Raw(std::string_view text);

  std::string out_;
  // One entry per open container: whether it already holds an element.
  std::vector<bool> non_empty_;
  bool after_key_ = false;
};

}  // namespace fixture_host
