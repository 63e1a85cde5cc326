#include "common/byte_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace kivimap {
namespace {

std::string Pattern(std::size_t n, char seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

// Appends `first` bytes, consumes `consumed`, appends `second`: the buffer either keeps its
// block, compacts (more than half consumed) or grows by the request plus 32768 bytes of slack.
void ExpectLayout(std::size_t first, std::size_t consumed, std::size_t second, std::size_t capacity,
                  std::size_t start) {
  SCOPED_TRACE(testing::Message() << first << " - " << consumed << " + " << second);
  ByteBuffer b;
  const std::string head = Pattern(first), tail = Pattern(second, 5);
  b.Append(head);
  ASSERT_TRUE(b.Consume(consumed));
  b.Append(tail);
  EXPECT_EQ(b.capacity(), capacity);
  EXPECT_EQ(b.start_index(), start);
  EXPECT_EQ(b.view(), head.substr(consumed) + tail);
}

TEST(ByteBufferTest, CapacityAfterCompactionAndGrowthIsExact) {
  constexpr std::size_t kGrown = 4096 + 32768;
  ExpectLayout(4094, 0, 1, 4096, 0);                  // the end stays strictly below the capacity
  ExpectLayout(4095, 0, 1, kGrown + 1, 0);            // the end would reach the capacity
  ExpectLayout(0, 0, 4096, kGrown + 4096, 0);         // one append of exactly the capacity
  ExpectLayout(4000, 3000, 200, 4096, 0);             // compaction is enough
  ExpectLayout(4000, 3000, 3500, kGrown + 3500, 0);   // compaction, then growth
  ExpectLayout(4000, 2048, 100, kGrown + 100, 2048);  // exactly half consumed: no compaction
  ExpectLayout(2000, 2000, 3000, 4096, 0);            // fully consumed: indices return to the front
}

TEST(ByteBufferTest, RefusedRequestsLeaveTheBufferUnchanged) {
  ByteBuffer b;
  b.Append("abcdef");
  ASSERT_TRUE(b.Consume(4));
  EXPECT_FALSE(b.DropTail(3));  // end index is 6, but only 2 bytes are unconsumed
  EXPECT_FALSE(b.Consume(3));
  // A length no allocation can hold, whose sums with the indices would wrap.
  EXPECT_THROW(b.Append(b.data(), std::numeric_limits<std::size_t>::max()), std::bad_alloc);
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_TRUE(b.DropTail(1));
  EXPECT_STREQ(b.c_str(), "e");
}

TEST(ByteBufferTest, AppendingItsOwnBytesWhileTheStorageMovesCopiesThemCorrectly) {
  const std::string text = Pattern(4000);
  ByteBuffer grows, compacts;
  grows.Append(text);
  grows.Append(grows.data(), grows.size());  // growth frees the source
  EXPECT_EQ(grows.view(), text + text);
  compacts.Append(text);
  ASSERT_TRUE(compacts.Consume(3000));
  compacts.Append(compacts.data(), 500);  // compaction moves the source
  EXPECT_EQ(compacts.view(), text.substr(3000) + text.substr(3000, 500));
}

int wipes = 0;
std::vector<std::size_t> wiped_sizes;

TEST(ByteBufferTest, StorageIsZeroedOnceBeforeItIsFreed) {
  ByteBuffer::SetWipeObserverForTesting([](const char* storage, std::size_t touched) {
    ++wipes;
    wiped_sizes.push_back(touched);
    EXPECT_TRUE(std::all_of(storage, storage + touched, [](char c) { return c == 0; }));
  });
  {
    ByteBuffer b;
    b.Append("LOGIN secret password");
    b.Append(Pattern(5000));  // growth hands back the first block
    b.Reset();
    EXPECT_EQ(wipes, 2);
    ByteBuffer moved(std::move(b));
    b.Append("more secrets");  // NOLINT(bugprone-use-after-move): moved-from buffers stay usable
  }
  ByteBuffer::SetWipeObserverForTesting(nullptr);
  EXPECT_EQ(wipes, 4);  // each of the two blocks alive at the end, once
  // Exactly the bytes that held data: the first text, the grown block's texts, nothing in the
  // block moved away empty, the last text.
  EXPECT_EQ(wiped_sizes, (std::vector<std::size_t>{21, 5021, 0, 12}));
}

}  // namespace
}  // namespace kivimap
