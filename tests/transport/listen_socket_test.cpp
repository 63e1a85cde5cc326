#include "transport/listen_socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "transport/connection_test_support.h"

namespace kivimap::testing {
namespace {

class CountingOwner final : public transport::ListenOwner {
 public:
  int accepts = 0;
  void OnAcceptReady() override { ++accepts; }
};

TEST(ListenSocketTest, OnlyAcceptNotificationsReachTheOwner) {
  CountingOwner owner;
  transport::CkivListenSocket listener(&owner);
  for (const std::uint16_t kind : std::initializer_list<std::uint16_t>{
           NotifyRead, NotifyWrite, NotifyConnect, NotifyClose, 4, 64}) {
    listener.OnNotification(kind, 0);
  }
  EXPECT_EQ(owner.accepts, 0);
  listener.OnNotification(NotifyAccept, 10061);
  EXPECT_EQ(owner.accepts, 1) << "the error code is not looked at";
}

TEST(ListenSocketTest, AcceptsWaitingConnectionsWithThePeersAddress) {
  CountingOwner owner;
  transport::CkivListenSocket listener(&owner);
  ASSERT_EQ(listener.Bind(htonl(INADDR_LOOPBACK), 0), 0);
  ASSERT_EQ(listener.Listen(SOMAXCONN), 0);
  std::uint32_t peer = 0;
  EXPECT_EQ(listener.Accept(&peer), -1) << "nobody waits yet";

  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(listener.LocalPort());
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_TRUE(PumpUntil([&] { return owner.accepts > 0; }));
  const int accepted = listener.Accept(&peer);
  EXPECT_GE(accepted, 0);
  EXPECT_EQ(peer, htonl(INADDR_LOOPBACK));
  ::close(accepted);
  ::close(client);
}

TEST(ListenSocketTest, BindReportsThePlatformError) {
  CountingOwner owner;
  transport::CkivListenSocket first(&owner);
  ASSERT_EQ(first.Bind(htonl(INADDR_LOOPBACK), 0), 0);
  ASSERT_EQ(first.Listen(1), 0);
  transport::CkivListenSocket second(&owner);
  EXPECT_EQ(second.Bind(htonl(INADDR_LOOPBACK), htons(first.LocalPort())), EADDRINUSE);
  EXPECT_EQ(second.LocalPort(), 0);
}

class AcceptingOwner final : public transport::ListenOwner {
 public:
  transport::CkivListenSocket* listener = nullptr;
  int calls = 0;
  int accepted = -1;
  void OnAcceptReady() override {
    ++calls;
    std::uint32_t peer = 0;
    accepted = listener->Accept(&peer);
  }
};

// Running out of descriptors must not turn the level-triggered Accept into a busy loop: the
// listener pauses, and picks the waiting connection up once a descriptor is free again.
TEST(ListenSocketTest, PausesWhileNoDescriptorIsLeftThenAcceptsTheWaitingConnection) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizers need descriptors of their own to check calls; the optimised "
                  "build runs this test";
#endif
  AcceptingOwner owner;
  transport::CkivListenSocket listener(&owner);
  owner.listener = &listener;
  ASSERT_EQ(listener.Bind(htonl(INADDR_LOOPBACK), 0), 0);
  ASSERT_EQ(listener.Listen(SOMAXCONN), 0);
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(listener.LocalPort());
  ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  std::vector<int> hog;
  for (int fd; (fd = ::dup(client)) >= 0;) hog.push_back(fd);
  ASSERT_EQ(errno, EMFILE);
  for (int i = 0; i < 30; ++i) EventLoop::ForThisThread().RunOnce(5);
  EXPECT_TRUE(listener.paused());
  EXPECT_LE(owner.calls, 3) << "the waiting connection was offered again without a pause";
  EXPECT_LT(owner.accepted, 0);

  for (const int fd : hog) ::close(fd);
  ASSERT_TRUE(PumpUntil([&] { return owner.accepted >= 0; }));
  EXPECT_FALSE(listener.paused());
  ::close(owner.accepted);
  ::close(client);
}

}  // namespace
}  // namespace kivimap::testing
