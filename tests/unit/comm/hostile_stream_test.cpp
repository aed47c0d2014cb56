// Hostile byte streams from the peer: garbage, truncated frames, huge
// announced lengths and nonsense fragment fields must end in a result code,
// with nothing written past the caller's buffer and the port unlocked.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <set>

#include "CGDBCommunication.h"
#include "CMemoryComPort.h"
#include "GdbTestWire.h"

namespace qxsym {
namespace {

using test::Bytes;
using test::Cat;
using test::Le16;
using test::Le32;
using test::ReplyFrame;

// Undoes the stuffing of a flushed request frame and returns its sequence
// field (0 when too short).
std::uint16_t SequenceOf(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const Bytes plain = test::Unstuff(data + 1, size - 1);
  return plain.size() >= 4 ? test::GetLe16(plain, 2) : 0;
}

class Mischief {
 public:
  explicit Mischief(std::uint32_t seed) : rng_(seed) {
    ack_ = Next(2) == 0;
    seq_ = Next(2) == 0;
  }

  // The handshake answers that put the client into this peer's modes.
  Bytes Handshake(int step) const {
    if (step == 0)
      return Cat({Bytes{'+'}, ReplyFrame(0, {static_cast<std::uint8_t>(ack_ ? 0 : 1)})});
    return Cat(
        {ack_ ? Bytes{'+'} : Bytes{}, ReplyFrame(0, {static_cast<std::uint8_t>(seq_ ? 0 : 1)})});
  }
  bool ack() const { return ack_; }
  bool seq() const { return seq_; }

  std::uint32_t Next(std::uint32_t n) { return n == 0 ? 0 : rng_() % n; }

  Bytes Random(std::size_t n) {
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(rng_());
    return out;
  }

  // Something between noise and a well-formed reply to a frame carrying
  // `sequence`.
  Bytes Answer(std::uint16_t sequence) {
    // Mostly in the negotiated modes, so that the deeper paths are reached.
    const bool seq = Next(10) == 0 ? !seq_ : seq_;
    const std::uint16_t s = Next(6) == 0 ? static_cast<std::uint16_t>(rng_()) : sequence;
    const std::uint8_t status = Next(4) == 0 ? static_cast<std::uint8_t>(Next(25)) : 0;
    Bytes data;
    switch (Next(6)) {
      case 0:
        return Random(Next(64));
      case 1:  // a fragment acknowledgement with random fields
        data = Cat({Le16(0xFDEB), Random(10), Le32(Next(3)), Le32(Next(2) ? Next(3000) : rng_())});
        data.resize(Next(24));
        break;
      case 2: {  // a reply fragment with random fields
        const Bytes body = Random(Next(1200));
        data = Cat({Le16(0xFDE8), Random(10), Le32(Next(3)), Le32(Next(2) ? Next(5000) : rng_()),
                    Random(4), Le32(Next(2) ? static_cast<std::uint32_t>(body.size()) : Next(2000)),
                    Random(1), body});
        break;
      }
      case 3:  // an announced length far beyond what follows
        if (Next(2) == 0) return Cat({Bytes{0xFF, 0xFF, 0x00}, Random(Next(100))});
        data = Random(2);
        break;
      default:
        data = Random(Next(300));
        if (data.size() >= 2 && Next(2)) {
          data[0] = 5;
          data[1] = 0;
        }
    }
    Bytes frame = ReplyFrame(status, data, seq ? std::optional<std::uint16_t>(s) : std::nullopt,
                             Next(10) == 0, Next(10) == 0 ? static_cast<int>(Next(5)) - 2 : 0);
    if (Next(10) == 0) frame.resize(Next(static_cast<std::uint32_t>(frame.size()) + 1));
    Bytes ack;
    if (ack_) ack = Next(10) == 0 ? Random(1) : Bytes{'+'};
    return Cat({ack, frame});
  }

 private:
  std::mt19937 rng_;
  bool ack_ = false;
  bool seq_ = false;
};

bool GuardIntact(const Bytes& buffer, std::size_t from) {
  return std::all_of(buffer.begin() + static_cast<std::ptrdiff_t>(from), buffer.end(),
                     [](std::uint8_t b) { return b == 0xEE; });
}

TEST(HostileStreamTest, RandomAnswersEndInAResultCode) {
  const std::set<int> transact_results = {
      symResOk,           symResProtocolError,     symResSocketError,
      symResTimeoutError, symResSegmentationError, symResNotOk};
  const std::set<int> read_results = {symResOk, symResTimeoutError, symResConnectionLost,
                                      symResMemReadError};
  const std::set<int> variable_results = {symResOk, symResInvalidBuffer, symResInvalidParameter,
                                          symResTimeoutError, symResMemReadError};
  for (std::uint32_t seed = 1; seed <= 500; ++seed) {
    Mischief m(seed);
    auto port = std::make_shared<CMemoryComPort>();
    ASSERT_TRUE(port->Open(nullptr));
    port->set_record_sent(false);
    port->set_max_block(1 + m.Next(64));
    CMemoryComPort* raw = port.get();
    const std::uint32_t close_after = 2 + m.Next(60);
    std::uint32_t flushes = 0;
    port->SetPeer([&m, raw, close_after, &flushes](const std::uint8_t* data, std::size_t size) {
      if (size <= 1) return;  // an acknowledgement from the client
      if (flushes < 2) {
        raw->Feed(m.Handshake(static_cast<int>(flushes++)));
        return;
      }
      if (++flushes == close_after) raw->ClosePeer();
      raw->Feed(m.Answer(SequenceOf(data, size)));
      if (m.Next(5) == 0) raw->Feed(m.Answer(SequenceOf(data, size)));
    });
    CGDBCommunication channel;
    ASSERT_TRUE(channel.OpenOnPort(port, 5));
    ASSERT_EQ(channel.ack_mode(), m.ack());
    ASSERT_EQ(channel.sequence_mode(), m.seq());

    for (int op = 0; op < 12; ++op) {
      const std::uint32_t capacity = 1 + m.Next(2500);
      Bytes response(capacity + 64u, 0xEE);
      switch (m.Next(3)) {
        case 0: {
          Bytes request = m.Random(2 + m.Next(3000));
          if (m.Next(2) == 0) request[0] = 5, request[1] = 0;  // the code most answers carry
          std::uint32_t size = capacity;
          const QXSymResult r = channel.Transact(
              request.data(), static_cast<std::uint32_t>(request.size()), response.data(), &size);
          EXPECT_TRUE(transact_results.count(r)) << "seed " << seed << " result " << r;
          EXPECT_LE(size, capacity);
          break;
        }
        case 1: {
          const auto size = static_cast<std::int32_t>(std::min<std::uint32_t>(capacity, 2100));
          const QXSymResult r = channel.ReadMemory(0x1000, size, response.data());
          EXPECT_TRUE(read_results.count(r)) << "seed " << seed << " result " << r;
          EXPECT_TRUE(GuardIntact(response, static_cast<std::size_t>(size)));
          continue;
        }
        default: {
          const auto size = static_cast<std::uint16_t>(std::min<std::uint32_t>(capacity, 300));
          const QXSymResult r = channel.ReadVariable(1, 0, response.data(), size, 3);
          EXPECT_TRUE(variable_results.count(r)) << "seed " << seed << " result " << r;
          EXPECT_TRUE(GuardIntact(response, size));
          continue;
        }
      }
      EXPECT_TRUE(GuardIntact(response, capacity)) << "seed " << seed;
      EXPECT_EQ(port->lock_depth(), 0);
    }
    EXPECT_EQ(port->lock_depth(), 0);
    if (HasFailure()) break;
  }
}

class ScriptedChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(port_->Open(nullptr));
    // No answers to the handshakes: acknowledgements on, sequence numbers off.
    ASSERT_TRUE(channel_.OpenOnPort(port_, 5));
    ASSERT_TRUE(channel_.ack_mode());
    ASSERT_FALSE(channel_.sequence_mode());
  }
  // Each flushed frame (not acknowledgements) is answered by the next entry.
  void Answers(std::vector<Bytes> answers) {
    answers_ = std::move(answers);
    port_->SetPeer([this](const std::uint8_t*, std::size_t size) {
      if (size > 1 && next_ < answers_.size()) port_->Feed(answers_[next_++]);
    });
  }
  QXSymResult Transact(std::size_t request_size, std::uint32_t capacity) {
    Bytes request(request_size, 0x33);
    Bytes response(capacity + 64u, 0xEE);
    std::uint32_t size = capacity;
    const QXSymResult r = channel_.Transact(
        request.data(), static_cast<std::uint32_t>(request.size()), response.data(), &size);
    EXPECT_TRUE(GuardIntact(response, capacity));
    EXPECT_EQ(port_->lock_depth(), 0);
    return r;
  }

  std::shared_ptr<CMemoryComPort> port_ = std::make_shared<CMemoryComPort>();
  CGDBCommunication channel_;
  std::vector<Bytes> answers_;
  std::size_t next_ = 0;
};

TEST_F(ScriptedChannel, HugeAnnouncedReplyLengthRunsOutAsATimeout) {
  Answers({Cat({Bytes{'+', 0xFF, 0xFF, 0x00}, Bytes(5000, 0x41)})});
  EXPECT_EQ(Transact(10, 100), symResTimeoutError);
  EXPECT_EQ(channel_.last_error(), 15);
}

TEST_F(ScriptedChannel, HugeFragmentTotalBreaksTheTransfer) {
  const Bytes fragment = Cat({Le16(0xFDE8), Bytes(10, 0), Le32(1), Le32(0xFFFFFFFFu), Bytes(4, 0),
                              Le32(100), Bytes{0}, Bytes(100, 7)});
  Answers({Cat({Bytes{'+'}, ReplyFrame(0, fragment)})});
  EXPECT_EQ(Transact(10, 0xFFFFFFFFu / 4096), symResSegmentationError);
}

TEST_F(ScriptedChannel, AcknowledgementOffsetBeyondTheRequestBreaksTheTransfer) {
  const Bytes ack = Cat({Le16(0xFDEB), Bytes(10, 0), Le32(0), Le32(0xFFFFFFFFu)});
  Answers({Cat({Bytes{'+'}, ReplyFrame(0, ack)})});
  EXPECT_EQ(Transact(1500, 100), symResSegmentationError);
}

TEST_F(ScriptedChannel, AcknowledgementWithAnotherCodeBreaksTheTransfer) {
  const Bytes ack = Cat({Le16(0xFDEC), Bytes(10, 0), Le32(0), Le32(997)});
  Answers({Cat({Bytes{'+'}, ReplyFrame(0, ack)})});
  EXPECT_EQ(Transact(1500, 100), symResSegmentationError);
}

TEST_F(ScriptedChannel, EmptyReplyFragmentsBreakTheTransfer) {
  const auto fragment = [](std::uint32_t length) {
    return Cat({Le16(0xFDE8), Bytes(10, 0), Le32(1), Le32(50), Bytes(4, 0), Le32(length), Bytes{0},
                Bytes(length, 9)});
  };
  Answers({Cat({Bytes{'+'}, ReplyFrame(0, fragment(10))}),
           Cat({Bytes{'+'}, ReplyFrame(0, fragment(0))})});
  EXPECT_EQ(Transact(10, 100), symResSegmentationError);
}

TEST_F(ScriptedChannel, GarbageInsteadOfAnAcknowledgementFailsTheSend) {
  Answers({Bytes{0x00, 0x01, 0x02}});
  EXPECT_EQ(Transact(10, 100), symResSocketError);
  EXPECT_EQ(channel_.last_error(), 14);
}

TEST_F(ScriptedChannel, TinyRequestsAndMissingPointersAreRefused) {
  std::uint8_t buffer[8] = {1, 0};
  std::uint32_t size = sizeof(buffer);
  EXPECT_EQ(channel_.Transact(buffer, 1, buffer, &size), symResInvalidParameter);
  EXPECT_EQ(channel_.Transact(nullptr, 4, buffer, &size), symResInvalidParameter);
  EXPECT_EQ(channel_.Transact(buffer, 4, nullptr, &size), symResInvalidParameter);
  EXPECT_EQ(channel_.Transact(buffer, 4, buffer, nullptr), symResInvalidParameter);
  EXPECT_EQ(channel_.ReadVariable(1, 0, nullptr, 4, 0), symResInvalidParameter);
  EXPECT_EQ(channel_.WriteVariable(1, 0, nullptr, 4, 0), symResInvalidParameter);
  EXPECT_EQ(channel_.sequence(), 0);
}

}  // namespace
}  // namespace qxsym
