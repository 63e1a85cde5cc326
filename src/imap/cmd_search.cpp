// SEARCH and UID SEARCH (RFC 3501, 6.4.4 and 6.4.8): "* SEARCH n n ...", sequence numbers or
// UIDs ascending, then the completion. The search runs to its end first (firing ReadMessage
// for each message whose file a key reads); the answer then goes out like FETCH's: in one
// flush with the completion when it fits under the connection's high-water mark, streamed as
// the client reads when a very large folder makes it longer.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "imap/commands.h"
#include "imap/folder_messages.h"
#include "imap/search_evaluator.h"
#include "imap/search_parser.h"

namespace kivimap::imap {

namespace {

constexpr std::size_t kPiece = 16 * 1024;

class SearchResponse final : public ParkedCommand {
 public:
  SearchResponse(std::string tag, std::vector<std::uint32_t> numbers)
      : tag_(std::move(tag)), numbers_(std::move(numbers)) {}

  CommandResult Resume(ServerContext& /*server*/, store::ImapUser& user) override {
    std::string piece;
    if (!started_) {
      piece = "* SEARCH";
      started_ = true;
    }
    while (next_ < numbers_.size()) {
      transport::CkivUserSocket* connection = user.connection();
      if (!connection) return CommandResult::Closed;
      if (connection->OutputFull()) return CommandResult::Suspended;
      while (next_ < numbers_.size() && piece.size() < kPiece) {
        piece.push_back(' ');
        piece.append(std::to_string(numbers_[next_++]));
      }
      user.QueueBytes(piece.data(), piece.size());
      piece.clear();
    }
    piece.append("\r\n").append(tag_).append(" OK SEARCH completed\r\n");
    user.SendResponse(piece);
    return CommandResult::Done;
  }

 private:
  std::string tag_;
  std::vector<std::uint32_t> numbers_;
  std::size_t next_ = 0;
  bool started_ = false;
};

}  // namespace

CommandResult RunSearch(Command& command, bool by_uid) {
  SearchParse parse = ParseSearch(command.arguments);
  if (parse.status == SearchParseStatus::BadCharset) {
    SendTagged(command, "NO [BADCHARSET (US-ASCII UTF-8)] SEARCH failed");
    return CommandResult::Done;
  }
  if (parse.status != SearchParseStatus::Ok) {
    SendTagged(command, "BAD " + command.name + " parse error");
    return CommandResult::Done;
  }

  // The folder as the search starts: a message the host takes away inside ReadMessage is still
  // held, and keeps its number, until the search ends.
  Ref<IImapFolder> folder(ProtocolOf(command.user).SelectedFolder.get());
  std::vector<Ref<store::ImapMessage>> messages;
  if (const store::ImapMessages* listed = MessagesOf(folder.get())) {
    messages.reserve(listed->size());
    for (std::size_t i = 0; i < listed->size(); ++i) messages.emplace_back(listed->at(i));
  }
  ServerContext& server = command.server;
  store::ImapUser& user = command.user;
  const BeforeRead before_read = [&](store::ImapMessage& message) {
    return server.FireReadMessage(user, folder.get(), &message);
  };
  std::optional<std::vector<std::uint32_t>> found =
      SearchMessages(parse.root, messages, by_uid, before_read);
  if (!found) return CommandResult::Closed;

  auto response = std::make_unique<SearchResponse>(command.tag, std::move(*found));
  const CommandResult result = response->Resume(server, user);
  if (result == CommandResult::Suspended) ProtocolOf(user).Parked = std::move(response);
  return result;
}

CommandResult HandleSearch(Command& command) { return RunSearch(command, false); }

}  // namespace kivimap::imap
