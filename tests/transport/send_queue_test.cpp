#include "transport/send_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace kivimap::transport {
namespace {

// A reader that takes a bit less than is written keeps a backlog: the bytes must come out intact
// and in order across partial consumes, sent bytes must be reclaimed, and a queue that ran empty
// must give its large storage back (idle connections are kept small).
TEST(SendQueueTest, AStreamThroughTheQueueStaysIntactAndItsStorageBounded) {
  SendQueue q;
  std::string expected, got;
  for (int i = 0; i < 2000; ++i) {
    const std::string chunk(1000 + i % 77, static_cast<char>('a' + i % 26));
    q.Append(chunk.data(), chunk.size());
    expected += chunk;
    const std::size_t take = std::min<std::size_t>(q.size(), 990);
    got.append(q.Front().substr(0, take));
    q.Consume(take);
    ASSERT_LE(q.capacity(), 4 * (q.size() + 65536)) << "sent bytes are reclaimed";
  }
  got.append(q.Front());
  EXPECT_TRUE(got == expected);
  q.Consume(q.size() + 100);
  EXPECT_TRUE(q.empty() && q.Front().empty());
  EXPECT_LE(q.capacity(), 4096u);
}

}  // namespace
}  // namespace kivimap::transport
