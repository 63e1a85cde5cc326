#include "common/byte_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>
#include <string>

namespace kivimap {
namespace {

std::string Pattern(std::size_t n, char seed = 0) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>(seed + i * 7);
  return s;
}

TEST(ByteBufferTest, StartsEmptyWithInitialCapacity) {
  ByteBuffer b;
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_TRUE(b.empty());
  EXPECT_STREQ(b.c_str(), "");
}

TEST(ByteBufferTest, GrowsByRequestPlusSlackOnlyWhenEndWouldReachCapacity) {
  ByteBuffer b;
  const std::string first = Pattern(4095);
  b.Append(first);
  EXPECT_EQ(b.capacity(), 4096u);  // end 4095 stays strictly below the capacity

  b.Append("x");
  EXPECT_EQ(b.capacity(), 4096u + 1 + 32768);
  EXPECT_EQ(b.view(), first + "x");

  ByteBuffer exact;
  exact.Append(Pattern(4096));
  EXPECT_EQ(exact.capacity(), 4096u + 4096 + 32768);
}

TEST(ByteBufferTest, CompactsWhenMoreThanHalfIsConsumed) {
  ByteBuffer b;
  const std::string text = Pattern(4000);
  b.Append(text);
  ASSERT_TRUE(b.Consume(3000));
  b.Append(Pattern(200, 5));
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_EQ(b.start_index(), 0u);
  EXPECT_EQ(b.end_index(), 1200u);
  EXPECT_EQ(b.view(), text.substr(3000) + Pattern(200, 5));
}

TEST(ByteBufferTest, CompactsThenGrowsWhenCompactionIsNotEnough) {
  ByteBuffer b;
  const std::string text = Pattern(4000);
  b.Append(text);
  ASSERT_TRUE(b.Consume(3000));
  b.Append(Pattern(3500, 9));
  EXPECT_EQ(b.capacity(), 4096u + 3500 + 32768);
  EXPECT_EQ(b.start_index(), 0u);
  EXPECT_EQ(b.view(), text.substr(3000) + Pattern(3500, 9));
}

TEST(ByteBufferTest, ExactlyHalfConsumedGrowsInsteadOfCompacting) {
  ByteBuffer b;
  const std::string text = Pattern(4000);
  b.Append(text);
  ASSERT_TRUE(b.Consume(2048));
  b.Append(Pattern(100, 3));
  EXPECT_EQ(b.capacity(), 4096u + 100 + 32768);
  EXPECT_EQ(b.start_index(), 2048u);
  EXPECT_EQ(b.view(), text.substr(2048) + Pattern(100, 3));
}

TEST(ByteBufferTest, FullyConsumedBufferRestartsAtTheFront) {
  ByteBuffer b;
  b.Append(Pattern(4000));
  ASSERT_TRUE(b.Consume(4000));
  b.Append(Pattern(4000, 1));  // would need growth if the indices had not returned to 0
  EXPECT_EQ(b.capacity(), 4096u);
  EXPECT_EQ(b.start_index(), 0u);
  EXPECT_EQ(b.view(), Pattern(4000, 1));
}

TEST(ByteBufferTest, ConsumeAndDropTailRefuseMoreThanTheUnconsumedBytes) {
  ByteBuffer b;
  b.Append("abcdef");
  ASSERT_TRUE(b.Consume(4));
  EXPECT_FALSE(b.DropTail(3));  // end index is 6, but only 2 bytes are unconsumed
  EXPECT_FALSE(b.Consume(3));
  EXPECT_EQ(b.view(), "ef");
  EXPECT_TRUE(b.Consume(0));
  EXPECT_TRUE(b.DropTail(1));
  EXPECT_EQ(b.view(), "e");
  EXPECT_STREQ(b.c_str(), "e");
  EXPECT_TRUE(b.DropTail(1));
  EXPECT_TRUE(b.empty());
  EXPECT_FALSE(b.DropTail(1));
  EXPECT_FALSE(b.Consume(1));
}

TEST(ByteBufferTest, AppendingItsOwnBytesWhileGrowingCopiesThemCorrectly) {
  ByteBuffer b;
  const std::string text = Pattern(3000);
  b.Append(text);
  b.Append(b.data(), b.size());  // forces growth; the source is the old storage
  EXPECT_EQ(b.view(), text + text);

  ByteBuffer c;
  c.Append(Pattern(4000));
  ASSERT_TRUE(c.Consume(3000));
  c.Append(c.data(), 500);  // forces compaction, which moves the source
  EXPECT_EQ(c.view(), Pattern(4000).substr(3000) + Pattern(4000).substr(3000, 500));
}

TEST(ByteBufferTest, ImpossibleAppendThrowsAndLeavesTheBufferUnchanged) {
  ByteBuffer b;
  b.Append("keep");
  EXPECT_THROW(b.Append(b.data(), static_cast<std::size_t>(-1) / 2), std::bad_alloc);
  EXPECT_EQ(b.view(), "keep");
  EXPECT_EQ(b.capacity(), 4096u);
}

TEST(ByteBufferTest, MoveTransfersTheBytesAndLeavesAUsableBuffer) {
  ByteBuffer a;
  a.Append("hello");
  ByteBuffer b(std::move(a));
  EXPECT_EQ(b.view(), "hello");
  a.Append("again");  // NOLINT(bugprone-use-after-move): moved-from buffers stay usable
  EXPECT_EQ(a.view(), "again");
  b = std::move(a);
  EXPECT_EQ(b.view(), "again");
}

// Records what the storage held at the moment it was handed back.
struct WipeLog {
  static inline int calls = 0;
  static inline bool all_zero = true;
  static void Observe(const char* storage, std::size_t capacity) {
    ++calls;
    all_zero = all_zero && std::all_of(storage, storage + capacity, [](char c) { return c == 0; });
  }
};

TEST(ByteBufferTest, StorageIsZeroedBeforeItIsFreed) {
  WipeLog::calls = 0;
  WipeLog::all_zero = true;
  ByteBuffer::SetWipeObserverForTesting(&WipeLog::Observe);
  {
    ByteBuffer b;
    b.Append("LOGIN secret password");
    b.Append(Pattern(5000));  // growth hands back the first block
    EXPECT_EQ(WipeLog::calls, 1);
    b.Reset();
    EXPECT_EQ(WipeLog::calls, 2);
    EXPECT_TRUE(b.empty());
    b.Append("more secrets");
  }
  ByteBuffer::SetWipeObserverForTesting(nullptr);
  EXPECT_EQ(WipeLog::calls, 3);
  EXPECT_TRUE(WipeLog::all_zero);
}

}  // namespace
}  // namespace kivimap
