#include "imap/transfer_decoding.h"

#include "common/ascii.h"

namespace kivimap::imap {

TransferEncoding TransferEncodingNamed(std::string_view value) {
  const std::size_t first = value.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return TransferEncoding::Identity;
  value = value.substr(first, value.find_last_not_of(" \t\r\n") + 1 - first);
  if (EqualsNoCase(value, "quoted-printable")) return TransferEncoding::QuotedPrintable;
  if (EqualsNoCase(value, "base64")) return TransferEncoding::Base64;
  return TransferEncoding::Identity;
}

void TransferDecoder::Feed(std::string_view piece, std::string& out) {
  switch (encoding_) {
    case TransferEncoding::Identity:
      out.append(piece);
      break;
    case TransferEncoding::Base64:
      base64_.Feed(piece, out);
      break;
    case TransferEncoding::QuotedPrintable:
      if (pending_.empty()) {
        DecodeQuotedPrintable(piece, false, out);
      } else {
        std::string text = std::move(pending_);
        pending_.clear();
        text.append(piece);
        DecodeQuotedPrintable(text, false, out);
      }
      break;
  }
}

void TransferDecoder::Finish(std::string& out) {
  if (encoding_ == TransferEncoding::Base64) base64_.Finish(out);
  if (encoding_ == TransferEncoding::QuotedPrintable && !pending_.empty()) {
    const std::string text = std::move(pending_);
    pending_.clear();
    DecodeQuotedPrintable(text, true, out);
  }
}

void TransferDecoder::DecodeQuotedPrintable(std::string_view text, bool final, std::string& out) {
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t equals = text.find('=', i);
    if (equals == std::string_view::npos) {
      out.append(text.substr(i));
      return;
    }
    out.append(text.substr(i, equals - i));
    i = equals;
    if (text.size() - i < 3 && !final) {
      pending_.assign(text.substr(i));
      return;
    }
    const char first = i + 1 < text.size() ? text[i + 1] : '\0';
    const char second = i + 2 < text.size() ? text[i + 2] : '\0';
    if (AsciiHexValue(first) >= 0 && AsciiHexValue(second) >= 0) {
      out.push_back(static_cast<char>(AsciiHexValue(first) * 16 + AsciiHexValue(second)));
      i += 3;
    } else if (first == '\r') {
      i += second == '\n' ? 3 : 2;  // a soft line break, CR LF or a bare CR
    } else if (first == '\n') {
      i += 2;
    } else {
      out.push_back('=');
      i += 1;
    }
  }
}

}  // namespace kivimap::imap
