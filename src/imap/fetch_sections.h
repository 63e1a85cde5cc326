// The bytes FETCH sends for a message: its extent in its file, and what each body section
// names (the whole text, the header block, chosen header fields, the body, a MIME part, a part's
// own header), as a range of the file or as text built from the header fields.
//
// Every read honours the message's range: a host that keeps several messages in one file gets
// the right one, and nothing past the end of the range or of the file is ever named.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "imap/section_target.h"
#include "store/message.h"

namespace kivimap::imap {

// Where a message's bytes lie in its file: from its StartPosition to its EndPosition, cut at the
// file's end; empty when EndPosition is below StartPosition or there is no file.
struct MessageExtent {
  std::int64_t start = 0;
  std::int64_t end = 0;
  std::uint64_t size() const { return static_cast<std::uint64_t>(end - start); }
};
MessageExtent ExtentOf(const store::ImapMessage& message);

// The bytes of a section: a range of the message's file, or text.
struct SectionBytes {
  bool in_file = false;
  std::int64_t offset = 0;  // in_file: where the range starts in the file
  std::uint64_t length = 0;
  std::string text;  // !in_file: the bytes themselves

  // Keeps the bytes from start on, at most length of them (a partial fetch "<start.length>").
  void Narrow(std::uint64_t start, std::uint64_t length);
};

// The bytes section names in message. A part that does not exist, or a HEADER or TEXT of a
// part that holds no message of its own, gives no bytes. Reads headers and splits parts on
// first use; may throw std::bad_alloc.
SectionBytes ReadSection(store::ImapMessage& message, const SectionTarget& section);

// The header block (up to the line end of its last field): ReadHeaderBlock, or the whole
// message when its header never ends (a message without a body).
SectionBytes HeaderBlock(store::ImapMessage& message);

// The body after the header block and the blank line that ends it.
SectionBytes BodyText(store::ImapMessage& message);

}  // namespace kivimap::imap
