#include "imap/search_finder.h"

#include "common/ascii.h"

namespace kivimap::imap {

TextFinder::TextFinder(std::string_view needle)
    : needle_(AsciiLower(needle)), fallback_(needle_.size() + 1, 0), found_(needle_.empty()) {
  for (std::size_t i = 1, border = 0; i < needle_.size(); ++i) {
    while (border > 0 && needle_[i] != needle_[border]) border = fallback_[border];
    if (needle_[i] == needle_[border]) ++border;
    fallback_[i + 1] = border;
  }
}

void TextFinder::Reset() {
  matched_ = 0;
  found_ = needle_.empty();
}

bool TextFinder::Feed(std::string_view piece) {
  if (found_) return true;
  const std::size_t size = needle_.size();
  const char first = needle_[0];
  std::size_t matched = matched_;
  for (std::size_t i = 0; i < piece.size(); ++i) {
    const char c = AsciiToLower(piece[i]);
    if (matched == 0) {
      // Most bytes start nothing: skip them cheaply.
      if (c != first) continue;
      matched = 1;
    } else {
      while (matched > 0 && c != needle_[matched]) matched = fallback_[matched];
      if (c == needle_[matched]) ++matched;
    }
    if (matched == size) {
      found_ = true;
      return true;
    }
  }
  matched_ = matched;
  return false;
}

}  // namespace kivimap::imap
