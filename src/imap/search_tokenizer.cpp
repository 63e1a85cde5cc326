#include "imap/search_tokenizer.h"

namespace kivimap::imap {

namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7F;
}

}  // namespace

SearchToken SearchTokenizer::Next() {
  if (peeked_) {
    peeked_ = false;
    return std::move(peek_);
  }
  return Read();
}

const SearchToken& SearchTokenizer::Peek() {
  if (!peeked_) {
    peek_ = Read();
    peeked_ = true;
  }
  return peek_;
}

SearchToken SearchTokenizer::Fail() {
  failed_ = true;
  return {SearchTokenKind::Error, std::string()};
}

SearchToken SearchTokenizer::Read() {
  if (failed_) return Fail();
  while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_;
  if (pos_ >= text_.size()) return {SearchTokenKind::End, std::string()};
  const char first = text_[pos_];
  if (first == '(' || first == ')') {
    ++pos_;
    return {first == '(' ? SearchTokenKind::Open : SearchTokenKind::Close, std::string()};
  }
  SearchToken token;
  if (first == '"') {
    token.kind = SearchTokenKind::Quoted;
    for (++pos_;; ++pos_) {
      if (pos_ >= text_.size()) {
        return Fail();
      }
      char c = text_[pos_];
      if (c == '"') break;
      if (c == '\\') {
        c = pos_ + 1 < text_.size() ? text_[pos_ + 1] : '\0';
        if (c != '"' && c != '\\') {
          return Fail();
        }
        ++pos_;
      } else if (c == '\r' || c == '\n' || c == '\0') {
        return Fail();
      }
      token.text.push_back(c);
    }
    ++pos_;  // the closing quote
    return token;
  }
  token.kind = SearchTokenKind::Atom;
  for (; pos_ < text_.size(); ++pos_) {
    const char c = text_[pos_];
    if (c == ' ' || c == '(' || c == ')' || c == '"') break;
    if (IsControl(c) || c == '{') {
      return Fail();
    }
    token.text.push_back(c);
  }
  return token;
}

}  // namespace kivimap::imap
