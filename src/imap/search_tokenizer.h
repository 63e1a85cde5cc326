// The tokens of a SEARCH command's arguments. Unlike SplitArguments, quoted strings here take
// the two escapes of RFC 3501 (4.3): \" and \\. Any other backslash inside quotes, a control
// character, an unclosed quote, or a "{" outside quotes (a literal, which this command does
// not take) is an error that ends the tokens.
#pragma once

#include <string>
#include <string_view>

namespace kivimap::imap {

enum class SearchTokenKind {
  End,     // no more text
  Error,   // malformed text; every later Next gives Error again
  Open,    // "("
  Close,   // ")"
  Atom,    // a run of other characters, up to a space, a parenthesis or a quote
  Quoted,  // a quoted string; text holds its content with the escapes undone
};

struct SearchToken {
  SearchTokenKind kind = SearchTokenKind::End;
  std::string text;  // Atom, Quoted
};

class SearchTokenizer {
 public:
  explicit SearchTokenizer(std::string_view text) : text_(text) {}

  // Spaces between tokens are skipped, however many there are.
  SearchToken Next();
  // The token Next would give, without taking it.
  const SearchToken& Peek();

 private:
  SearchToken Read();
  SearchToken Fail();

  std::string_view text_;
  std::size_t pos_ = 0;
  bool failed_ = false;
  bool peeked_ = false;
  SearchToken peek_;
};

}  // namespace kivimap::imap
