// The frame codec against an in-memory port: worked encodings byte for byte,
// decoding, acknowledgements, repetitions, stale replies and status mapping.
#include <gtest/gtest.h>

#include <memory>
#include <random>

#include "CGDBFrameCodec.h"
#include "CMemoryComPort.h"
#include "GdbTestWire.h"

namespace qxsym {
namespace {

using test::Bytes;
using test::ReplyFrame;

class FrameCodecTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_.Open(nullptr));
    codec_.set_port(&port_);
    codec_.set_timeout_ms(20);
  }
  void Modes(bool ack, bool seq) {
    codec_.set_ack_mode(ack);
    codec_.set_sequence_mode(seq);
  }
  bool Send(const Bytes& payload) {
    return codec_.SendFrame(payload.data(), static_cast<std::uint16_t>(payload.size()), nullptr, 0);
  }
  // Receives one frame into a buffer of `capacity` bytes followed by guard
  // bytes, and checks that the guard stayed intact.
  int Receive(std::uint16_t capacity, Bytes* data) {
    Bytes buffer(capacity + 16u, 0xEE);
    const int n = codec_.ReceiveFrame(buffer.data(), capacity);
    for (std::size_t i = capacity; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xEE) << i;
    data->assign(buffer.begin(), buffer.begin() + (n > 0 ? n : 0));
    return n;
  }

  CMemoryComPort port_;
  CGDBFrameCodec codec_;
};

TEST_F(FrameCodecTest, HandshakeFramesWithoutSequenceNumbers) {
  Modes(false, false);
  ASSERT_TRUE(Send(test::Text("!S!")));
  EXPECT_EQ(port_.sent(), (Bytes{0x10, 0x03, 0x00, 0x21, 0x53, 0x21, 0x98}));
  port_.ClearSent();
  ASSERT_TRUE(Send(test::Text("!NA!")));
  EXPECT_EQ(port_.sent(), (Bytes{0x10, 0x04, 0x00, 0x21, 0x4E, 0x41, 0x21, 0xD5}));
}

TEST_F(FrameCodecTest, MemoryReadFrameWithSequenceNumber) {
  Modes(false, true);
  codec_.NextSequence();
  ASSERT_TRUE(Send({0x6D, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(port_.sent(), (Bytes{0x10, 0x09, 0x00, 0x01, 0x00, 0x6D, 0x00, 0x1B, 0x50, 0x00, 0x00,
                                 0x1B, 0x50, 0x00, 0x97}));
}

TEST_F(FrameCodecTest, ControlBytesAreStuffedAndCountedUnstuffed) {
  Modes(false, false);
  // 0x11 in the payload: sum = 01 + 00 + 11.
  ASSERT_TRUE(Send({0x11}));
  EXPECT_EQ(port_.sent(), (Bytes{0x10, 0x01, 0x00, 0x1B, 0x51, 0x12}));
  port_.ClearSent();
  // A length of 0x13 and a checksum of 0x13 are stuffed like payload bytes.
  ASSERT_TRUE(Send(Bytes(0x13, 0x00)));
  Bytes expected{0x10, 0x1B, 0x53, 0x00};
  expected.insert(expected.end(), 0x13, 0x00);
  expected.insert(expected.end(), {0x1B, 0x53});
  EXPECT_EQ(port_.sent(), expected);
  port_.ClearSent();
  // Both parts go into one frame; the escape byte itself is stuffed too.
  const std::uint8_t part1[] = {'M', 0x1B};
  const std::uint8_t part2[] = {0x10, 0x42};
  ASSERT_TRUE(codec_.SendFrame(part1, 2, part2, 2));
  EXPECT_EQ(port_.sent(), test::RequestFrame({'M', 0x1B, 0x10, 0x42}));
}

TEST_F(FrameCodecTest, WorkedReplies) {
  Modes(true, true);
  codec_.NextSequence();
  port_.Feed({0x05, 0x00, 0x00, 0x01, 0x00, 0xAA, 0xBB, 0x6A});
  Bytes data;
  ASSERT_EQ(Receive(16, &data), 2);
  EXPECT_EQ(data, (Bytes{0xAA, 0xBB}));
  EXPECT_EQ(port_.sent(), Bytes{'+'});

  Modes(false, false);
  port_.ClearSent();
  port_.Feed({0x02, 0x00, 0x00, 0x00, 0x02});
  ASSERT_EQ(Receive(1, &data), 1);
  EXPECT_EQ(data, Bytes{0x00});
  EXPECT_TRUE(port_.sent().empty());
}

// Replies with every control byte, split across refills of every small size,
// decode to the bytes that were sent.
TEST_F(FrameCodecTest, DecodesAcrossAnyBlockBoundary) {
  Modes(false, true);
  std::mt19937 rng(7);
  for (std::size_t block : {1u, 2u, 3u, 5u, 64u, 100000u}) {
    port_.set_max_block(block);
    for (int round = 0; round < 20; ++round) {
      Bytes payload(rng() % 300);
      for (auto& b : payload)
        b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0x10 + rng() % 12 : rng());
      const std::uint16_t seq = codec_.NextSequence();
      port_.Feed(ReplyFrame(0, payload, seq));
      Bytes data;
      ASSERT_EQ(Receive(300, &data), static_cast<int>(payload.size())) << "block " << block;
      EXPECT_EQ(data, payload);
      EXPECT_EQ(port_.queued(), 0u);
    }
  }
}

TEST_F(FrameCodecTest, RefusesFramesThatDoNotFit) {
  Modes(false, false);
  const std::uint16_t before = codec_.last_error();
  // 4093 payload bytes + 3 reach the frame buffer's size.
  EXPECT_FALSE(Send(Bytes(4093, 0x41)));
  // Small enough unstuffed, but twice as long once stuffed.
  EXPECT_FALSE(Send(Bytes(2100, 0x10)));
  EXPECT_TRUE(port_.sent().empty());
  EXPECT_EQ(codec_.last_error(), before);
  // The port's own limit counts as well.
  port_.set_transmit_limit(10);
  EXPECT_FALSE(Send(Bytes(7, 0x41)));
  EXPECT_TRUE(Send(Bytes(6, 0x41)));
  EXPECT_EQ(port_.sent().size(), 10u);
  port_.set_transmit_limit(4095);
  port_.ClearSent();
  EXPECT_TRUE(Send(Bytes(2000, 0x10)));
  EXPECT_EQ(port_.sent().size(), 1u + 2u + 4000u + 1u);
}

TEST_F(FrameCodecTest, NothingIsSentOnADisconnectedPort) {
  Modes(false, false);
  port_.Shutdown();
  EXPECT_FALSE(Send({'x'}));
  Bytes data;
  EXPECT_EQ(Receive(4, &data), -1);
  EXPECT_TRUE(port_.sent().empty());
}

TEST_F(FrameCodecTest, NegativeAcknowledgementRepeatsTheFrameOnce) {
  Modes(true, false);
  const Bytes frame = test::RequestFrame(test::Text("Yab"));
  port_.Feed(Bytes{'-', '+'});
  EXPECT_TRUE(Send(test::Text("Yab")));
  EXPECT_EQ(port_.sent(), test::Cat({frame, frame}));

  port_.ClearSent();
  port_.Feed(Bytes{'-', '-'});
  EXPECT_FALSE(Send(test::Text("Yab")));
  EXPECT_EQ(codec_.last_error(), 14);
  EXPECT_EQ(port_.sent(), test::Cat({frame, frame}));

  port_.ClearSent();
  port_.Feed(Bytes{'x'});
  EXPECT_FALSE(Send(test::Text("Yab")));
  EXPECT_EQ(codec_.last_error(), 14);
  EXPECT_EQ(port_.sent(), frame);
}

TEST_F(FrameCodecTest, MissingAcknowledgementIsTimeoutOrLostConnection) {
  Modes(true, false);
  EXPECT_FALSE(Send({'a'}));
  EXPECT_EQ(codec_.last_error(), 15);
  port_.ClosePeer();
  EXPECT_FALSE(Send({'a'}));
  EXPECT_EQ(codec_.last_error(), 19);
  EXPECT_FALSE(port_.connected());
}

TEST_F(FrameCodecTest, BadChecksumIsRepeatedOnceThenFails) {
  Modes(true, false);
  port_.Feed(test::Cat({ReplyFrame(0, {1, 2}, {}, true), ReplyFrame(0, {3, 4})}));
  Bytes data;
  ASSERT_EQ(Receive(8, &data), 2);
  EXPECT_EQ(data, (Bytes{3, 4}));
  EXPECT_EQ(port_.sent(), (Bytes{'-', '+'}));

  port_.ClearSent();
  port_.Feed(test::Cat({ReplyFrame(0, {1}, {}, true), ReplyFrame(0, {1}, {}, true)}));
  EXPECT_EQ(Receive(8, &data), -1);
  EXPECT_EQ(codec_.last_error(), 14);
  EXPECT_EQ(port_.sent(), (Bytes{'-', '-'}));
}

TEST_F(FrameCodecTest, StaleReplyIsSkippedWithoutUsingTheRepetition) {
  Modes(true, true);
  for (int i = 0; i < 5; ++i) codec_.NextSequence();
  port_.Feed(
      test::Cat({ReplyFrame(0, {9}, 4), ReplyFrame(0, {7}, 5, true), ReplyFrame(0, {8}, 5)}));
  Bytes data;
  ASSERT_EQ(Receive(4, &data), 1);
  EXPECT_EQ(data, Bytes{8});
  EXPECT_EQ(port_.sent(), (Bytes{'+', '-', '+'}));
}

TEST_F(FrameCodecTest, EndlessStaleRepliesEndInATimeout) {
  Modes(false, true);
  codec_.NextSequence();
  for (int i = 0; i < CGDBFrameCodec::kMaxStaleReplies + 1; ++i) port_.Feed(ReplyFrame(0, {1}, 0));
  port_.Feed(ReplyFrame(0, {2}, 1));
  Bytes data;
  EXPECT_EQ(Receive(4, &data), -1);
  EXPECT_EQ(codec_.last_error(), 15);
}

TEST_F(FrameCodecTest, ReplyStatusBecomesInternalError) {
  Modes(true, false);
  const std::pair<std::uint8_t, std::uint16_t> table[] = {{1, 1},   {6, 6},   {10, 10}, {11, 13},
                                                          {12, 12}, {15, 12}, {19, 12}, {20, 11},
                                                          {21, 12}, {255, 12}};
  for (const auto& [status, error] : table) {
    port_.ClearSent();
    port_.Feed(ReplyFrame(status, {1, 2}));
    Bytes data;
    EXPECT_EQ(Receive(8, &data), -1) << int{status};
    EXPECT_EQ(codec_.last_error(), error) << int{status};
    EXPECT_EQ(codec_.reply_status(), status);
    EXPECT_EQ(port_.sent(), Bytes{'+'});  // the frame itself was sound
  }
}

TEST_F(FrameCodecTest, LongRepliesAreCutToTheCapacity) {
  Modes(false, false);
  port_.Feed(ReplyFrame(0, {1, 2, 3, 4, 5}));
  Bytes data;
  ASSERT_EQ(Receive(2, &data), 2);
  EXPECT_EQ(data, (Bytes{1, 2}));
  EXPECT_EQ(port_.queued(), 0u);  // the rest of the frame was read and dropped
  // With an error status the overflow becomes internal error 11.
  port_.Feed(ReplyFrame(3, {1, 2, 3, 4, 5}));
  EXPECT_EQ(Receive(2, &data), -1);
  EXPECT_EQ(codec_.last_error(), 11);
}

TEST_F(FrameCodecTest, ReplyTooShortForTheSequenceNumber) {
  Modes(false, true);
  port_.Feed({0x02, 0x00, 0x00, 0x01, 0x00, 0x03});
  Bytes data;
  EXPECT_EQ(Receive(8, &data), -1);
  EXPECT_EQ(codec_.last_error(), 15);
}

TEST_F(FrameCodecTest, TruncatedReplyIsTimeoutOrLostConnection) {
  Modes(false, false);
  const Bytes frame = ReplyFrame(0, {0x10, 0x1B, 0x20, 0x30});
  for (std::size_t cut = 0; cut < frame.size(); ++cut) {
    port_.Feed(frame.data(), cut);
    Bytes data;
    EXPECT_EQ(Receive(8, &data), -1) << cut;
    EXPECT_EQ(codec_.last_error(), 15) << cut;
    EXPECT_TRUE(port_.connected());
  }
  port_.Feed(frame.data(), 3);
  port_.ClosePeer();
  Bytes data;
  EXPECT_EQ(Receive(8, &data), -1);
  EXPECT_EQ(codec_.last_error(), 19);
}

TEST_F(FrameCodecTest, NegotiationWithAnInMemoryPeer) {
  // A peer that wants both modes: "+" and a zero byte to each handshake.
  port_.SetPeer([this](const std::uint8_t* data, std::size_t size) {
    if (size > 1) port_.Feed(test::Cat({Bytes{'+'}, ReplyFrame(0, {0})}));
    (void)data;
  });
  codec_.Negotiate();
  EXPECT_TRUE(codec_.ack_mode());
  EXPECT_TRUE(codec_.sequence_mode());
  EXPECT_EQ(codec_.sequence(), 0);
}

}  // namespace
}  // namespace qxsym
