// A connection object: how it frames received bytes into lines and literal chunks for its
// owner, and how it queues and sends output without ever blocking.
#include <gtest/gtest.h>

#include <string>

#include "transport/transport_test_support.h"

namespace kivimap::testing {
namespace {

constexpr std::size_t kMaxLine = transport::CkivUserSocket::kMaxLine;

// Line ends, NUL bytes, lines split over packets and lines cut to 32700 bytes, each case on a
// fresh connection. Lines are not printed: some are long.
TEST(UserSocketTest, ReceivedBytesBecomeLines) {
  const std::string x(kMaxLine, 'x');
  const struct {
    const char* name;
    Lines packets;
    Lines lines;
  } cases[] = {
      {"line ends",
       {"a1 NOOP\r\na2 NOOP\na3 NOOP\r\r\n\r\n\nx\ry\n"},
       {"a1 NOOP", "a2 NOOP", "a3 NOOP\r", "", "", "x\ry"}},
      {"NUL cuts the line", {std::string("a1 NO\0OP\r\n", 10)}, {"a1 NO"}},
      {"split over packets", {"a1 NO", "OP\r", "\nb1"}, {"a1 NOOP"}},
      // A carriage return just past the cut is part of what is cut off, not a line end.
      {"long lines",
       {std::string(40000, 'x') + "\r\nnext\r\n", x + "\r" + std::string(100, 'y') + "\r\n",
        x + "\r\n", x + "z\r\n", x.substr(1) + "\r\r\n"},
       {x, "next", x, x, x, x.substr(1) + "\r"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ConnectionHarness h;
    for (const std::string& packet : c.packets) h.Send(packet);
    EXPECT_TRUE(h.owner.data == c.lines) << h.owner.data.size() << " lines";
  }
}

TEST(UserSocketTest, BytesWithoutALineFeedAreBoundedAndTheLineStillArrivesCut) {
  ConnectionHarness h;
  const std::string chunk(100000, 'q');
  for (int i = 0; i < 10; ++i) h.Send(chunk);
  EXPECT_TRUE(h.owner.data.empty());
  // What can still reach the owner, one byte that may be the carriage return, and one that
  // shows the line was cut.
  EXPECT_LE(h.socket().buffered_bytes(), kMaxLine + 2);
  h.Send("\r\nafter\r\n");
  ASSERT_EQ(h.owner.data.size(), 2u);
  EXPECT_TRUE(h.owner.data[0] == std::string(kMaxLine, 'q'));
  EXPECT_EQ(h.owner.data[1], "after");
  EXPECT_EQ(h.socket().buffered_bytes(), 0u);
  EXPECT_EQ(h.socket().bytes_upload(), 1000000u + 9u) << "every received byte counts";
}

TEST(UserSocketTest, ALiteralArrivesInChunksAndTheRestIsFramedAfterwards) {
  ConnectionHarness h;
  h.socket().set_literal_remaining(6);
  h.Send(std::string("ab\0", 3));  // a literal may hold any byte
  EXPECT_EQ(h.socket().literal_remaining(), 3);
  // The literal's end and two lines in one receive: the lines are framed right after it.
  h.Send("\r\nca1 NOOP\r\nb1 X\n");
  EXPECT_EQ(h.owner.data, (Lines{std::string("ab\0", 3), "\r\nc", "a1 NOOP", "b1 X"}));
  EXPECT_EQ(h.socket().literal_remaining(), 0);
}

// Bytes that follow a command line in the same receive are literal bytes once the command asks
// for a literal, never command lines, and the lines after the literal are framed as usual.
TEST(UserSocketTest, BytesAfterTheLineThatAsksForALiteralAreTheLiteral) {
  ConnectionHarness h;
  h.owner.on_data = [&](const std::string& line) {
    if (line == "A APPEND") h.socket().set_literal_remaining(12);
    return transport::CommandResult::Done;
  };
  h.Send("A APPEND\r\nB NOOP\r\nmore\r\nC NOOP\r\n");
  EXPECT_EQ(h.owner.data, (Lines{"A APPEND", "B NOOP\r\nmore", "", "C NOOP"}));
  EXPECT_EQ(h.socket().literal_remaining(), 0);
}

// A parked command holds back the lines after it until its owner has resumed it to its end.
TEST(UserSocketTest, LinesAfterAParkedCommandWaitForItsEnd) {
  ConnectionHarness h;
  ASSERT_TRUE(RunUntil([&] { return h.socket().may_send(); }));
  int parts = 0;
  h.owner.on_data = [&](const std::string& line) {
    if (line != "A") {
      h.socket().SendResponse(line + " done\r\n");
      return transport::CommandResult::Done;
    }
    h.socket().QueueResponse("A part\r\n");
    return transport::CommandResult::Suspended;
  };
  h.owner.on_resume = [&] {
    h.socket().QueueResponse(++parts < 3 ? "A part\r\n" : "A done\r\n");
    return parts < 3 ? transport::CommandResult::Suspended : transport::CommandResult::Done;
  };
  h.Send("A\nB\n");
  EXPECT_EQ(h.Receive(40), "A part\r\nA part\r\nA part\r\nA done\r\nB done\r\n");
  EXPECT_EQ(h.owner.resumed, 3);
  EXPECT_FALSE(h.socket().parked());
}

// An owner that destroys the connection while it frames a receive: the connection touches
// nothing of itself afterwards (AddressSanitizer would tell), frames nothing more even when told
// to go on, and still sends what responses before sent, but not what was only queued.
TEST(UserSocketTest, AnOwnerThatDestroysTheConnectionEndsTheReceive) {
  ConnectionHarness h;
  ASSERT_TRUE(RunUntil([&] { return h.socket().may_send(); }));
  h.owner.on_data = [&](const std::string& line) {
    if (line == "a") {
      h.socket().SendResponse("a OK\r\n");
    } else {
      h.socket().QueueResponse("* never\r\n");
      h.owner.socket.reset();
    }
    return transport::CommandResult::Done;
  };
  h.Send("a\nb\nc\n");
  EXPECT_EQ(h.owner.data, (Lines{"a", "b"}));
  EXPECT_EQ(h.Receive(100), "a OK\r\n");
}

TEST(UserSocketTest, OutputLeavesWithASendOnceTheSocketWasWritable) {
  ConnectionHarness h;
  h.socket().QueueResponse("* 1 EXISTS\r\n");
  h.socket().QueueBytes("\0\1", 2);
  h.socket().SendResponse(std::string_view("a1 OK\r\n\0cd", 10));  // text ends at a NUL
  EXPECT_EQ(h.Receive(0), "") << "nothing before the first Write";
  ASSERT_TRUE(RunUntil([&] { return h.socket().may_send(); }));
  EXPECT_EQ(h.Receive(21), std::string("* 1 EXISTS\r\n\0\1a1 OK\r\n", 21));
  EXPECT_EQ(h.owner.all_sent, 1);
  EXPECT_EQ(h.socket().bytes_download(), 21u);

  h.socket().QueueResponse("* 2 EXISTS\r\n");
  RunRounds();
  EXPECT_EQ(h.Receive(0), "") << "queued output waits for the next send";
  h.socket().SendResponse("a2 OK\r\n");
  EXPECT_EQ(h.Receive(19), "* 2 EXISTS\r\na2 OK\r\n");
}

// A megabyte queued before the first Write, as a greeting is, to a peer that reads slowly: it
// goes out in many partial sends, and the owner hears of an empty queue only at the end.
TEST(UserSocketTest, ALargeOutputToASlowReaderArrivesWholeAndInOrder) {
  ConnectionHarness h(/*small_buffers=*/true);
  std::string big(1 << 20, '\0');
  for (std::size_t i = 0; i < big.size(); ++i)
    big[i] = static_cast<char>('a' + (i * 7 + i / 26) % 26);
  h.socket().QueueResponse(big);
  ASSERT_TRUE(RunUntil([&] { return h.socket().bytes_download() > 0; }));
  EXPECT_FALSE(h.socket().may_send()) << "the socket cannot take 1 MB at once";
  EXPECT_EQ(h.owner.all_sent, 0) << "the first Write could not send it all";
  const std::string got = h.Receive(big.size());
  EXPECT_TRUE(got == big) << got.size() << " bytes received";
  ASSERT_TRUE(RunUntil([&] { return h.owner.all_sent == 1; }));
  RunRounds();
  EXPECT_EQ(h.owner.all_sent, 1);
  EXPECT_EQ(h.socket().queued_bytes(), 0u);
  EXPECT_EQ(h.socket().bytes_download(), big.size());
}

TEST(UserSocketTest, AbortEndsTheConnectionWithoutSendingWhatWasQueued) {
  ConnectionHarness h;
  h.socket().QueueResponse("* pending\r\n");
  h.socket().Abort("");
  ASSERT_TRUE(RunUntil([&] { return h.owner.closed == 1; }));
  EXPECT_EQ(h.Receive(1), "");
}

}  // namespace
}  // namespace kivimap::testing
