#include "imap/charset.h"

#include <array>
#include <cstdint>

#include "common/ascii.h"

namespace kivimap::imap {

namespace {

// Windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep their ISO-8859-1 (C1)
// meaning.
constexpr std::array<char16_t, 32> kWindows1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void AppendCodePoint(std::string& out, char16_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

}  // namespace

Charset CharsetNamed(std::string_view name) {
  const std::string lower = AsciiLower(name);
  if (lower == "utf-8" || lower == "utf8") return Charset::Utf8;
  for (const std::string_view latin : {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "latin-1",
                                       "l1", "windows-1252", "cp1252", "x-cp1252"}) {
    if (lower == latin) return Charset::Latin1;
  }
  return Charset::Bytes;
}

void AppendAsUtf8(std::string& out, std::string_view bytes, Charset charset) {
  if (charset != Charset::Latin1) {
    out.append(bytes);
    return;
  }
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      AppendCodePoint(out, byte < 0xA0 ? kWindows1252High[byte - 0x80] : char16_t{byte});
    }
  }
}

bool IsUtf8(std::string_view bytes) {
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    if (lead < 0x80) {
      ++i;
      continue;
    }
    std::size_t length;
    std::uint32_t value;
    if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (bytes.size() - i < length) return false;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      value = (value << 6) | (next & 0x3F);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF))) {
      return false;
    }
    i += length;
  }
  return true;
}

}  // namespace kivimap::imap
