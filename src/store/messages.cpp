#include "store/messages.h"

#include <limits>

#include "automation/guarded.h"
#include "store/folder.h"
#include "store/line_reader.h"
#include "store/owner_link.h"
#include "store/variant_args.h"

namespace kivimap::store {
namespace {

std::int32_t ToOffset(std::int64_t offset) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(offset < 0 ? 0 : std::min(offset, kMax));
}

std::uint32_t SaturatingAdd(std::uint32_t a, std::uint64_t b) {
  const std::uint64_t sum = a + b;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, 0xFFFFFFFFu));
}

IkivImapServer* ServerOf(IImapUser* user) {
  auto* link = dynamic_cast<UserLink*>(user);
  return link ? link->LinkedServer() : nullptr;
}

}  // namespace

Ref<ImapMessages> ImapMessages::Create() { return Ref(new ImapMessages); }

ImapMessages* ImapMessages::FromInterface(IImapMessages* messages) {
  return dynamic_cast<ImapMessages*>(messages);
}

void ImapMessages::SetParentFolder(ImapFolder* folder) { parent_folder_.Reset(folder); }

std::ptrdiff_t ImapMessages::IndexOf(const ImapMessage* message) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (items_[i].get() == message) return static_cast<std::ptrdiff_t>(i);
  }
  return -1;
}

Ref<ImapMessage> ImapMessages::NewMember() {
  Ref<ImapMessage> message = ImapMessage::Create();
  IImapUser* user = OwnerUser();
  message->parent_collection_.Reset(this);
  message->owner_server_.Reset(ServerOf(user));
  message->parts_->SetOwnerUser(user);
  return message;
}

Ref<ImapMessage> ImapMessages::AddNew() {
  Ref<ImapMessage> message = NewMember();
  // The host advances NextMessageUID (or sets UID itself); Add only reads it.
  if (const ImapFolder* folder = ParentFolder()) message->uid_ = folder->NextMessageUid();
  items_.push_back(message);
  return message;
}

void ImapMessages::Append(Ref<ImapMessage> message) {
  if (message) items_.push_back(std::move(message));
}

bool ImapMessages::RemoveMessage(const ImapMessage* message) {
  const std::ptrdiff_t i = IndexOf(message);
  if (i < 0) return false;
  // Moved out first: the list is consistent before the message may end.
  Ref<ImapMessage> removed = std::move(items_[static_cast<std::size_t>(i)]);
  items_.erase(items_.begin() + i);
  return true;
}

void ImapMessages::SplitParts(FileReader& file) {
  ImapMessage* current = nullptr;
  std::string line;
  while (file.Position() < split_end_) {
    const std::int64_t line_start = file.Position();
    if (!file.ReadLine(&line)) break;
    const std::string_view text = CutAtLineEnd(line);
    const bool is_delimiter_line = text.starts_with(split_delimiter_);
    if (is_delimiter_line || !current) {
      Ref<ImapMessage> part = NewMember();
      part->start_position_ = ToOffset(line_start);
      part->starts_with_delimiter_ = is_delimiter_line;
      // Set directly, not through the Filename setter: the part's range stays as split.
      part->filename_ = split_file_;
      items_.push_back(part);
      current = part.get();
    }
    current->part_lines_ = SaturatingAdd(current->part_lines_, 1);
    current->part_size_ = SaturatingAdd(current->part_size_, text.size() + 2);
    current->end_position_ = ToOffset(file.Position());
  }
}

void ImapMessages::DropLastPart() {
  if (items_.empty()) return;
  Ref<ImapMessage> removed = std::move(items_.back());
  items_.pop_back();
}

Status ImapMessages::get_Item(std::int16_t index, Ref<IImapMessage>* out) {
  if (index < 0 || static_cast<std::size_t>(index) >= items_.size()) return StatusInvalidArg;
  if (out) *out = Ref<IImapMessage>(items_[static_cast<std::size_t>(index)].get());
  return StatusOk;
}

Status ImapMessages::get_Count(std::int16_t* out) {
  if (!out) return StatusPointer;
  *out = static_cast<std::int16_t>(items_.size());
  return StatusOk;
}

Status ImapMessages::Add(const Variant& message, Ref<IImapMessage>* out) {
  return automation::Guarded([&] {
    const Variant argument = ResolveVariant(message);
    Ref<ImapMessage> added;
    if (IDispatch* object = VariantObject(argument)) {
      ImapMessage* existing = ImapMessage::FromInterface(object);
      if (!existing) return StatusInvalidArg;
      added = Ref<ImapMessage>(existing);
      items_.push_back(added);
    } else {
      added = AddNew();
    }
    if (out) *out = Ref<IImapMessage>(added.get());
    return StatusOk;
  });
}

Status ImapMessages::Remove(const Variant& message) {
  return automation::Guarded([&] {
    const Variant argument = ResolveVariant(message);
    std::ptrdiff_t i = -1;
    if (const auto index = VariantIndex(argument)) {
      if (*index >= 0 && static_cast<std::size_t>(*index) < items_.size()) i = *index;
    } else if (argument.type() == VarType::Dispatch) {
      if (const ImapMessage* target = ImapMessage::FromInterface(VariantObject(argument))) {
        i = IndexOf(target);
      }
    }
    if (i < 0) return StatusInvalidArg;
    Ref<ImapMessage> removed = std::move(items_[static_cast<std::size_t>(i)]);
    items_.erase(items_.begin() + i);
    return StatusOk;
  });
}

Status ImapMessages::RemoveAll() {
  // The list is empty before the first message ends; they end from the front.
  std::vector<Ref<ImapMessage>> removed;
  removed.swap(items_);
  for (auto& message : removed) message.Reset();
  return StatusOk;
}

}  // namespace kivimap::store
