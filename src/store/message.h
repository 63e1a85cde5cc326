// ImapMessage: one message, or one MIME part of a message, as a byte range of a file the host
// names. Headers, body text and parts are read from the file on first need and cached until the
// message's file is rewritten (WriteText, AppendData).
//
// Offsets are 32-bit signed at the interface (files up to 2 GiB). Every read is bounded by the
// file's real length: a range beyond the end, a negative StartPosition or an EndPosition below
// StartPosition never reads outside the file or a buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "automation/dispatch_object.h"
#include "automation/dispatch_table.h"
#include "kivimap/interfaces.h"
#include "store/headers.h"
#include "store/property_access.h"

namespace kivimap::store {

class ImapMessages;

class ImapMessage final : public automation::DispatchObject<IImapMessage> {
 public:
  // A new message with the initial values: no file, range 0..0, UID 0, no links.
  static Ref<ImapMessage> Create();
  static ImapMessage* FromInterface(IImapMessage* message);
  static ImapMessage* FromInterface(IDispatch* object);

  // IImapMessage
  Status get_Body(WideString* out) override;
  Status get_Tag(Variant* out) override;
  Status put_Tag(const Variant& value) override;
  Status get_Size(std::int32_t* out) override;
  Status get_Filename(WideString* out) override;
  Status put_Filename(const WideString& value) override;
  Status get_StartPosition(std::int32_t* out) override;
  Status put_StartPosition(std::int32_t value) override;
  Status get_EndPosition(std::int32_t* out) override;
  Status put_EndPosition(std::int32_t value) override;
  Status get_Index(std::int16_t* out) override;
  Status get_Flags(std::int32_t* out) override;
  Status put_Flags(std::int32_t value) override;
  Status get_UID(std::int32_t* out) override;
  Status put_UID(std::int32_t value) override;
  Status get_Text(WideString* out) override;
  Status get_Headers(Ref<IImapMessageHeaders>* out) override;
  Status get_Parts(Ref<IImapMessages>* out) override;
  // IDispatch
  Status GetIDsOfNames(std::u16string_view name, DispId* id) override;
  Status Invoke(DispId id, InvokeFlags kind, DispParams& params, Variant* result) override;

  // ---- Writing (APPEND). Both may throw std::bad_alloc. ----

  // Replaces the file's content with text (8-bit, written as it is). Without a file name the
  // message first creates a temporary file of its own. Afterwards StartPosition is 0 and
  // EndPosition the file's length, and the cached content is discarded. StatusFail when the
  // file cannot be created or written.
  Status WriteText(std::string_view text);
  Status WriteText(const WideString& text) { return WriteText(text.ToNarrow()); }
  // Adds bytes at the end of the file (a temporary one when the message has no file name);
  // EndPosition moves to the new end, StartPosition stays. Discards the cached content.
  // StatusFail when the file cannot be opened or written, or would grow beyond 2 GiB.
  Status AppendData(const void* bytes, std::size_t count);

  // ---- Reading (FETCH) ----

  // The header block, read from StartPosition and not past EndPosition, up to and including the
  // line end of its last line; nothing without a file or an end of the block.
  std::optional<std::string> ReadHeaderBlock() const;
  // Reads up to count bytes from the absolute file offset into buffer[0..count) and returns how
  // many were read (StartPosition is not added). 0 without a file or for a negative offset.
  std::size_t ReadRange(char* buffer, std::int64_t offset, std::size_t count) const;
  // The same into a string, sized to what the file really holds: a count far beyond the end of
  // the file (an EndPosition below StartPosition) allocates nothing for the missing bytes.
  std::string ReadRange(std::int64_t offset, std::size_t count) const;
  // A new descriptor of the message's file, open for reading, for the caller to own; -1 when
  // the message has no file or it cannot be opened.
  int OpenFileForReading() const;
  // The file's length, or -1 when the message has no file or it cannot be opened.
  std::int64_t FileLength() const;

  // Parses the header block once (nothing when the file cannot be opened, and a later call
  // tries again). May throw std::bad_alloc.
  void ParseHeaders();
  // Loads Text, finds the multipart delimiter and splits the parts, once for the current
  // content. May throw std::bad_alloc.
  void LoadBody();

  // The parsed fields (after ParseHeaders), or null.
  ImapMessageHeaders* HeadersCollection() const { return headers_.get(); }
  // Parses if needed; the first field of that name ignoring ASCII case, or null.
  ImapMessageHeader* FindHeader(std::string_view name);
  // The MIME parts collection (always present; filled by LoadBody).
  ImapMessages* PartsCollection() const { return parts_.get(); }
  bool BodyLoaded() const { return body_loaded_; }
  // The loaded body text (every line ending in CR LF), as bytes.
  std::string_view TextCache() const { return text_cache_; }

  // ---- Plain state ----
  std::int32_t StartPosition() const { return start_position_; }
  std::int32_t EndPosition() const { return end_position_; }
  std::int32_t Uid() const { return uid_; }
  void SetUid(std::int32_t uid) { uid_ = uid; }
  std::int32_t Flags() const { return flags_; }
  void SetFlags(std::int32_t flags) { flags_ = flags; }
  const WideString& Filename() const { return filename_; }
  // The first byte after the header block (after ParseHeaders; 0 before).
  std::int32_t BodyStart() const { return body_start_; }
  // A part's byte and line counts, each line counted as its length without line end plus 2
  // (set by the split; 0 for a message that is not a part).
  std::uint32_t PartSize() const { return part_size_; }
  std::uint32_t PartLines() const { return part_lines_; }
  bool StartsWithDelimiter() const { return starts_with_delimiter_; }
  // "--" and the boundary of this message's multipart content (after LoadBody), or nothing.
  const std::optional<std::string>& Delimiter() const { return delimiter_; }
  // A part's first line when it starts with its delimiter (after ParseHeaders), or nothing.
  const std::optional<std::string>& DelimiterLine() const { return delimiter_line_; }
  bool IsTempFile() const { return is_temp_file_; }

  // The collection that created the message, or null (none, or it has ended).
  ImapMessages* ParentCollection() const { return parent_collection_.get(); }
  // The server of the user whose tree held the collection, or null (none, or it has ended).
  IkivImapServer* OwnerServer() const { return owner_server_.get(); }

  static std::span<const automation::DispatchMember<ImapMessage>> Members();

 private:
  friend class ImapMessages;  // sets the links and, for parts, the range and counts

  ImapMessage();
  ~ImapMessage() override;

  // The file name as 8-bit text for the file system (empty when absent).
  std::string FilePath() const;
  // Gives the message a new temporary file when it has none; false when none can be created.
  bool EnsureFile();
  void DeleteTempFile();
  // Drops everything read from the file: headers, text, delimiter and parts.
  void DiscardCache();
  // The Filename setter's work; may throw std::bad_alloc.
  void SetFilename(const WideString& name);
  // Finds the multipart delimiter in the header fields.
  void FindDelimiter();

  std::int32_t flags_ = 0;
  TagValue tag_;
  WideString filename_;
  std::int32_t start_position_ = 0;
  std::int32_t end_position_ = 0;
  std::int32_t uid_ = 0;
  bool is_temp_file_ = false;
  automation::WeakRef<ImapMessages> parent_collection_;
  automation::WeakRef<IkivImapServer> owner_server_;
  std::string text_cache_;
  bool body_loaded_ = false;
  std::int32_t body_start_ = 0;
  std::uint32_t part_size_ = 0;
  std::uint32_t part_lines_ = 0;
  bool starts_with_delimiter_ = false;
  std::optional<std::string> delimiter_;
  std::optional<std::string> delimiter_line_;
  Ref<ImapMessageHeaders> headers_;
  Ref<ImapMessages> parts_;
};

}  // namespace kivimap::store
