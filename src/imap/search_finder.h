// Finding a SEARCH string in text that arrives in pieces: a substring match without regard to
// ASCII case (RFC 3501 asks for case-insensitive matching; case is mapped for A-Z only, as
// everywhere in kivimap). It runs in time linear in the text whatever the string, and keeps a
// partial match across pieces, so a body is searched as it is read.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kivimap::imap {

class TextFinder {
 public:
  explicit TextFinder(std::string_view needle);

  // Searches the next piece of the current text; true once the string has been found in the
  // text fed since the last Reset. The empty string is found at once.
  bool Feed(std::string_view piece);
  // Starts a new text: a match never spans two texts.
  void Reset();
  bool found() const { return found_; }

 private:
  std::string needle_;                 // lower-cased
  std::vector<std::size_t> fallback_;  // Knuth-Morris-Pratt: longest proper border of each prefix
  std::size_t matched_ = 0;
  bool found_;
};

}  // namespace kivimap::imap
