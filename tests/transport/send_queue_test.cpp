#include "transport/send_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace kivimap::transport {
namespace {

TEST(SendQueueTest, KeepsBytesInOrderAcrossPartialConsumes) {
  SendQueue q;
  q.Append("hello ", 6);
  q.Append("world", 5);
  EXPECT_EQ(q.Front(), "hello world");
  q.Consume(4);
  EXPECT_EQ(q.Front(), "o world");
  q.Append("!", 1);
  EXPECT_EQ(q.Front(), "o world!");
  q.Consume(100);
  EXPECT_TRUE(q.empty());
  EXPECT_EQ(q.Front(), "");
}

TEST(SendQueueTest, AStreamThroughTheQueueStaysIntactAndItsStorageBounded) {
  SendQueue q;
  std::string expected;
  std::string got;
  for (int i = 0; i < 2000; ++i) {
    const std::string chunk(1000 + i % 77, static_cast<char>('a' + i % 26));
    q.Append(chunk.data(), chunk.size());
    expected += chunk;
    // The reader takes a bit less than is written, so the queue keeps a backlog.
    const std::size_t take = std::min<std::size_t>(q.size(), 990);
    got.append(q.Front().substr(0, take));
    q.Consume(take);
    ASSERT_LE(q.capacity(), 4 * (q.size() + 65536)) << "sent bytes are reclaimed";
  }
  got.append(q.Front());
  EXPECT_TRUE(got == expected);
}

TEST(SendQueueTest, GivesLargeStorageBackWhenItRunsEmpty) {
  SendQueue q;
  const std::string big(100000, 'x');
  q.Append(big.data(), big.size());
  q.Consume(big.size());
  EXPECT_LE(q.capacity(), 4096u);
}

}  // namespace
}  // namespace kivimap::transport
