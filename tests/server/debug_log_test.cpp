// The debug log on real files and FIFOs: bytes and order, files that cannot be written, and
// readers that are missing or stop reading, which must never hold up the caller.
#include "server/debug_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace kivimap::server {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A fresh directory under /tmp, removed with what the test left in it.
struct TempDir {
  std::string path;
  std::vector<std::string> names;
  TempDir() {
    char templ[] = "/tmp/kivimap-debuglog-XXXXXX";
    if (::mkdtemp(templ)) path = templ;
  }
  ~TempDir() {
    for (const std::string& name : names) ::unlink(name.c_str());
    ::rmdir(path.c_str());
  }
  std::string File(const std::string& name) {
    names.push_back(path + "/" + name);
    return names.back();
  }
};

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void Log(const std::string& path, std::string_view text) { AppendToDebugLog(ToWide(path), text); }

// Reads from a non-blocking descriptor until `until` holds for what arrived, or 10 s pass.
std::string ReadUntil(int fd, const std::function<bool(const std::string&)>& until) {
  std::string got;
  char buffer[65536];
  const auto deadline = Clock::now() + 10s;
  while (!until(got) && Clock::now() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
  }
  return got;
}

TEST(DebugLogTest, ARegularFileHoldsExactlyWhatWasLoggedWhenTheCallReturns) {
  TempDir dir;
  const std::string path = dir.File("debug.log");
  std::string expected;
  // What each call adds: text stops at its first NUL, and empty text adds nothing.
  const struct {
    std::string_view text;
    std::string_view added;
  } calls[] = {
      {kDebugSessionStart, kDebugSessionStart},
      {"a1 NOOP", "a1 NOOP"},
      {"\r\n", "\r\n"},
      {std::string_view("a1 OK\0hidden", 12), "a1 OK"},
      {std::string_view("\0x", 2), ""},
      {"", ""},
      {kDebugSessionStart, kDebugSessionStart},
  };
  for (const auto& call : calls) {
    Log(path, call.text);
    expected += call.added;
    // No flush: in the normal case the bytes are in the file once the call returns.
    EXPECT_EQ(ReadFile(path), expected) << "after " << call.text;
  }
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "the log holds passwords";

  // The descriptor is kept open, yet a log that was moved away or removed is created anew.
  const std::string moved = dir.File("debug.log.1");
  ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);
  Log(path, "after the move");
  EXPECT_EQ(ReadFile(path), "after the move");
  EXPECT_EQ(ReadFile(moved), expected);
  ASSERT_EQ(::unlink(path.c_str()), 0);
  Log(path, "after removal");
  EXPECT_EQ(ReadFile(path), "after removal");
}

TEST(DebugLogTest, NamesThatCannotBeOpenedAreIgnored) {
  TempDir dir;
  for (const std::string& name : {std::string("/nonexistent-kivimap-dir/debug.log"), dir.path,
                                  std::string(""), std::string("bad\0name", 8)}) {
    Log(name, "a1 NOOP\r\n");
  }
  EXPECT_TRUE(FlushDebugLog(10s));
  const std::string path = dir.File("debug.log");
  Log(path, "still logging");
  EXPECT_EQ(ReadFile(path), "still logging");
}

TEST(DebugLogTest, AFifoWithoutReaderNeitherBlocksNorKeepsBytesForALaterReader) {
  TempDir dir;
  const std::string path = dir.File("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const auto start = Clock::now();
  for (int i = 0; i < 100; ++i) Log(path, "nobody reads this\r\n");
  EXPECT_LT(Clock::now() - start, 1s);

  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  Log(path, "read\r\n");
  EXPECT_EQ(ReadUntil(reader, [](const std::string& got) { return got.size() >= 6; }), "read\r\n");

  // A reader that leaves makes the next write fail with EPIPE; the process must survive it.
  ::close(reader);
  Log(path, "after the reader left\r\n");
  Log(path, "and again\r\n");
  EXPECT_TRUE(FlushDebugLog(10s));
}

TEST(DebugLogTest, AStalledFifoReaderGetsTheKeptBytesInOrderThenTheDroppedCount) {
  TempDir dir;
  const std::string path = dir.File("fifo");
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  const int reader = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);

  // 1000 texts of 16 KiB, each numbered, against a reader that reads nothing for now.
  constexpr int kTexts = 1000;
  constexpr std::size_t kSize = 16 * 1024;
  auto text = [&](int i) {
    std::string t = "[" + std::to_string(i) + "]";
    t.resize(kSize, static_cast<char>('a' + i % 26));
    return t;
  };
  const auto start = Clock::now();
  for (int i = 0; i < kTexts; ++i) Log(path, text(i));
  EXPECT_LT(Clock::now() - start, 5s) << "the calls waited for the reader";

  const std::string marker_end = " bytes dropped]\r\n";
  std::string got = ReadUntil(reader, [&](const std::string& s) {
    return s.size() >= marker_end.size() &&
           s.compare(s.size() - marker_end.size(), marker_end.size(), marker_end) == 0;
  });
  const std::size_t marker = got.find("\r\n[debug log: ");
  ASSERT_NE(marker, std::string::npos) << "no dropped-bytes line after " << got.size() << " bytes";
  ASSERT_EQ(marker % kSize, 0u) << "texts are kept or dropped whole";
  const int kept = static_cast<int>(marker / kSize);
  EXPECT_GT(kept, 0);
  EXPECT_LE(marker, kDebugBacklogLimit + 1024 * 1024) << "backlog plus what the FIFO holds";
  for (int i = 0; i < kept; ++i) {
    ASSERT_TRUE(got.compare(i * kSize, kSize, text(i)) == 0) << "text " << i << " out of order";
  }
  EXPECT_EQ(got.substr(marker),
            "\r\n[debug log: " + std::to_string((kTexts - kept) * kSize) + marker_end);

  // Caught up: the next text is written at once again.
  Log(path, "caught up\r\n");
  EXPECT_EQ(ReadUntil(reader, [](const std::string& s) { return s.size() >= 11; }),
            "caught up\r\n");
  EXPECT_TRUE(FlushDebugLog(10s));
  ::close(reader);
}

TEST(DebugLogTest, ThreadsLoggingAtOnceLoseAndSplitNothing) {
  TempDir dir;
  const std::string path = dir.File("debug.log");
  constexpr int kLines = 300;
  auto line = [](int thread, int i) {
    char text[32];
    std::snprintf(text, sizeof text, "t%d line %d\r\n", thread, i);
    return std::string(text);
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kLines; ++i) Log(path, line(t, i));
    });
  }
  for (std::thread& thread : threads) thread.join();
  ASSERT_TRUE(FlushDebugLog(10s));
  std::istringstream in(ReadFile(path));
  int next[2] = {0, 0};
  for (std::string got; std::getline(in, got);) {
    const int t = got[1] - '0';
    ASSERT_TRUE(t == 0 || t == 1) << got;
    ASSERT_EQ(got + "\n", line(t, next[t]));
    ++next[t];
  }
  EXPECT_EQ(next[0], kLines);
  EXPECT_EQ(next[1], kLines);
}

}  // namespace
}  // namespace kivimap::server
