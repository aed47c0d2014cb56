// The TCP port against a fake controller on 127.0.0.1: buffered receive,
// time-outs versus a closed peer, the transmit limit, connect failures and
// the process-wide lock.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>

#include "CTCPComPort.h"
#include "FakeController.h"

namespace qxsym {
namespace {

using test::Bytes;
using test::FakeConnection;

class TcpPortTest : public ::testing::Test {
 protected:
  void TearDown() override {
    port_.Close();
    fake_.Stop();
  }
  void Open(std::uint16_t timeout_ms = 1000) {
    ASSERT_TRUE(fake_.Start());
    const QXSymServerAddress address = fake_.Address(timeout_ms);
    ASSERT_TRUE(port_.Open(&address));
    ASSERT_TRUE(port_.connected());
  }

  test::FakeController fake_;
  CTCPComPort port_;
};

TEST_F(TcpPortTest, ReceivesBlocksSplitAcrossReads) {
  Bytes data(5000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 13);
  fake_.Send(data);
  Open();
  Bytes got(5000);
  EXPECT_TRUE(port_.Receive(got.data(), 1000, 0));
  ASSERT_TRUE(port_.Receive(got.data(), 1000, 1));
  ASSERT_TRUE(port_.Receive(got.data() + 1, 1000, 4999));
  EXPECT_EQ(got, data);
}

TEST_F(TcpPortTest, SilentPeerTimesOutAndStaysConnected) {
  Open();
  std::uint8_t b = 0;
  EXPECT_FALSE(port_.Receive(&b, 30, 1));
  EXPECT_TRUE(port_.connected());
}

TEST_F(TcpPortTest, ClosedPeerDisconnects) {
  fake_.Send({1, 2});
  fake_.Hangup();
  Open();
  std::uint8_t b[3] = {};
  EXPECT_FALSE(port_.Receive(b, 1000, 3));
  EXPECT_EQ(b[0], 1);
  EXPECT_EQ(b[1], 2);
  EXPECT_FALSE(port_.connected());
  // Nothing more works once the connection is gone.
  EXPECT_FALSE(port_.Append(b, 1));
  EXPECT_FALSE(port_.Flush());
  EXPECT_FALSE(port_.Receive(b, 10, 0));
}

TEST_F(TcpPortTest, AppendStopsBelowTheBufferSizeAndKeepsPendingBytes) {
  Open();
  const Bytes hundred(100, 'a');
  const Bytes big(4000, 'b');
  ASSERT_TRUE(port_.Append(hundred.data(), 100));
  EXPECT_FALSE(port_.Append(big.data(), 4000));
  EXPECT_FALSE(port_.Append(big.data(), -1));
  ASSERT_TRUE(port_.Append(big.data(), 3995));  // 4095 pending: the most
  EXPECT_FALSE(port_.Append(big.data(), 1));
  port_.Clear();
  ASSERT_TRUE(port_.Append(hundred.data(), 100));
  ASSERT_TRUE(port_.Flush());
  ASSERT_TRUE(fake_.WaitForReceived(100));
  EXPECT_EQ(fake_.received(), hundred);
}

TEST_F(TcpPortTest, ClearDropsBufferedInput) {
  fake_.Send({1, 2, 3});
  Open();
  std::uint8_t b = 0;
  ASSERT_TRUE(port_.Receive(&b, 1000, 1));
  port_.Clear();
  EXPECT_FALSE(port_.Receive(&b, 30, 1));
  EXPECT_TRUE(port_.connected());
}

TEST_F(TcpPortTest, CloseReportsWhetherASocketWasOpen) {
  CTCPComPort never;
  EXPECT_EQ(never.Close(), -1);
  Open();
  EXPECT_EQ(port_.Close(), 0);
  EXPECT_EQ(port_.Close(), -1);
  std::uint8_t b = 0;
  EXPECT_FALSE(port_.Append(&b, 1));
}

// A host name goes through the resolver (on its helper thread) and reaches
// the same peer as its dotted address.
TEST_F(TcpPortTest, HostNameIsResolvedWithinTheTimeout) {
  ASSERT_TRUE(fake_.Start());
  QXSymServerAddress address = fake_.Address(2000);
  std::snprintf(address.ip, sizeof address.ip, "localhost");
  ASSERT_TRUE(port_.Open(&address));
  EXPECT_TRUE(port_.connected());
}

TEST_F(TcpPortTest, BadAddressesFailWithoutASocket) {
  EXPECT_FALSE(port_.Open(nullptr));
  QXSymServerAddress address{};
  EXPECT_FALSE(port_.Open(&address));  // empty host
  EXPECT_EQ(port_.Close(), -1);
}

// Each connection has a lock of its own: holding one port's lock leaves every
// other port free, and a second taker of the same lock gives up after its
// time-out instead of waiting for ever.
TEST(TcpPortLockTest, EachPortHasItsOwnBoundedLock) {
  CTCPComPort a, b;
  ASSERT_TRUE(a.Lock(2000));
  EXPECT_TRUE(b.Lock(0));
  auto other_thread = std::async(std::launch::async, [&a] { return a.Lock(50); });
  EXPECT_FALSE(other_thread.get());
  ASSERT_TRUE(a.Unlock());
  ASSERT_TRUE(b.Unlock());
  EXPECT_TRUE(std::async(std::launch::async, [&a] { return a.Lock(0) && a.Unlock(); }).get());
}

// A listener whose accept queue is full drops new connection requests, so
// a connect to it never completes: it stands in for an unreachable host.
TEST(TcpPortConnectTest, UnansweredConnectGivesUpAfterTheTimeout) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(addr);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)), 0);
  ASSERT_EQ(::listen(listener, 0), 0);
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  std::vector<int> fillers;
  bool full = false;
  for (int i = 0; i < 16 && !full; ++i) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    fillers.push_back(s);
    ::connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof(addr));
    pollfd p{s, POLLOUT, 0};
    full = ::poll(&p, 1, 200) == 0;
  }
  if (full) {
    QXSymServerAddress address{};
    std::snprintf(address.ip, sizeof(address.ip), "127.0.0.1");
    address.port = ntohs(addr.sin_port);
    address.timeout = 200;
    CTCPComPort port;
    auto opened = std::async(std::launch::async, [&] { return port.Open(&address); });
    ASSERT_EQ(opened.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(opened.get());
    EXPECT_EQ(port.Close(), -1);
  }
  for (int s : fillers) ::close(s);
  ::close(listener);
  if (!full) GTEST_SKIP() << "the accept queue never filled";
}

}  // namespace
}  // namespace qxsym
