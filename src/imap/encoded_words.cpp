#include "imap/encoded_words.h"

#include <optional>

#include "common/ascii.h"
#include "imap/base64.h"
#include "imap/charset.h"

namespace kivimap::imap {

namespace {

// The Q encoding (RFC 2047, 4.2): "_" is a space, "=XX" a byte; anything else stands for
// itself, a lone "=" included.
std::string DecodeQ(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '_') {
      out.push_back(' ');
    } else if (text[i] == '=' && i + 2 < text.size() && AsciiHexValue(text[i + 1]) >= 0 &&
               AsciiHexValue(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(AsciiHexValue(text[i + 1]) * 16 + AsciiHexValue(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

bool IsWordChar(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte > 0x20 && byte < 0x7F && c != '?';
}

struct EncodedWord {
  std::size_t length;  // of the whole word, "=?" to "?="
  std::string text;    // decoded, in UTF-8 where the charset allows
};

// The encoded word that starts at raw[at] ("=?"), or nothing when none does.
std::optional<EncodedWord> ReadEncodedWord(std::string_view raw, std::size_t at) {
  std::size_t pos = at + 2;
  const std::size_t charset_start = pos;
  while (pos < raw.size() && IsWordChar(raw[pos])) ++pos;
  if (pos == charset_start || pos + 3 > raw.size() || raw[pos] != '?') return std::nullopt;
  std::string_view charset = raw.substr(charset_start, pos - charset_start);
  charset = charset.substr(0, charset.find('*'));  // RFC 2231 adds a language after "*"
  const char encoding = raw[pos + 1];
  if (raw[pos + 2] != '?') return std::nullopt;
  pos += 3;
  const std::size_t text_start = pos;
  while (pos < raw.size() && IsWordChar(raw[pos])) ++pos;
  if (pos + 1 >= raw.size() || raw[pos] != '?' || raw[pos + 1] != '=') return std::nullopt;
  const std::string_view text = raw.substr(text_start, pos - text_start);

  std::string bytes;
  if (encoding == 'Q' || encoding == 'q') {
    bytes = DecodeQ(text);
  } else if (encoding == 'B' || encoding == 'b') {
    std::optional<std::string> decoded = DecodeBase64(text);
    if (!decoded) return std::nullopt;
    bytes = std::move(*decoded);
  } else {
    return std::nullopt;
  }
  EncodedWord word{pos + 2 - at, std::string()};
  AppendAsUtf8(word.text, bytes, CharsetNamed(charset));
  return word;
}

void AppendRaw(std::string& out, std::string_view raw) {
  AppendAsUtf8(out, raw, IsUtf8(raw) ? Charset::Utf8 : Charset::Latin1);
}

bool IsBlankRun(std::string_view text) {
  return text.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

std::string DecodeHeaderText(std::string_view raw) {
  std::string unfolded;
  unfolded.reserve(raw.size());
  for (const char c : raw) {
    if (c != '\r' && c != '\n') unfolded.push_back(c);
  }
  const std::string_view text = unfolded;

  std::string out;
  out.reserve(text.size());
  std::size_t raw_start = 0;  // start of the text not yet written
  bool after_word = false;    // the text written last was an encoded word
  for (std::size_t at = text.find("=?"); at != std::string_view::npos; at = text.find("=?", at)) {
    std::optional<EncodedWord> word = ReadEncodedWord(text, at);
    if (!word) {
      at += 2;
      continue;
    }
    const std::string_view between = text.substr(raw_start, at - raw_start);
    if (!(after_word && IsBlankRun(between))) AppendRaw(out, between);
    out.append(word->text);
    at += word->length;
    raw_start = at;
    after_word = true;
  }
  AppendRaw(out, text.substr(raw_start));
  return out;
}

}  // namespace kivimap::imap
