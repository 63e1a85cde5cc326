// How a connection queues and sends output without ever blocking.
#include <gtest/gtest.h>

#include <string>

#include "transport/connection_test_support.h"

namespace kivimap::testing {
namespace {

std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  return text;
}

TEST(UserSocketSendTest, OutputWaitsForTheFirstWriteNotification) {
  ConnectionHarness h;
  h.socket().SendResponse("* OK hello\r\n");
  EXPECT_FALSE(h.socket().may_send());
  EXPECT_EQ(h.ReceiveNow(), "");
  h.WaitWritable();
  EXPECT_EQ(h.Receive(12), "* OK hello\r\n");
  EXPECT_EQ(h.owner.all_sent, 1);
  EXPECT_EQ(h.socket().bytes_download(), 12u);
}

TEST(UserSocketSendTest, TheOwnerHearsOfAnEmptyQueueOnlyOnceEverythingWentOut) {
  ConnectionHarness h(/*peer_receive_buffer=*/4096);
  const int small = 4096;
  ::setsockopt(h.socket().fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  const std::string greeting = Pattern(1 << 20);
  h.socket().QueueResponse(greeting);
  ASSERT_TRUE(PumpUntil([&] { return h.socket().bytes_download() > 0; }));
  EXPECT_EQ(h.owner.all_sent, 0) << "the first Write could not send it all";
  EXPECT_TRUE(h.Receive(greeting.size()) == greeting);
  ASSERT_TRUE(PumpUntil([&] { return h.owner.all_sent == 1; }));
  PumpRounds();
  EXPECT_EQ(h.owner.all_sent, 1);
}

TEST(UserSocketSendTest, QueuedOutputLeavesOnlyWithTheNextSend) {
  ConnectionHarness h;
  h.WaitWritable();
  h.socket().QueueResponse("* 1 EXISTS\r\n");
  h.socket().QueueBytes("\0\1", 2);
  PumpRounds();
  EXPECT_EQ(h.ReceiveNow(), "");
  h.socket().SendResponse("a1 OK done\r\n");
  EXPECT_EQ(h.Receive(26), std::string("* 1 EXISTS\r\n\0\1a1 OK done\r\n", 26));
}

TEST(UserSocketSendTest, TextIsQueuedUpToItsFirstNul) {
  ConnectionHarness h;
  h.WaitWritable();
  h.socket().SendResponse(std::string_view("ab\0cd", 5));
  EXPECT_EQ(h.Receive(2), "ab");
  PumpRounds();
  EXPECT_EQ(h.ReceiveNow(), "");
}

TEST(UserSocketSendTest, ALargeResponseToASlowReaderArrivesWholeAndInOrder) {
  ConnectionHarness h(/*peer_receive_buffer=*/4096);
  const int small = 4096;
  ::setsockopt(h.socket().fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  h.WaitWritable();
  const std::string big = Pattern(1 << 20);
  h.socket().SendResponse(big);
  EXPECT_FALSE(h.socket().may_send()) << "the socket cannot take 1 MB at once";
  EXPECT_GT(h.socket().queued_bytes(), 0u);
  const std::string got = h.Receive(big.size());
  ASSERT_EQ(got.size(), big.size());
  EXPECT_TRUE(got == big);
  EXPECT_EQ(h.socket().queued_bytes(), 0u);
  EXPECT_EQ(h.socket().bytes_download(), big.size());
}

TEST(UserSocketSendTest, ResponsesToOneReceiveGoOutInOrder) {
  ConnectionHarness h;
  h.WaitWritable();
  h.owner.on_data = [&](const std::string& line) {
    h.socket().QueueResponse("* " + line + "\r\n");
    h.socket().SendResponse(line + " OK\r\n");
    return true;
  };
  h.Send("a\nb\nc\n");
  EXPECT_EQ(h.Receive(24), "* a\r\na OK\r\n* b\r\nb OK\r\n* c\r\nc OK\r\n");
}

TEST(UserSocketSendTest, AConnectionClosedDuringAReceiveStillSendsWhatResponsesSent) {
  ConnectionHarness h;
  h.WaitWritable();
  h.owner.on_data = [&](const std::string& line) {
    if (line == "b") {
      // Only queued, never sent: dropped with the connection.
      h.socket().QueueResponse("* never\r\n");
      h.owner.socket.reset();
      return false;
    }
    h.socket().SendResponse(line + " OK\r\n");
    return true;
  };
  h.Send("a\nb\nc\n");
  EXPECT_EQ(h.Receive(100), "a OK\r\n");
}

TEST(UserSocketSendTest, DebugLogGetsQueuedBytesUpToANulAndCutFrom16384) {
  ConnectionHarness h;
  h.owner.debug_on = true;
  h.socket().QueueBytes(std::string(16383, 'a').data(), 16383);
  h.socket().QueueBytes(std::string(20000, 'b').data(), 20000);
  h.socket().QueueBytes("ab\0cd", 5);
  ASSERT_EQ(h.owner.debug.size(), 3u);
  EXPECT_EQ(h.owner.debug[0].size(), 16383u);
  EXPECT_EQ(h.owner.debug[1], std::string(16380, 'b'));
  EXPECT_EQ(h.owner.debug[2], "ab");
  EXPECT_EQ(h.socket().queued_bytes(), 16383u + 20000u + 5u);
}

TEST(UserSocketSendTest, AbortEndsTheConnectionWithoutSendingWhatWasQueued) {
  ConnectionHarness h;
  h.socket().QueueResponse("* pending\r\n");
  h.socket().Abort();
  ASSERT_TRUE(PumpUntil([&] { return h.owner.closed == 1; }));
  EXPECT_EQ(h.Receive(1), "");
}

}  // namespace
}  // namespace kivimap::testing
