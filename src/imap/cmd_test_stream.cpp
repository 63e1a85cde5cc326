// XSTREAM, a command of test builds only: "<tag> XSTREAM <n>" answers "* XSTREAM {n}" followed by
// n bytes of numbered 16-byte blocks ("000000000000000\n", "000000000000001\n", ...), then the
// completion. It is the one command that streams through parking, so that the flow control of
// the connection can be tested over a real socket before any mail command streams.
#ifdef KIVIMAP_TEST_COMMANDS

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <memory>
#include <string>

#include "imap/commands.h"

namespace kivimap::imap {

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kPiece = 16384;

class TestStream final : public ParkedCommand {
 public:
  TestStream(std::string tag, std::uint64_t total) : tag_(std::move(tag)), total_(total) {}

  CommandResult Resume(ServerContext& /*server*/, store::ImapUser& user) override {
    transport::CkivUserSocket* connection = user.connection();
    if (!connection) return CommandResult::Closed;
    std::string piece;
    while (sent_ < total_) {
      if (connection->OutputFull()) return CommandResult::Suspended;
      piece.clear();
      const std::uint64_t end = std::min<std::uint64_t>(total_, sent_ + kPiece);
      for (std::uint64_t at = sent_ - sent_ % kBlock; at < end; at += kBlock) {
        char block[32];
        std::snprintf(block, sizeof block, "%015" PRIu64 "\n", at / kBlock);
        const std::uint64_t from = std::max(at, sent_);
        const std::uint64_t to = std::min(at + kBlock, end);
        piece.append(block + (from - at), static_cast<std::size_t>(to - from));
      }
      user.QueueBytes(piece.data(), piece.size());
      sent_ = end;
    }
    user.SendResponse("\r\n" + tag_ + " OK XSTREAM completed\r\n");
    return CommandResult::Done;
  }

 private:
  std::string tag_;
  std::uint64_t total_;
  std::uint64_t sent_ = 0;
};

}  // namespace

CommandResult HandleTestStream(Command& command) {
  std::uint64_t total = 0;
  const std::string& text = command.arguments;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), total);
  if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
    command.user.SendResponse(command.tag + " BAD XSTREAM parse error\r\n");
    return CommandResult::Done;
  }
  command.user.QueueResponse("* XSTREAM {" + std::to_string(total) + "}\r\n");
  auto stream = std::make_unique<TestStream>(command.tag, total);
  const CommandResult result = stream->Resume(command.server, command.user);
  if (result == CommandResult::Suspended) ProtocolOf(command.user).Parked = std::move(stream);
  return result;
}

}  // namespace kivimap::imap

#endif  // KIVIMAP_TEST_COMMANDS
