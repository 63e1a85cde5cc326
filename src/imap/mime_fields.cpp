#include "imap/mime_fields.h"

#include "common/ascii.h"

namespace kivimap::imap {

namespace {

// RFC 2045's tspecials end a token, as do blanks and controls.
bool IsTokenChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  if (byte <= 0x20 || byte == 0x7F) return false;
  return std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
}

// Reads a value's tokens and separators left to right, skipping blanks, folding and comments.
class FieldReader {
 public:
  explicit FieldReader(std::string_view text) : text_(text) {}

  bool AtEnd() {
    SkipBlanks();
    return pos_ >= text_.size();
  }
  bool Consume(char c) {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != c) return false;
    ++pos_;
    return true;
  }
  std::string_view Token() {
    SkipBlanks();
    const std::size_t start = pos_;
    while (pos_ < text_.size() && IsTokenChar(text_[pos_])) ++pos_;
    return text_.substr(start, pos_ - start);
  }
  // A token, or a quoted string's content.
  std::string Value() {
    SkipBlanks();
    if (pos_ >= text_.size() || text_[pos_] != '"') return std::string(Token());
    std::string value;
    for (++pos_; pos_ < text_.size() && text_[pos_] != '"'; ++pos_) {
      if (text_[pos_] == '\\' && pos_ + 1 < text_.size()) ++pos_;
      if (text_[pos_] != '\r' && text_[pos_] != '\n') value.push_back(text_[pos_]);
    }
    if (pos_ < text_.size()) ++pos_;  // the closing quote
    return value;
  }
  // Moves on past the next ";" outside quotes; false when there is none.
  bool SkipPastSemicolon() {
    bool quoted = false;
    for (; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (quoted && c == '\\') {
        ++pos_;
      } else if (c == '"') {
        quoted = !quoted;
      } else if (c == ';' && !quoted) {
        ++pos_;
        return true;
      }
    }
    return false;
  }

 private:
  void SkipBlanks() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (c == '(') {
        SkipComment();
      } else {
        break;
      }
    }
  }
  void SkipComment() {
    int depth = 0;
    for (; pos_ < text_.size(); ++pos_) {
      const char c = text_[pos_];
      if (c == '\\') {
        ++pos_;
      } else if (c == '(') {
        ++depth;
      } else if (c == ')' && --depth == 0) {
        ++pos_;
        return;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

}  // namespace

MediaType MediaTypeOf(std::string_view content_type) {
  FieldReader reader(content_type);
  MediaType media;
  media.type = AsciiLower(reader.Token());
  if (reader.Consume('/')) media.subtype = AsciiLower(reader.Token());
  return media;
}

std::optional<std::string> MimeParameter(std::string_view content_type, std::string_view name) {
  FieldReader reader(content_type);
  while (reader.SkipPastSemicolon()) {
    const std::string_view key = reader.Token();
    if (!reader.Consume('=')) continue;
    std::string value = reader.Value();
    if (EqualsNoCase(key, name)) return value;
  }
  return std::nullopt;
}

}  // namespace kivimap::imap
