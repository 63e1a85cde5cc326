// How a connection turns received bytes into lines and literal chunks for its owner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "transport/connection_test_support.h"

namespace kivimap::testing {
namespace {

using Lines = std::vector<std::string>;

TEST(UserSocketFramingTest, LinesEndAtLineFeedOrCarriageReturnLineFeed) {
  ConnectionHarness h;
  h.Send("a1 NOOP\r\na2 NOOP\na3 NOOP\r\r\n\r\n\nx\ry\n");
  EXPECT_EQ(h.owner.data, (Lines{"a1 NOOP", "a2 NOOP", "a3 NOOP\r", "", "", "x\ry"}));
}

TEST(UserSocketFramingTest, ALineIsCutAtItsFirstNulByte) {
  ConnectionHarness h;
  h.Send(std::string("a1 NO\0OP\r\n", 10));
  ASSERT_EQ(h.owner.data.size(), 1u);
  EXPECT_EQ(h.owner.data[0], "a1 NO");
}

TEST(UserSocketFramingTest, ALineSplitOverPacketsWaitsForItsLineFeed) {
  ConnectionHarness h;
  h.Send("a1 NO");
  EXPECT_TRUE(h.owner.data.empty());
  EXPECT_EQ(h.socket().buffered_bytes(), 5u);
  h.Send("OP\r");
  EXPECT_TRUE(h.owner.data.empty());
  h.Send("\nb1");
  EXPECT_EQ(h.owner.data, (Lines{"a1 NOOP"}));
  EXPECT_EQ(h.socket().buffered_bytes(), 2u);
}

TEST(UserSocketFramingTest, CommandsOfOnePacketAreHandedOnInTheSameReceive) {
  ConnectionHarness h;
  int calls_seen_by_second = -1;
  h.owner.on_data = [&](const std::string& line) {
    if (line == "b") calls_seen_by_second = static_cast<int>(h.owner.data.size());
    return true;
  };
  ASSERT_EQ(::send(h.peer(), "a\nb\n", 4, 0), 4);
  // One Read notification is one receive: both lines must come out of it.
  ASSERT_TRUE(PumpUntil([&] { return !h.owner.data.empty(); }));
  EXPECT_EQ(h.owner.data, (Lines{"a", "b"}));
  EXPECT_EQ(calls_seen_by_second, 2);
}

TEST(UserSocketFramingTest, LongLinesAreCutTo32700Bytes) {
  ConnectionHarness h;
  const std::string x(transport::CkivUserSocket::kMaxLine, 'x');
  h.Send(std::string(40000, 'x') + "\r\nnext\r\n");
  // A carriage return just past the cut is part of what is cut off, not a line end.
  h.Send(x + "\r" + std::string(100, 'y') + "\r\n");
  h.Send(x + "\r\n");
  h.Send(x + "z\r\n");
  h.Send(x.substr(1) + "\r\r\n");
  // Compared without printing: the lines are long.
  EXPECT_TRUE(h.owner.data == (Lines{x, "next", x, x, x, x.substr(1) + "\r"}));
  EXPECT_EQ(h.owner.data.size(), 6u);
}

TEST(UserSocketFramingTest, BytesWithoutALineFeedAreBoundedAndTheLineStillArrivesCut) {
  ConnectionHarness h;
  const std::string chunk(100000, 'q');
  for (int i = 0; i < 10; ++i) h.Send(chunk);
  EXPECT_TRUE(h.owner.data.empty());
  // What can still reach the owner, plus one byte that may be the carriage return.
  EXPECT_LE(h.socket().buffered_bytes(), transport::CkivUserSocket::kMaxLine + 1);
  h.Send("\r\nafter\r\n");
  ASSERT_EQ(h.owner.data.size(), 2u);
  EXPECT_TRUE(h.owner.data[0] == std::string(transport::CkivUserSocket::kMaxLine, 'q'));
  EXPECT_EQ(h.owner.data[1], "after");
  EXPECT_EQ(h.socket().buffered_bytes(), 0u);
}

TEST(UserSocketFramingTest, StopLeavesTheRestBufferedForTheNextReceive) {
  ConnectionHarness h;
  h.owner.on_data = [&](const std::string& line) { return line != "a"; };
  h.Send("a\nb\n");
  EXPECT_EQ(h.owner.data, (Lines{"a"}));
  h.Send("c\n");
  EXPECT_EQ(h.owner.data, (Lines{"a", "b", "c"}));
}

TEST(UserSocketFramingTest, AnOwnerThatDestroysTheConnectionEndsTheReceive) {
  ConnectionHarness h;
  h.owner.on_data = [&](const std::string&) {
    h.owner.socket.reset();
    return true;  // even a continue must not make the connection touch itself again
  };
  h.Send("a\nb\nc\n");
  EXPECT_EQ(h.owner.data, (Lines{"a"}));
  EXPECT_EQ(h.owner.socket, nullptr);
}

TEST(UserSocketFramingTest, LiteralBytesGoOutAsOneChunkAndTheRestIsFramedAfterwards) {
  ConnectionHarness h;
  h.socket().set_literal_remaining(10);
  h.Send("0123456789a1 NOOP\r\nb1 X\n");  // 25 bytes: 10 of literal, then two lines
  EXPECT_EQ(h.owner.data, (Lines{"0123456789", "a1 NOOP", "b1 X"}));
  EXPECT_EQ(h.socket().literal_remaining(), 0);
}

TEST(UserSocketFramingTest, ALiteralMayArriveInPiecesAndHoldAnyByte) {
  ConnectionHarness h;
  h.socket().set_literal_remaining(6);
  h.Send(std::string("ab\0", 3));
  EXPECT_EQ(h.socket().literal_remaining(), 3);
  h.Send("\r\nc");
  EXPECT_EQ(h.owner.data, (Lines{std::string("ab\0", 3), "\r\nc"}));
  EXPECT_EQ(h.socket().literal_remaining(), 0);
}

TEST(UserSocketFramingTest, ALiteralChunkRefusedByTheOwnerIsNotCounted) {
  ConnectionHarness h;
  h.socket().set_literal_remaining(10);
  h.owner.on_data = [](const std::string&) { return false; };
  h.Send("01234");
  EXPECT_EQ(h.socket().literal_remaining(), 10);
}

TEST(UserSocketFramingTest, BytesUploadCountsEveryReceivedByte) {
  ConnectionHarness h;
  h.Send("a1 NOOP\r\n");
  h.Send(std::string(50000, 'z'));
  EXPECT_EQ(h.socket().bytes_upload(), 9u + 50000u);
}

TEST(UserSocketFramingTest, ThePeerClosingReachesTheOwnerAfterItsLastLine) {
  ConnectionHarness h;
  ASSERT_EQ(::send(h.peer(), "last\n", 5, 0), 5);
  h.ClosePeer();
  ASSERT_TRUE(PumpUntil([&] { return h.owner.closed == 1; }));
  EXPECT_EQ(h.owner.data, (Lines{"last"}));
}

TEST(UserSocketFramingTest, AConnectionIgnoresKindsItHasNoHandlerFor) {
  ConnectionHarness h;
  ASSERT_EQ(::send(h.peer(), "a\n", 2, 0), 2);
  for (const std::uint16_t kind :
       std::initializer_list<std::uint16_t>{4, 64, NotifyAccept, NotifyConnect}) {
    h.socket().OnNotification(kind, 0);
    h.socket().PostNotification(kind);
  }
  PumpRounds(1);
  EXPECT_EQ(h.owner.closed, 0);
  EXPECT_EQ(h.owner.idle, 0);
  PumpUntil([&] { return !h.owner.data.empty(); });
  EXPECT_EQ(h.owner.data, (Lines{"a"}));
}

TEST(UserSocketFramingTest, TheIdleTimerRunsBetweenCommandsOnlyWhenItHasAnInterval) {
  ConnectionHarness h;
  auto& loop = EventLoop::ForThisThread();
  const std::size_t timers_before = loop.TimerCount();
  h.Send("a\n");
  EXPECT_EQ(loop.TimerCount(), timers_before) << "an interval of 0 means no idle timer";
  h.owner.interval_ms = 60000;
  h.Send("b\n");
  EXPECT_EQ(loop.TimerCount(), timers_before + 1);
  h.owner.on_data = [](const std::string&) { return false; };
  h.Send("c\n");
  EXPECT_EQ(loop.TimerCount(), timers_before) << "a stopped command leaves the timer stopped";
}

TEST(UserSocketFramingTest, TheIdleTimerReachesTheOwner) {
  ConnectionHarness h;
  h.owner.interval_ms = 1;
  h.socket().StartIdleTimer();
  EXPECT_TRUE(PumpUntil([&] { return h.owner.idle > 0; }));
}

}  // namespace
}  // namespace kivimap::testing
