#include "imap/fetch_sections.h"

#include <algorithm>
#include <optional>

#include "common/ascii.h"
#include "store/header.h"
#include "store/headers.h"
#include "store/messages.h"

namespace kivimap::imap {

namespace {

SectionBytes FileRange(std::int64_t offset, std::int64_t end) {
  SectionBytes bytes;
  bytes.in_file = true;
  bytes.offset = offset;
  bytes.length = end > offset ? static_cast<std::uint64_t>(end - offset) : 0;
  return bytes;
}

SectionBytes Text(std::string text) {
  SectionBytes bytes;
  bytes.length = text.size();
  bytes.text = std::move(text);
  return bytes;
}

// Where the body starts in the file; the message's end when its header never ends.
std::int64_t BodyStartOf(store::ImapMessage& message, const MessageExtent& extent) {
  message.ParseHeaders();
  const std::int64_t body = message.BodyStart();
  return body > extent.start && body <= extent.end ? body : extent.end;
}

bool IsMessageRfc822(store::ImapMessage& message) {
  const store::ImapMessageHeader* type = message.FindHeader("Content-Type");
  if (!type) return false;
  std::string_view value = type->value();
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  return EqualsNoCase(value.substr(0, 14), "message/rfc822");
}

// A part's body without the line end before the next delimiter, which belongs to the delimiter.
SectionBytes PartBody(store::ImapMessage& part) {
  const MessageExtent extent = ExtentOf(part);
  const std::int64_t body = BodyStartOf(part, extent);
  std::int64_t end = extent.end;
  char tail[2];
  if (end - body >= 2 && part.ReadRange(tail, end - 2, 2) == 2 && tail[0] == '\r' &&
      tail[1] == '\n') {
    end -= 2;
  } else if (end - body >= 1 && part.ReadRange(tail, end - 1, 1) == 1 && tail[0] == '\n') {
    end -= 1;
  }
  return FileRange(body, end);
}

// A part's own header fields and the blank line after them, without its delimiter line.
SectionBytes PartMime(store::ImapMessage& part) {
  const MessageExtent extent = ExtentOf(part);
  const std::int64_t body = BodyStartOf(part, extent);
  std::string header = part.ReadRange(extent.start, static_cast<std::size_t>(body - extent.start));
  if (part.StartsWithDelimiter()) {
    const std::size_t line_end = header.find('\n');
    header.erase(0, line_end == std::string::npos ? header.size() : line_end + 1);
  }
  return Text(std::move(header));
}

// The message a message/rfc822 part carries in its body, as a message of its own.
Ref<store::ImapMessage> EmbeddedMessage(store::ImapMessage& part) {
  const SectionBytes body = PartBody(part);
  Ref<store::ImapMessage> embedded = store::ImapMessage::Create();
  embedded->put_Filename(part.Filename());
  embedded->put_StartPosition(static_cast<std::int32_t>(body.offset));
  embedded->put_EndPosition(static_cast<std::int32_t>(body.offset + body.length));
  return embedded;
}

SectionBytes HeaderFields(store::ImapMessage& message, const SectionTarget& section) {
  message.ParseHeaders();
  std::string text;
  if (const store::ImapMessageHeaders* headers = message.HeadersCollection()) {
    const auto append = [&text](const store::ImapMessageHeader& field) {
      text.append(field.name()).append(": ").append(field.value()).append("\r\n");
    };
    if (section.kind == SectionKind::HeaderFields) {
      // In the order asked for, the first field of each name.
      for (const std::string& name : section.field_names) {
        if (const store::ImapMessageHeader* field = headers->Find(name)) append(*field);
      }
    } else {
      for (std::size_t i = 0; i < headers->size(); ++i) {
        const store::ImapMessageHeader& field = *headers->at(i);
        const bool listed =
            std::any_of(section.field_names.begin(), section.field_names.end(),
                        [&field](const std::string& name) { return EqualsNoCase(name, field.name()); });
        if (!listed) append(field);
      }
    }
  }
  text.append("\r\n");
  return Text(std::move(text));
}

// HEADER, HEADER.FIELDS[.NOT] and TEXT of a message (the top one or an embedded one).
SectionBytes MessageText(store::ImapMessage& message, const SectionTarget& section) {
  switch (section.kind) {
    case SectionKind::Header:
      return HeaderBlock(message);
    case SectionKind::HeaderFields:
    case SectionKind::HeaderFieldsNot:
      return HeaderFields(message, section);
    case SectionKind::Text:
      return BodyText(message);
    default: {
      const MessageExtent extent = ExtentOf(message);
      return FileRange(extent.start, extent.end);
    }
  }
}

}  // namespace

MessageExtent ExtentOf(const store::ImapMessage& message) {
  MessageExtent extent;
  const std::int64_t length = message.FileLength();
  if (length <= 0) return extent;
  extent.start = std::clamp<std::int64_t>(message.StartPosition(), 0, length);
  extent.end = std::clamp<std::int64_t>(message.EndPosition(), extent.start, length);
  return extent;
}

void SectionBytes::Narrow(std::uint64_t start, std::uint64_t count) {
  const std::uint64_t skip = std::min(start, length);
  const std::uint64_t keep = std::min(count, length - skip);
  if (in_file) {
    offset += static_cast<std::int64_t>(skip);
  } else {
    text = text.substr(static_cast<std::size_t>(skip), static_cast<std::size_t>(keep));
  }
  length = keep;
}

SectionBytes HeaderBlock(store::ImapMessage& message) {
  if (std::optional<std::string> block = message.ReadHeaderBlock()) return Text(std::move(*block));
  const MessageExtent extent = ExtentOf(message);
  return FileRange(extent.start, extent.end);
}

SectionBytes BodyText(store::ImapMessage& message) {
  const MessageExtent extent = ExtentOf(message);
  return FileRange(BodyStartOf(message, extent), extent.end);
}

SectionBytes ReadSection(store::ImapMessage& message, const SectionTarget& section) {
  if (section.part_path.empty()) return MessageText(message, section);

  // Walk down the part numbers. Inside a message/rfc822 part the numbers go on in the message
  // it carries; a message that is not multipart has one part, its body.
  Ref<store::ImapMessage> current(&message);
  bool is_part = false;     // current is a MIME part of the message above it
  bool single_body = false;  // the path ended on the body of a message without parts
  for (const std::uint32_t number : section.part_path) {
    if (single_body) return SectionBytes();
    if (is_part && IsMessageRfc822(*current)) {
      current = EmbeddedMessage(*current);
      is_part = false;
    }
    current->LoadBody();
    const store::ImapMessages* parts = current->PartsCollection();
    if (parts && !parts->empty()) {
      if (number == 0 || number > parts->size()) return SectionBytes();
      current = Ref<store::ImapMessage>(parts->at(number - 1));
      is_part = true;
    } else if (number == 1 && !is_part) {
      single_body = true;
    } else {
      return SectionBytes();
    }
  }
  switch (section.kind) {
    case SectionKind::Whole:
      return is_part ? PartBody(*current) : BodyText(*current);
    case SectionKind::Mime:
      return is_part ? PartMime(*current) : HeaderBlock(*current);
    default:
      // HEADER, HEADER.FIELDS and TEXT of a part name the message it carries.
      if (!is_part || !IsMessageRfc822(*current)) return SectionBytes();
      return MessageText(*EmbeddedMessage(*current), section);
  }
}

}  // namespace kivimap::imap
