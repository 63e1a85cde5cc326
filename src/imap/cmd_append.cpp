// APPEND: the command line creates the message and asks the host; the literal that follows is
// written into the message's file chunk by chunk as it arrives, so that an upload of any size
// never sits in memory; WriteMessage then hands the message to the host.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "imap/commands.h"
#include "imap/flag_names.h"
#include "imap/folder_messages.h"
#include "imap/mailbox_names.h"
#include "imap/split_arguments.h"

namespace kivimap::imap {

namespace {

constexpr std::string_view kFailed = "NO APPEND failed";
constexpr std::string_view kParseError = "BAD APPEND parse error";

// The literal size plus the line end after it must fit the connection's 32-bit counter.
constexpr std::int64_t kMaxLiteral = std::numeric_limits<std::int32_t>::max() - 2;

// "(\Seen \Flagged)": the bits of the first 10 names; keywords are not kept. Splits list in
// place.
std::int32_t ParseFlagList(char* list) {
  ++list;  // the "("
  if (char* close = std::strrchr(list, ')')) *close = '\0';
  std::size_t offsets[10];
  const int count = SplitArguments(list, offsets, 10);
  std::int32_t flags = 0;
  for (int i = 0; i < count; ++i) flags |= FlagBit(list + offsets[i]);
  return flags;
}

// "{310}" (and "{310+}" from a client that assumes non-synchronizing literals): the size, or
// -1 when it is missing, zero or too large.
std::int64_t ParseLiteralSize(char* marker) {
  ++marker;  // the "{"
  if (char* close = std::strrchr(marker, '}')) *close = '\0';
  std::int64_t size = 0;
  const char* p = marker;
  if (*p < '0' || *p > '9') return -1;
  for (; *p >= '0' && *p <= '9'; ++p) {
    size = size * 10 + (*p - '0');
    if (size > kMaxLiteral) return -1;
  }
  return size > 0 ? size : -1;
}

// The text after the argument that starts at offset (which SplitArguments cut off with a NUL),
// past any spaces; null when nothing follows.
char* After(std::string& text, char* argument) {
  char* next = argument + std::strlen(argument) + 1;
  char* const end = text.data() + text.size();
  while (next < end && *next == ' ') ++next;
  return next < end ? next : nullptr;
}

void ClearAppend(ImapProtocolContext& context) {
  context.AppendTag.clear();
  context.AppendMessage.Reset();
  context.AppendFolder.Reset();
  context.AppendWriteFailed = false;
}

// Takes a message the component made back out of its folder (and its UID with it, unless the
// folder has given out another meanwhile).
void TakeBack(store::ImapFolder& folder, store::ImapMessage& message) {
  if (folder.NextMessageUid() == message.Uid() + 1) folder.SetNextMessageUid(message.Uid());
  if (store::ImapMessages* messages = folder.Messages()) messages->RemoveMessage(&message);
}

}  // namespace

CommandResult HandleAppend(Command& command) {
  std::string& text = command.arguments;
  std::size_t offsets[10];
  if (SplitArguments(text.data(), offsets, 1) != 1) {
    SendTagged(command, kParseError);
    return CommandResult::Done;
  }
  char* mailbox = text.data() + offsets[0];
  FoundFolder found;
  if (ResolveMailbox(command.server, command.user, mailbox, kSelectReference, &found) ==
      WalkResult::Stop) {
    return CommandResult::Closed;
  }
  store::ImapFolder* folder =
      found.folder ? store::ImapFolder::FromInterface(found.folder.get()) : nullptr;
  if (!folder || !folder->Messages()) {
    SendTagged(command, "NO [TRYCREATE] APPEND failed");
    return CommandResult::Done;
  }

  // Flag list and date-time in any order, up to the literal marker.
  char* rest = After(text, mailbox);
  if (!rest) {
    SendTagged(command, kParseError);
    return CommandResult::Done;
  }
  std::int32_t flags = 0;
  std::int64_t size = -1;
  for (;;) {
    if (SplitArguments(rest, offsets, 1) != 1) {
      SendTagged(command, kParseError);
      return CommandResult::Done;
    }
    char* argument = rest + offsets[0];
    rest = After(text, argument);
    if (argument[0] == '{') {
      size = ParseLiteralSize(argument);
      break;
    }
    if (argument[0] == '(') flags |= ParseFlagList(argument);
    // Anything else is the date-time, which is not kept.
    if (!rest) break;
  }
  if (size <= 0) {
    SendTagged(command, kFailed);
    return CommandResult::Done;
  }

  Ref<store::ImapMessage> message = folder->Messages()->AddNew();
  message->SetFlags(flags);
  folder->SetNextMessageUid(message->Uid() + 1);
  std::int32_t action = Deny;
  if (!command.server.FireCreateMessage(command.user, found.folder.get(), message.get(),
                                        &action)) {
    return CommandResult::Closed;
  }
  // The file is started before the client is invited to send, so that a file that cannot be
  // made is refused before any byte of the upload travels.
  if (action == Deny || message->WriteText(std::string_view()) != StatusOk) {
    TakeBack(*folder, *message);
    SendTagged(command, kFailed);
    return CommandResult::Done;
  }
  ImapProtocolContext& context = ProtocolOf(command.user);
  context.AppendTag = command.tag;
  context.AppendMessage.Reset(message.get());
  context.AppendFolder.Reset(found.folder.get());
  context.AppendWriteFailed = false;
  if (transport::CkivUserSocket* connection = command.user.connection()) {
    connection->set_literal_remaining(static_cast<std::int32_t>(size + 2));
  }
  command.user.SendResponse("+ " + command.tag + " Ready for append literal\r\n");
  return CommandResult::Done;
}

CommandResult AppendContinuation(ServerContext& server, store::ImapUser& user, const char* bytes,
                                 std::size_t length) {
  transport::CkivUserSocket* connection = user.connection();
  if (!connection) return CommandResult::Closed;
  ImapProtocolContext& context = ProtocolOf(user);
  const auto remaining = static_cast<std::size_t>(connection->literal_remaining());
  // The last two bytes are the line end that closes the command line after the literal.
  const std::size_t take = remaining > 2 ? std::min(length, remaining - 2) : 0;
  Ref<store::ImapMessage> message(context.AppendMessage.get());
  if (message && take > 0 && !context.AppendWriteFailed &&
      message->AppendData(bytes, take) != StatusOk) {
    context.AppendWriteFailed = true;
  }
  if (length < remaining) return CommandResult::Done;

  // The chunk that ends the literal and its line end.
  Ref<IImapFolder> folder(context.AppendFolder.get());
  const std::string tag = context.AppendTag;
  const bool failed = context.AppendWriteFailed;
  ClearAppend(context);
  std::string completion = tag;
  if (!message || !folder || failed) {
    // Not handed to the host: the host took the message or its folder away meanwhile, or the
    // bytes could not all be stored and the message would not be the one the client sent.
    if (failed && folder) {
      if (store::ImapFolder* own = store::ImapFolder::FromInterface(folder.get())) {
        if (store::ImapMessages* messages = own->Messages()) messages->RemoveMessage(message.get());
      }
    }
    completion.append(" NO APPEND failed\r\n");
  } else {
    std::int32_t action = Allow;
    if (!server.FireWriteMessage(user, folder.get(), message.get(), &action)) {
      return CommandResult::Closed;
    }
    if (action == Deny) {
      completion.append(" NO APPEND failed\r\n");
    } else if (server.ModernProtocol()) {
      // UIDPLUS: the UIDs as they stand after the host took the message over.
      std::int32_t uid_validity = 0;
      folder->get_UID(&uid_validity);
      completion.append(" OK [APPENDUID ")
          .append(std::to_string(static_cast<std::uint32_t>(uid_validity)))
          .append(" ")
          .append(std::to_string(static_cast<std::uint32_t>(message->Uid())))
          .append("] APPEND completed\r\n");
    } else {
      completion.append(" OK APPEND completed\r\n");
    }
  }
  user.SendResponse(completion);
  return CommandResult::Done;
}

}  // namespace kivimap::imap
