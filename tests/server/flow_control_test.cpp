// Flow control of a running server: output held within the water marks for a client that does
// not read, parked commands streaming to a slow reader, the hard limit, faults at the
// notification boundary, and a host's nested loop round inside an event.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "server/server_test_support.h"
#include "store/user.h"

// Allocation failure on demand: armed from inside a host event, it makes the next allocation of
// the engine throw, as a full heap would.
namespace {
thread_local bool fail_next_allocation = false;
}  // namespace

// The replacements pair with each other: malloc behind new, free behind delete.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
  if (fail_next_allocation) {
    fail_next_allocation = false;
    throw std::bad_alloc();
  }
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace kivimap::testing {
namespace {

store::ImapUser& Engine(const Ref<IImapUser>& user) {
  return dynamic_cast<store::ImapUser&>(*user);
}

std::string Answers(int from, int to) {
  std::string out;
  // Appended piece by piece: g++ 12 warns wrongly about chains of + on strings.
  for (int i = from; i < to; ++i) {
    out.append("* CAPABILITY IMAP4REV1 AUTH=LOGIN\r\na").append(std::to_string(i));
    out.append(" OK CAPABILITY completed\r\n");
  }
  return out;
}

std::string Commands(int from, int to) {
  std::string out;
  for (int i = from; i < to; ++i)
    out.append("a").append(std::to_string(i)).append(" CAPABILITY\r\n");
  return out;
}

// A client that sends commands worth megabytes of answers and reads nothing: the server stops
// taking its commands at the high-water mark, holding at most one response more, and reads no
// more of its socket; once the client reads, every answer arrives, in order.
TEST(FlowControlTest, AClientThatDoesNotReadHoldsTheServerAtItsHighWaterMark) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  const OutputLimits limits = server->GetOutputLimits();
  EXPECT_EQ(limits.high_water, 256u * 1024);
  EXPECT_EQ(limits.low_water, 64u * 1024);
  EXPECT_EQ(limits.hard_limit, 16u * 1024 * 1024);
  Client client(server.port, /*receive_buffer=*/4096);
  EXPECT_EQ(client.Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
  const int count = 60000;  // about 4 MB of answers
  const std::string commands = Commands(0, count);
  std::size_t sent = 0;
  auto* connection = Engine(server.User(0)).connection();
  ASSERT_TRUE(Pump([&] {
    sent = client.SendSome(commands, sent);
    return connection->reading_paused();
  }));
  for (int i = 0; i < 50; ++i) {
    sent = client.SendSome(commands, sent);
    EventLoop::ForThisThread().RunOnce(1);
  }
  const std::size_t one_response = Answers(count - 1, count).size();
  EXPECT_GE(connection->held_output(), limits.high_water);
  EXPECT_LE(connection->held_output(), limits.high_water + one_response);
  EXPECT_TRUE(connection->reading_paused());

  const std::string expected = Answers(0, count);
  std::string got;
  std::size_t max_held = 0;
  ASSERT_TRUE(Pump(
      [&] {
        sent = client.SendSome(commands, sent);
        got += client.Read(expected.size() - got.size(), 65536, 1);
        max_held = std::max(max_held, connection->held_output());
        return got.size() >= expected.size();
      },
      60000));
  EXPECT_TRUE(got == expected) << got.size() << " of " << expected.size() << " bytes";
  EXPECT_LE(max_held, limits.high_water + one_response);
}

#ifdef KIVIMAP_TEST_COMMANDS
std::string Blocks(std::uint64_t n) {
  std::string out;
  out.reserve(n + 16);
  char block[32];
  for (std::uint64_t i = 0; out.size() < n; ++i) {
    std::snprintf(block, sizeof block, "%015" PRIu64 "\n", i);
    out += block;
  }
  out.resize(n);
  return out;
}

// A command that streams 50 MB parks at the high mark and resumes as a slow reader drains: the
// bytes arrive whole and in order, the queue stays bounded, and the command after it waits.
TEST(FlowControlTest, AParkedCommandStreamsFiftyMegabytesToASlowReader) {
  TestServer server;
  ASSERT_EQ(server.Start(), StatusOk);
  Client client(server.port, /*receive_buffer=*/65536);
  EXPECT_EQ(client.Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
  const std::uint64_t total = 50u << 20;
  client.Send("s1 XSTREAM " + std::to_string(total) + "\r\ns2 NOOP\r\n");
  auto* connection = Engine(server.User(0)).connection();
  const std::size_t bound = server->GetOutputLimits().high_water + 16384;

  const std::string head = "* XSTREAM {" + std::to_string(total) + "}\r\n";
  EXPECT_EQ(client.Read(head.size()), head);
  std::string got;
  std::size_t max_held = 0;
  bool parked_seen = false;
  ASSERT_TRUE(Pump(
      [&] {
        got += client.Read(total - got.size(), /*per_round=*/131072, /*limit_ms=*/1);
        max_held = std::max(max_held, connection->held_output());
        parked_seen = parked_seen || connection->parked();
        return got.size() >= total;
      },
      120000));
  EXPECT_TRUE(parked_seen);
  EXPECT_LE(max_held, bound);
  EXPECT_TRUE(got == Blocks(total)) << "the stream is intact and in order";
  const std::string tail = "\r\ns1 OK XSTREAM completed\r\ns2 OK CAPABILITY completed\r\n";
  EXPECT_EQ(client.Read(tail.size()), tail);
}
#endif

// A single response past the hard limit ends that connection, with a line in the debug log;
// the server and other connections go on.
TEST(FlowControlTest, OutputPastTheHardLimitEndsOnlyThatConnection) {
  SinkServer server;
  OutputLimits small;
  small.low_water = 1024;
  small.high_water = 4096;
  small.hard_limit = 65536;
  EXPECT_EQ(server->SetOutputLimits(OutputLimits{1024, 4096, 65536}), StatusInvalidArg);
  ASSERT_EQ(server->SetOutputLimits(small), StatusOk);
  char dir[] = "/tmp/kivimap-limit-XXXXXX";
  ASSERT_NE(::mkdtemp(dir), nullptr);
  const std::string log = std::string(dir) + "/debug.log";
  ASSERT_EQ(server->put_DebugFile(ToWide(log)), StatusOk);
  Client greedy(server.port, /*receive_buffer=*/4096);
  Client other(server);
  EXPECT_EQ(greedy.Read(sizeof kDefaultGreeting - 1), kDefaultGreeting);
  const std::string big(200000, 'x');
  Ref<IImapUser> user = server.User(0);
  EXPECT_EQ(user->Send(ToWide(big)), StatusOk);
  EXPECT_LT(greedy.ReadUntilClosed().size(), big.size());
  EXPECT_TRUE(greedy.closed);
  EXPECT_TRUE(Pump([&] { return server.sink->Count("Disconnected") == 1; }));
  other.Send("b1 NOOP\r\n");
  EXPECT_EQ(other.Read(28), "b1 OK CAPABILITY completed\r\n");
  server->put_DebugFile(u"");
  std::FILE* f = std::fopen(log.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string text(1 << 20, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), f));
  std::fclose(f);
  EXPECT_NE(text.find("* kivimap: connection closed: its queued output passed the output limit"),
            std::string::npos);
  std::remove(log.c_str());
  ::rmdir(dir);
}

// Running out of memory inside a command ends that one connection; the next client is served.
TEST(FlowControlTest, OutOfMemoryInACommandClosesOneConnection) {
  SinkServer server;
  server.sink->on_event = [&](IImapUser*, std::int32_t*, WideString* command) {
    if (command && command->ToNarrow() == "a1 CAPABILITY") fail_next_allocation = true;
  };
  Client victim(server);
  victim.Send("a1 CAPABILITY\r\n");
  EXPECT_EQ(victim.ReadUntilClosed(), "");
  EXPECT_TRUE(victim.closed);
  EXPECT_FALSE(fail_next_allocation) << "the failure was injected";
  Client next(server);
  next.Send("a2 CAPABILITY\r\n");
  EXPECT_EQ(next.Read(Answers(2, 3).size()), Answers(2, 3));
}

// A host that runs a loop round of its own inside Connected (a modal dialog) does not see the
// user's next command run inside it: it waits until LOGIN has returned.
TEST(FlowControlTest, ANestedLoopRoundInsideAnEventDoesNotReenterTheConnection) {
  SinkServer server;
  Client* client = nullptr;
  server.sink->on_event = [&](IImapUser*, std::int32_t*, WideString*) {
    if (server.sink->log.back().rfind("Connected", 0) != 0) return;
    client->Send("a2 NOOP\r\n");
    for (int i = 0; i < 20; ++i) EventLoop::ForThisThread().RunOnce(2);
    server.sink->log.push_back("modal dialog closed");
  };
  Client c(server);
  client = &c;
  c.Send("a1 LOGIN joe secret\r\n");
  EXPECT_EQ(c.Read(51), "a1 OK LOGIN completed\r\na2 OK CAPABILITY completed\r\n");
  const auto& log = server.sink->log;
  const auto at = [&](const std::string& e) { return std::find(log.begin(), log.end(), e); };
  ASSERT_NE(at("Command a2 NOOP"), log.end());
  EXPECT_LT(at("modal dialog closed"), at("Command a2 NOOP"));
}

}  // namespace
}  // namespace kivimap::testing
