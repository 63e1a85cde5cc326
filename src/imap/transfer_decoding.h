// Content-Transfer-Encoding (RFC 2045, 6) undone piece by piece, so that a body of any size is
// decoded as it is read, in bounded memory.
#pragma once

#include <string>
#include <string_view>

#include "imap/base64.h"

namespace kivimap::imap {

enum class TransferEncoding {
  Identity,  // 7bit, 8bit, binary, a missing field or one we do not know
  QuotedPrintable,
  Base64,
};

// The encoding a Content-Transfer-Encoding value names (blanks around it and case ignored).
TransferEncoding TransferEncodingNamed(std::string_view value);

class TransferDecoder {
 public:
  explicit TransferDecoder(TransferEncoding encoding) : encoding_(encoding) {}

  // Appends what the piece decodes to. Pieces may be cut anywhere, inside an escape or a group
  // of four included: the decoder keeps the unfinished end for the next piece.
  void Feed(std::string_view piece, std::string& out);
  // The end of the text: whatever was kept back is decoded as well as it can be.
  void Finish(std::string& out);

 private:
  // Quoted-printable: "=XX" is a byte, "=" at a line end a soft line break (removed with its
  // line end); an "=" followed by anything else stands for itself.
  void DecodeQuotedPrintable(std::string_view text, bool final, std::string& out);

  TransferEncoding encoding_;
  Base64Stream base64_;
  std::string pending_;  // quoted-printable: an "=" the piece ended too soon after
};

}  // namespace kivimap::imap
