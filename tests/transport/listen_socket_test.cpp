#include "transport/listen_socket.h"

#include <cerrno>
#include <chrono>
#include <vector>

#include "transport/transport_test_support.h"

namespace kivimap::testing {
namespace {

// Accepts on every Accept notification, as the server does.
class AcceptingOwner final : public transport::ListenOwner {
 public:
  void OnAcceptReady() override {
    ++calls;
    std::uint32_t peer = 0;
    accepted = ScopedFd(listener.Accept(&peer));
  }
  transport::CkivListenSocket listener{this};
  int calls = 0;
  ScopedFd accepted;
};

// Running out of descriptors must not turn the level-triggered Accept into a busy loop: the
// listener pauses, and picks the waiting connection up once a descriptor is free again.
TEST(ListenSocketTest, PausesWhileNoDescriptorIsLeftThenAcceptsTheWaitingConnection) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers need descriptors of their own to check calls; the optimised "
                  "build runs this test";
#endif
  AcceptingOwner owner;
  ASSERT_EQ(owner.listener.Bind(htonl(INADDR_LOOPBACK), 0), 0);
  ASSERT_EQ(owner.listener.Listen(SOMAXCONN), 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(owner.listener.LocalPort());
  ScopedFd client(socket(AF_INET, SOCK_STREAM, 0));
  ASSERT_TRUE(Connect(client.get(), address));
  std::vector<ScopedFd> hog;
  for (int fd; (fd = dup(client.get())) >= 0;) hog.emplace_back(fd);
  ASSERT_EQ(errno, EMFILE);
  ASSERT_TRUE(RunUntil([&] { return owner.listener.paused(); }));
  // While no descriptor is left the waiting connection is tried once per pause, not in a busy
  // loop; the rounds may take longer than a pause on a loaded machine.
  const auto start = std::chrono::steady_clock::now();
  RunRounds(EventLoop::ForThisThread(), 30);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - start);
  EXPECT_LE(owner.calls, 3 + elapsed.count() / transport::CkivListenSocket::kAcceptPauseMs)
      << "the waiting connection was offered again without a pause";
  EXPECT_LT(owner.accepted.get(), 0);

  hog.clear();
  ASSERT_TRUE(RunUntil([&] { return owner.accepted.get() >= 0; }));
  EXPECT_FALSE(owner.listener.paused());
}

}  // namespace
}  // namespace kivimap::testing
