// FETCH and UID FETCH. Each message's response is built item by item; message bytes (whole
// messages, ranges, bodies, parts) are queued as ranges of the message's file rather than
// copied into memory. A response that stays under the connection's high-water mark goes out in
// one flush with its completion; a larger one parks between messages and goes on as the client
// reads, in the same byte order.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/ascii.h"
#include "imap/body_structure.h"
#include "imap/commands.h"
#include "imap/envelope.h"
#include "imap/fetch_items.h"
#include "imap/fetch_sections.h"
#include "imap/flag_names.h"
#include "imap/folder_messages.h"
#include "imap/internal_date.h"
#include "imap/section_target.h"
#include "imap/split_arguments.h"
#include "transport/send_queue.h"

namespace kivimap::imap {

namespace {

// One message's untagged response as it is written: text gathers until file bytes must follow
// it, then both are queued in order.
class ResponseWriter {
 public:
  ResponseWriter(store::ImapUser& user, store::ImapMessage& message)
      : user_(user), message_(message) {}

  std::string& text() { return text_; }

  // The single space between items: before every item but the first that writes something.
  void BeginItem() {
    if (item_written_) text_.push_back(' ');
    item_written_ = true;
  }
  void MarkItemWritten() { item_written_ = true; }

  // "{n}\r\n" and the bytes.
  void AppendLiteral(SectionBytes bytes) {
    // Opened for each section: the host may name another file in the ReadMessage before it.
    std::shared_ptr<transport::SharedFile> file;
    if (bytes.in_file && bytes.length > 0) {
      const int fd = message_.OpenFileForReading();
      if (fd >= 0) {
        file = std::make_shared<transport::SharedFile>(fd);
      } else {
        bytes.length = 0;
      }
    }
    text_.push_back('{');
    text_.append(std::to_string(bytes.length)).append("}\r\n");
    if (!bytes.in_file) {
      text_.append(bytes.text);
      return;
    }
    if (bytes.length == 0) return;
    Flush();
    user_.QueueFile(std::move(file), static_cast<std::uint64_t>(bytes.offset), bytes.length);
  }

  void Finish() {
    text_.append(")\r\n");
    Flush();
  }

 private:
  void Flush() {
    if (!text_.empty()) user_.QueueBytes(text_.data(), text_.size());
    text_.clear();
  }

  store::ImapUser& user_;
  store::ImapMessage& message_;
  std::string text_;
  bool item_written_ = false;
};

// Item names, section names and header field names are matched without regard to case, and
// echoed upper-cased.
std::vector<std::string> UpperCased(std::vector<std::string> items) {
  for (std::string& item : items) AsciiUpperInPlace(item);
  return items;
}

class FetchCommand final : public ParkedCommand {
 public:
  FetchCommand(std::string tag, bool by_uid, std::vector<std::string> items, Selection selection)
      : tag_(std::move(tag)),
        by_uid_(by_uid),
        items_(UpperCased(std::move(items))),
        selection_(std::move(selection)) {}

  CommandResult Resume(ServerContext& server, store::ImapUser& user) override {
    while (next_ < selection_.positions.size()) {
      transport::CkivUserSocket* connection = user.connection();
      if (!connection) return CommandResult::Closed;
      if (connection->OutputFull()) return CommandResult::Suspended;
      const std::uint32_t position = selection_.positions[next_++];
      Ref<store::ImapMessage> message(selection_.At(position));
      if (!message) continue;
      if (FetchMessage(server, user, *message, position) == CommandResult::Closed) {
        return CommandResult::Closed;
      }
    }
    user.SendResponse(tag_ + " OK FETCH completed\r\n");
    return CommandResult::Done;
  }

 private:
  CommandResult FetchMessage(ServerContext& server, store::ImapUser& user,
                             store::ImapMessage& message, std::uint32_t index) {
    ResponseWriter out(user, message);
    std::string& text = out.text();
    text.append("* ").append(std::to_string(index + 1)).append(" FETCH (");
    if (by_uid_) {
      // The UID leads the response; it counts as the first item, so the next one follows
      // after one space and a response with nothing else ends right after the UID.
      text.append("UID ").append(std::to_string(static_cast<std::uint32_t>(message.Uid())));
      out.MarkItemWritten();
    }
    for (const std::string& item : items_) {
      if (item == "UID") {
        if (by_uid_) continue;
        out.BeginItem();
        text.append("UID ").append(std::to_string(static_cast<std::uint32_t>(message.Uid())));
      } else if (item == "FLAGS") {
        out.BeginItem();
        text.append("FLAGS (").append(FormatFlagList(message.Flags())).push_back(')');
      } else if (item == "INTERNALDATE") {
        out.BeginItem();
        text.append("INTERNALDATE ");
        AppendInternalDate(text, message);
      } else if (item == "RFC822.SIZE") {
        out.BeginItem();
        text.append("RFC822.SIZE ").append(std::to_string(ExtentOf(message).size()));
      } else if (item.starts_with("BODY[") || item.starts_with("BODY.PEEK[")) {
        if (BodySectionItem(server, user, message, item, out) == CommandResult::Closed) {
          return CommandResult::Closed;
        }
      } else if (item == "BODYSTRUCTURE" || item == "BODY") {
        out.BeginItem();
        text.append(item).push_back(' ');
        BuildBodyStructure(text, message);
      } else if (item == "ENVELOPE") {
        out.BeginItem();
        text.append("ENVELOPE ");
        BuildEnvelope(text, message);
      } else if (item == "RFC822" || item == "RFC822.HEADER" || item == "RFC822.TEXT") {
        // RFC822 and RFC822.TEXT read the message as BODY[] and BODY[TEXT] do, and mark it
        // seen; RFC822.HEADER peeks.
        if (item != "RFC822.HEADER" && !MarkSeen(server, user, message)) {
          return CommandResult::Closed;
        }
        if (!server.FireReadMessage(user, selection_.folder.get(), &message)) return CommandResult::Closed;
        SectionBytes bytes;
        if (item == "RFC822") {
          const MessageExtent extent = ExtentOf(message);
          bytes.in_file = true;
          bytes.offset = extent.start;
          bytes.length = extent.size();
        } else {
          bytes = item == "RFC822.HEADER" ? HeaderBlock(message) : BodyText(message);
        }
        out.BeginItem();
        text.append(item).push_back(' ');
        out.AppendLiteral(std::move(bytes));
      }
      // Anything else produces nothing.
    }
    out.Finish();
    return CommandResult::Done;
  }

  CommandResult BodySectionItem(ServerContext& server, store::ImapUser& user,
                                store::ImapMessage& message, const std::string& item,
                                ResponseWriter& out) {
    const bool peek = item.starts_with("BODY.PEEK[");
    if (!peek && !MarkSeen(server, user, message)) return CommandResult::Closed;
    const BodySection section = ParseBodySection(std::string_view(item).substr(peek ? 10 : 5));
    SectionTarget target;
    target.kind = SectionKind::Whole;
    if (!section.parts.empty()) target = ClassifySection(section);
    if (target.kind == SectionKind::Invalid) return CommandResult::Done;

    // The host makes the file available here; its range is read after the event.
    if (!server.FireReadMessage(user, selection_.folder.get(), &message)) return CommandResult::Closed;
    SectionBytes bytes = ReadSection(message, target);
    std::string& text = out.text();
    out.BeginItem();
    text.append("BODY[").append(target.text).push_back(']');
    if (section.partial) {
      bytes.Narrow(section.start, section.length);
      text.append("<").append(std::to_string(section.start)).push_back('>');
    }
    text.push_back(' ');
    out.AppendLiteral(std::move(bytes));
    return CommandResult::Done;
  }

  // Sets Seen and tells the host, also when it was set already.
  bool MarkSeen(ServerContext& server, store::ImapUser& user, store::ImapMessage& message) {
    const std::int32_t old_flags = message.Flags();
    message.SetFlags(old_flags | Seen);
    return server.FireFlagChange(user, selection_.folder.get(), &message, old_flags | Seen, old_flags);
  }

  std::string tag_;
  bool by_uid_;
  std::vector<std::string> items_;  // upper-cased
  Selection selection_;
  std::size_t next_ = 0;
};

}  // namespace

CommandResult RunFetch(Command& command, bool by_uid) {
  std::size_t offsets[2];
  char* text = command.arguments.data();
  if (SplitArguments(text, offsets, 2) != 2) {
    SendTagged(command, "BAD " + command.name + " parse error");
    return CommandResult::Done;
  }
  Selection selection;
  if (!SelectForCommand(command, text + offsets[0], by_uid, &selection)) {
    return CommandResult::Done;
  }
  auto fetch = std::make_unique<FetchCommand>(command.tag, by_uid, ParseFetchItems(text + offsets[1]),
                                              std::move(selection));
  const CommandResult result = fetch->Resume(command.server, command.user);
  if (result == CommandResult::Suspended) ProtocolOf(command.user).Parked = std::move(fetch);
  return result;
}

CommandResult HandleFetch(Command& command) { return RunFetch(command, false); }

}  // namespace kivimap::imap
