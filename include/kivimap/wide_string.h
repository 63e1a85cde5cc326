// WideString: the host's string type. A counted UTF-16 string that may hold NUL characters and
// may be null (absent); a null string and an empty one are different values.
//
// The 8-bit "system code page" is UTF-8 with a lossless escape: a byte that is not part of valid
// UTF-8 becomes the lone surrogate U+DC80..U+DCFF (U+DC00 + byte) on the way in, and the same byte
// on the way out, so any 8-bit text survives ToWide -> ToNarrow exactly. Any other lone surrogate,
// which has no 8-bit form, comes out as '?'.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace kivimap {

class WideString {
 public:
  WideString() = default;                                              // null
  WideString(std::u16string_view text) : text_(text), null_(false) {}  // NOLINT: implicit by design
  WideString(const char16_t* text) : text_(text ? text : u""), null_(text == nullptr) {}  // NOLINT
  // Takes over the characters without copying them.
  explicit WideString(std::u16string&& text) : text_(std::move(text)), null_(false) {}

  static WideString Null() { return WideString(); }
  static WideString Empty() { return WideString(std::u16string_view()); }

  bool IsNull() const { return null_; }
  bool empty() const { return text_.empty(); }  // also true for null
  std::size_t size() const { return text_.size(); }
  const char16_t* data() const { return text_.data(); }
  std::u16string_view view() const { return text_; }
  const std::u16string& str() const { return text_; }

  // 8-bit text in the system code page. Null and empty both give "". Embedded NUL characters
  // come out as NUL bytes; callers that want C text stop at the first one.
  std::string ToNarrow() const;

  friend bool operator==(const WideString& a, const WideString& b) {
    return a.null_ == b.null_ && a.text_ == b.text_;
  }

 private:
  std::u16string text_;
  bool null_ = true;
};

// 8-bit text in the system code page -> a new, non-null wide string (the whole view, NULs kept).
WideString ToWide(std::string_view narrow);
// Wide -> 8-bit text in the system code page; the same as s.ToNarrow().
std::string ToNarrow(const WideString& s);
// Doubles every backslash; nothing else changes.
std::string EscapeBackslashes(std::string_view text);

}  // namespace kivimap
