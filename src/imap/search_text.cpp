#include "imap/search_text.h"

#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/ascii.h"
#include "imap/charset.h"
#include "imap/encoded_words.h"
#include "imap/fetch_sections.h"
#include "imap/mime_fields.h"
#include "imap/transfer_decoding.h"
#include "store/header.h"
#include "store/headers.h"
#include "store/message_file.h"
#include "store/messages.h"

namespace kivimap::imap {

namespace {

// Parts nest and messages hold messages as deep as a file says; the walk stops here.
constexpr int kMaxNesting = 32;
constexpr std::size_t kReadPiece = 64 * 1024;

// Reads the bytes of one text part and feeds them, decoded, to the finder.
bool RangeContains(store::ImapMessage& entity, const SectionBytes& range, TransferEncoding encoding,
                   Charset charset, TextFinder& finder) {
  finder.Reset();
  if (finder.found()) return true;
  if (range.length == 0) return false;
  store::UniqueFd file(entity.OpenFileForReading());
  if (!file) return false;
  TransferDecoder decoder(encoding);
  std::string raw(kReadPiece, '\0');
  std::string decoded;
  std::string text;
  const auto search = [&](std::string_view bytes) {
    if (charset == Charset::Latin1) {
      text.clear();
      AppendAsUtf8(text, bytes, charset);
      bytes = text;
    }
    return finder.Feed(bytes);
  };
  std::uint64_t done = 0;
  while (done < range.length) {
    const std::size_t want =
        static_cast<std::size_t>(std::min<std::uint64_t>(kReadPiece, range.length - done));
    const ssize_t got = ::pread(file.get(), raw.data(), want,
                                static_cast<off_t>(range.offset + static_cast<std::int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<std::uint64_t>(got);
    decoded.clear();
    decoder.Feed(std::string_view(raw.data(), static_cast<std::size_t>(got)), decoded);
    if (search(decoded)) return true;
  }
  decoded.clear();
  decoder.Finish(decoded);
  return search(decoded);
}

// The message a message/rfc822 part carries in its body, as a message of its own.
Ref<store::ImapMessage> EmbeddedMessage(store::ImapMessage& part) {
  const SectionBytes body = BodyText(part);
  Ref<store::ImapMessage> embedded = store::ImapMessage::Create();
  embedded->put_Filename(part.Filename());
  embedded->put_StartPosition(static_cast<std::int32_t>(body.offset));
  embedded->put_EndPosition(static_cast<std::int32_t>(body.offset + body.length));
  return embedded;
}

bool EntityContains(store::ImapMessage& entity, TextFinder& finder, int depth) {
  if (depth > kMaxNesting) return false;
  const store::ImapMessageHeader* type_field = entity.FindHeader("Content-Type");
  MediaType type;
  if (type_field) type = MediaTypeOf(type_field->value());
  if (type.type.empty()) type = {"text", "plain"};

  if (type.type == "multipart") {
    entity.LoadBody();
    const store::ImapMessages* parts = entity.PartsCollection();
    if (parts && !parts->empty()) {
      for (std::size_t i = 0; i < parts->size(); ++i) {
        Ref<store::ImapMessage> part(parts->at(i));
        if (EntityContains(*part, finder, depth + 1)) return true;
      }
      return false;
    }
    return RangeContains(entity, BodyText(entity), TransferEncoding::Identity, Charset::Bytes,
                         finder);
  }
  if (type.type == "message" && type.subtype == "rfc822") {
    Ref<store::ImapMessage> embedded = EmbeddedMessage(entity);
    return HeaderContains(*embedded, finder) || EntityContains(*embedded, finder, depth + 1);
  }
  if (type.type != "text") return false;

  const store::ImapMessageHeader* encoding_field = entity.FindHeader("Content-Transfer-Encoding");
  const TransferEncoding encoding =
      encoding_field ? TransferEncodingNamed(encoding_field->value()) : TransferEncoding::Identity;
  const std::optional<std::string> charset =
      MimeParameter(type_field ? type_field->value() : "", "charset");
  return RangeContains(entity, BodyText(entity), encoding,
                       charset ? CharsetNamed(*charset) : Charset::Bytes, finder);
}

}  // namespace

bool HeaderFieldContains(store::ImapMessage& message, std::string_view field_name,
                         TextFinder& finder) {
  message.ParseHeaders();
  const store::ImapMessageHeaders* headers = message.HeadersCollection();
  if (!headers) return false;
  for (std::size_t i = 0; i < headers->size(); ++i) {
    const store::ImapMessageHeader& field = *headers->at(i);
    if (!EqualsNoCase(field.name(), field_name)) continue;
    finder.Reset();
    if (finder.Feed(DecodeHeaderText(field.value()))) return true;
  }
  return false;
}

bool HeaderContains(store::ImapMessage& message, TextFinder& finder) {
  message.ParseHeaders();
  const store::ImapMessageHeaders* headers = message.HeadersCollection();
  if (!headers) return false;
  std::string line;
  for (std::size_t i = 0; i < headers->size(); ++i) {
    const store::ImapMessageHeader& field = *headers->at(i);
    line.assign(field.name()).append(": ").append(DecodeHeaderText(field.value()));
    finder.Reset();
    if (finder.Feed(line)) return true;
  }
  return false;
}

bool BodyContains(store::ImapMessage& message, TextFinder& finder) {
  finder.Reset();
  if (finder.found()) return true;
  return EntityContains(message, finder, 0);
}

}  // namespace kivimap::imap
