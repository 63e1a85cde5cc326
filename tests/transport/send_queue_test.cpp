#include "transport/send_queue.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "transport/transport_test_support.h"

namespace kivimap::transport {
namespace {

using testing::ScopedFd;

std::string Pattern(std::size_t n, std::size_t seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 31 + seed * 7 + i / 251) & 0xFF);
  return s;
}

// A file holding text, opened for reading, deleted at once (the descriptor keeps it).
std::shared_ptr<SharedFile> TempFile(const std::string& text) {
  char name[] = "/tmp/kivimap-queue-XXXXXX";
  const int fd = ::mkstemp(name);
  EXPECT_GE(fd, 0);
  EXPECT_EQ(::write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  ::unlink(name);
  return std::make_shared<SharedFile>(fd);
}

// Drains the queue into a socket pair whose reader takes everything, in small sends.
std::string SendAllThrough(SendQueue& q, std::size_t step, std::size_t* max_held) {
  int pair[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  ScopedFd ours(pair[0]), theirs(pair[1]);
  std::string got;
  for (int round = 0; round < 100000 && !q.empty(); ++round) {
    std::size_t sent = 0;
    const auto outcome = q.SendTo(ours.get(), step, &sent);
    EXPECT_TRUE(outcome == SendQueue::Outcome::kEmpty ||
                outcome == SendQueue::Outcome::kWouldBlock);
    *max_held = std::max(*max_held, q.held_bytes());
    char buffer[65536];
    ssize_t k;
    while ((k = ::recv(theirs.get(), buffer, sizeof buffer, 0)) > 0) {
      got.append(buffer, static_cast<std::size_t>(k));
    }
  }
  return got;
}

// Owned bytes and file ranges, interleaved, come out whole and in order through partial sends;
// a file range holds no memory beyond its read-ahead; the drained queue keeps nothing large.
TEST(SendQueueTest, OwnedBytesAndFileRangesLeaveInOrder) {
  const std::string file_text = Pattern(3 << 20, 1);
  auto file = TempFile(file_text);
  SendQueue q;
  std::string expected;
  const std::string head = Pattern(100000, 2), middle = Pattern(10, 3), tail = Pattern(70000, 4);
  q.Append(head.data(), head.size());
  expected += head;
  q.AppendFile(file, 5, 2 << 20);
  expected += file_text.substr(5, 2 << 20);
  q.Append(middle.data(), middle.size());
  q.Append(tail.data(), tail.size());  // joins the owned piece before it
  expected += middle + tail;
  q.AppendFile(file, 0, 3);
  expected += file_text.substr(0, 3);
  EXPECT_EQ(q.size(), expected.size());
  EXPECT_EQ(q.owned_bytes(), head.size() + middle.size() + tail.size());

  std::size_t max_held = 0;
  const std::string got = SendAllThrough(q, 50000, &max_held);
  EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size() << " bytes";
  EXPECT_LE(max_held, head.size() + middle.size() + tail.size()) << "file bytes are not held";
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.held_bytes(), 0u);
}

// A file that is shorter than its queued range cannot complete the stream: the queue says so
// instead of sending nothing forever or padding the client's literal.
TEST(SendQueueTest, AFileShorterThanItsRangeIsReported) {
  auto file = TempFile("short");
  SendQueue q;
  q.Append("x", 1);
  q.AppendFile(file, 0, 100);
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair), 0);
  ScopedFd ours(pair[0]), theirs(pair[1]);
  std::size_t sent = 0;
  EXPECT_EQ(q.SendTo(ours.get(), 1000, &sent), SendQueue::Outcome::kFileShort);
  EXPECT_EQ(sent, 6u) << "the byte before and what the file holds";
}

}  // namespace
}  // namespace kivimap::transport
