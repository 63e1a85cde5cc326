#include "store/message.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <optional>

#include "automation/guarded.h"
#include "common/ascii.h"
#include "store/header_parser.h"
#include "store/line_reader.h"
#include "store/message_file.h"
#include "store/messages.h"
#include "store/temp_file.h"

namespace kivimap::store {
namespace {

constexpr std::int64_t kMaxOffset = std::numeric_limits<std::int32_t>::max();
// "--", the boundary and a terminating zero fit in 1024 bytes; a longer boundary is not used.
constexpr std::size_t kMaxBoundary = 1021;

// File offsets are 32-bit at the interface; a file beyond 2 GiB reads as ending there.
std::int32_t ToOffset(std::int64_t offset) {
  if (offset < 0) return 0;
  return static_cast<std::int32_t>(std::min(offset, kMaxOffset));
}

std::int64_t CurrentOffset(int fd) { return static_cast<std::int64_t>(::lseek(fd, 0, SEEK_CUR)); }

}  // namespace

ImapMessage::ImapMessage() : parts_(ImapMessages::Create()) {}

ImapMessage::~ImapMessage() {
  headers_.Reset();
  try {
    DeleteTempFile();
  } catch (...) {
    // Out of memory while naming the file: the file stays behind, the message still ends.
  }
  parts_.Reset();
}

Ref<ImapMessage> ImapMessage::Create() { return Ref(new ImapMessage); }

ImapMessage* ImapMessage::FromInterface(IImapMessage* message) {
  return dynamic_cast<ImapMessage*>(message);
}

ImapMessage* ImapMessage::FromInterface(IDispatch* object) {
  return dynamic_cast<ImapMessage*>(object);
}

std::string ImapMessage::FilePath() const { return filename_.ToNarrow(); }

void ImapMessage::DeleteTempFile() {
  if (is_temp_file_ && !filename_.empty()) DeleteFile(FilePath());
  is_temp_file_ = false;
}

void ImapMessage::SetFilename(const WideString& name) {
  if (name == filename_) return;
  DeleteTempFile();
  filename_ = name;
  parts_->SetSplitFile(name);
  start_position_ = 0;
  const auto length = filename_.empty() ? std::nullopt : store::FileLength(FilePath());
  end_position_ = length ? ToOffset(*length) : 0;
}

bool ImapMessage::EnsureFile() {
  if (!filename_.empty()) return true;
  const auto path = CreateTempMessageFile();
  if (!path) return false;
  SetFilename(ToWide(*path));
  is_temp_file_ = true;
  return true;
}

void ImapMessage::DiscardCache() {
  headers_.Reset();
  text_cache_.clear();
  delimiter_.reset();
  delimiter_line_.reset();
  body_start_ = 0;
  body_loaded_ = false;
  parts_->RemoveAll();
}

Status ImapMessage::WriteText(std::string_view text) {
  if (static_cast<std::uint64_t>(text.size()) > static_cast<std::uint64_t>(kMaxOffset)) {
    return StatusFail;
  }
  if (!EnsureFile()) return StatusFail;
  UniqueFd fd = OpenForWriting(FilePath(), /*truncate=*/true);
  if (!fd) return StatusFail;
  const bool written = WriteAll(fd.get(), text.data(), text.size());
  start_position_ = 0;
  end_position_ = ToOffset(CurrentOffset(fd.get()));
  fd = UniqueFd();
  DiscardCache();
  return written ? StatusOk : StatusFail;
}

Status ImapMessage::AppendData(const void* bytes, std::size_t count) {
  if (bytes == nullptr && count > 0) return StatusPointer;
  if (!EnsureFile()) return StatusFail;
  UniqueFd fd = OpenForWriting(FilePath(), /*truncate=*/false);
  if (!fd) return StatusFail;
  const std::int64_t end = static_cast<std::int64_t>(::lseek(fd.get(), 0, SEEK_END));
  if (end < 0 || static_cast<std::uint64_t>(count) > static_cast<std::uint64_t>(kMaxOffset - end)) {
    return StatusFail;
  }
  const bool written = WriteAll(fd.get(), static_cast<const char*>(bytes), count);
  end_position_ = ToOffset(CurrentOffset(fd.get()));
  fd = UniqueFd();
  DiscardCache();
  return written ? StatusOk : StatusFail;
}

std::optional<std::string> ImapMessage::ReadHeaderBlock() const {
  if (filename_.empty()) return std::nullopt;
  return ReadHeaderBlockFromFile(FilePath(), start_position_, end_position_);
}

int ImapMessage::OpenFileForReading() const {
  if (filename_.empty()) return -1;
  return OpenForReading(FilePath()).Release();
}

std::size_t ImapMessage::ReadRange(char* buffer, std::int64_t offset, std::size_t count) const {
  if (filename_.empty()) return 0;
  return ReadFileRange(FilePath(), buffer, offset, count);
}

std::string ImapMessage::ReadRange(std::int64_t offset, std::size_t count) const {
  const std::int64_t length = FileLength();
  if (offset < 0 || offset >= length) return std::string();
  const auto available = static_cast<std::uint64_t>(length - offset);
  std::string bytes(static_cast<std::size_t>(std::min<std::uint64_t>(count, available)), '\0');
  bytes.resize(ReadFileRange(FilePath(), bytes.data(), offset, bytes.size()));
  return bytes;
}

std::int64_t ImapMessage::FileLength() const {
  if (filename_.empty()) return -1;
  return store::FileLength(FilePath()).value_or(-1);
}

void ImapMessage::ParseHeaders() {
  if (headers_) return;
  if (filename_.empty()) return;
  FileReader file;
  if (!file.Open(FilePath())) return;
  Ref<ImapMessageHeaders> headers = ImapMessageHeaders::Create();
  file.Seek(start_position_);
  HeaderBlockResult block = ParseHeaderBlock(file, starts_with_delimiter_, *headers);
  headers_ = std::move(headers);
  if (block.delimiter_line) delimiter_line_ = std::move(block.delimiter_line);
  if (block.body_start) body_start_ = ToOffset(*block.body_start);
}

ImapMessageHeader* ImapMessage::FindHeader(std::string_view name) {
  ParseHeaders();
  return headers_ ? headers_->Find(name) : nullptr;
}

namespace {

// The boundary parameter of a Content-Type value: quoted, or (as RFC 2045 also allows, and as
// many mailers write it) a bare token ending at a blank, ";" or the end of the value.
std::optional<std::string_view> BoundaryOf(std::string_view value) {
  if (const auto quoted = FindNoCase(value, "boundary=\"")) {
    const std::size_t start = *quoted + 10;
    const std::size_t end = value.find('"', start);
    if (end == std::string_view::npos) return std::nullopt;
    return value.substr(start, end - start);
  }
  const auto bare = FindNoCase(value, "boundary=");
  if (!bare) return std::nullopt;
  const std::size_t start = *bare + 9;
  const std::size_t end = std::min(value.find_first_of(" \t\r\n;\"", start), value.size());
  return value.substr(start, end - start);
}

}  // namespace

void ImapMessage::FindDelimiter() {
  delimiter_.reset();
  for (std::size_t i = 0; i < headers_->size(); ++i) {
    const ImapMessageHeader* field = headers_->at(i);
    if (!EqualsNoCase(field->name(), "content-type")) continue;
    const std::string_view value = field->value();
    if (!FindNoCase(value, "multipart/")) continue;
    const std::optional<std::string_view> boundary = BoundaryOf(value);
    if (!boundary || boundary->empty() || boundary->size() > kMaxBoundary) continue;
    delimiter_ = "--" + std::string(*boundary);
    return;
  }
}

void ImapMessage::LoadBody() {
  if (body_loaded_) return;
  ParseHeaders();
  if (!headers_) return;
  FindDelimiter();
  FileReader file;
  if (!file.Open(FilePath())) return;
  text_cache_.clear();
  // A failure half-way must not leave parts behind that the next load would add again.
  const std::size_t parts_before = parts_->size();
  try {
    file.Seek(body_start_);
    std::string line;
    while (file.ReadLine(&line)) {
      const std::string_view text = CutAtLineEnd(line);
      if (delimiter_ && text == *delimiter_) {
        parts_->SetSplitDelimiter(*delimiter_);
        parts_->SetSplitEnd(end_position_);
        if (parts_->SplitFile().empty()) parts_->SetSplitFile(filename_);
        parts_->SplitParts(file);
        parts_->DropLastPart();
      } else {
        text_cache_.append(text).append("\r\n");
      }
      // Compared unsigned: a negative EndPosition reads on to the end of the file.
      if (static_cast<std::uint32_t>(file.Position()) >=
          static_cast<std::uint32_t>(end_position_)) {
        break;
      }
    }
  } catch (...) {
    while (parts_->size() > parts_before) parts_->DropLastPart();
    text_cache_.clear();
    throw;
  }
  body_loaded_ = true;
}

Status ImapMessage::get_Body(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    // The whole file, whatever the range: a host keeping one message per file gets exactly it.
    std::optional<std::string> content;
    if (!filename_.empty()) content = ReadWholeFile(FilePath());
    *out = ToWide(content ? *content : std::string());
    return StatusOk;
  });
}

Status ImapMessage::get_Tag(Variant* out) { return tag_.Get(out); }

Status ImapMessage::put_Tag(const Variant& value) { return tag_.Put(value); }

Status ImapMessage::get_Size(std::int32_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int32_t>(static_cast<std::uint32_t>(end_position_) -
                                   static_cast<std::uint32_t>(start_position_));
  return StatusOk;
}

Status ImapMessage::get_Filename(WideString* out) { return CopyNameOut(filename_, out); }

Status ImapMessage::put_Filename(const WideString& value) {
  return automation::Guarded([&] {
    SetFilename(value);
    return StatusOk;
  });
}

Status ImapMessage::get_StartPosition(std::int32_t* out) {
  return automation::CopyOut(start_position_, out);
}

Status ImapMessage::put_StartPosition(std::int32_t value) {
  start_position_ = value;
  return StatusOk;
}

Status ImapMessage::get_EndPosition(std::int32_t* out) {
  return automation::CopyOut(end_position_, out);
}

Status ImapMessage::put_EndPosition(std::int32_t value) {
  end_position_ = value;
  return StatusOk;
}

Status ImapMessage::get_Index(std::int16_t* out) {
  if (!out) return StatusPointer;
  const ImapMessages* collection = ParentCollection();
  const std::ptrdiff_t index = collection ? collection->IndexOf(this) : -1;
  if (index < 0) return StatusInvalidArg;
  *out = static_cast<std::int16_t>(index);
  return StatusOk;
}

Status ImapMessage::get_Flags(std::int32_t* out) { return automation::CopyOut(flags_, out); }

Status ImapMessage::put_Flags(std::int32_t value) {
  flags_ = value;
  return StatusOk;
}

Status ImapMessage::get_UID(std::int32_t* out) { return automation::CopyOut(uid_, out); }

Status ImapMessage::put_UID(std::int32_t value) {
  uid_ = value;
  return StatusOk;
}

Status ImapMessage::get_Text(WideString* out) {
  if (!out) return StatusPointer;
  return automation::Guarded([&] {
    LoadBody();
    // The text ends at its first zero byte.
    const std::size_t length = ::strnlen(text_cache_.data(), text_cache_.size());
    *out = ToWide(std::string_view(text_cache_.data(), length));
    return StatusOk;
  });
}

Status ImapMessage::get_Headers(Ref<IImapMessageHeaders>* out) {
  return automation::Guarded([&] {
    ParseHeaders();
    if (!headers_) return StatusFail;
    if (out) *out = Ref<IImapMessageHeaders>(headers_.get());
    return StatusOk;
  });
}

Status ImapMessage::get_Parts(Ref<IImapMessages>* out) {
  return automation::Guarded([&] {
    LoadBody();
    if (out) *out = Ref<IImapMessages>(parts_.get());
    return StatusOk;
  });
}

}  // namespace kivimap::store
