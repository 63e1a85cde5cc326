// Base64 (RFC 4648 alphabet) decoding: strictly, for a client's AUTHENTICATE responses and for
// encoded words in header fields, and leniently as a stream, for message bodies.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kivimap::imap {

// Decodes standard base64. Padding may be left out; anything else that is not base64 (other
// characters, padding inside the text, a lone last character) gives nothing.
std::optional<std::string> DecodeBase64(std::string_view text);

// A base64 body transfer encoding (RFC 2045, 6.8) decoded piece by piece, as the text arrives
// in arbitrary chunks. Characters outside the alphabet (line ends, blanks, stray bytes) are
// skipped, as RFC 2045 asks; "=" ends a group of four early, and what follows it starts anew.
class Base64Stream {
 public:
  // Appends the bytes that text completes to out.
  void Feed(std::string_view text, std::string& out);
  // A last group cut short without padding still gives its whole bytes.
  void Finish(std::string& out);

 private:
  std::uint32_t bits_ = 0;
  int count_ = 0;  // bits held in bits_, 0 to 18
};

}  // namespace kivimap::imap
