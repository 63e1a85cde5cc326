// The character sets SEARCH compares text in. Searched text is brought to UTF-8 where its
// charset is one we know how to convert (UTF-8 itself, US-ASCII, ISO-8859-1 and Windows-1252);
// text in any other charset is compared as the bytes it is.
#pragma once

#include <string>
#include <string_view>

namespace kivimap::imap {

enum class Charset {
  Bytes,   // US-ASCII, an unknown or unnamed charset: compared as it stands
  Utf8,    // already UTF-8
  Latin1,  // ISO-8859-1 or Windows-1252, read as Windows-1252 (its superset in practice)
};

// The charset a MIME charset name (a Content-Type parameter, an encoded word) stands for,
// compared without regard to case: "utf-8", "iso-8859-1", "latin1", "windows-1252", ...
Charset CharsetNamed(std::string_view name);

// Appends bytes, written in charset, to out as UTF-8 (Bytes and Utf8 are appended unchanged).
void AppendAsUtf8(std::string& out, std::string_view bytes, Charset charset);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsUtf8(std::string_view bytes);

}  // namespace kivimap::imap
