// The reply decoder on its own, fed bytes by hand: one reply split at every
// byte, replies fed byte by byte, what a frame leaves for the next one, the
// capacity of the buffer it was given and a length too small for the
// sequence number.
#include <gtest/gtest.h>

#include "GDBReplyDecoder.h"
#include "GdbTestWire.h"

namespace qxsym {
namespace {

using test::Bytes;
using test::ReplyFrame;
using Event = GDBReplyDecoder::Event;

// Data that needs stuffing in many places, and a sequence number that does.
const Bytes kData = {0x10, 0x41, 0x1B, 0x11, 0x00, 0x13, 0xFF, 0x1B, 0x1B, 0x42};
constexpr std::uint16_t kSequence = 0x1B10;

// Feeds `wire` in the pieces that `cuts` names and returns the event and how
// many bytes the decoder took in all.
Event FeedInPieces(GDBReplyDecoder* d, const Bytes& wire, const std::vector<std::size_t>& cuts,
                   std::size_t* taken) {
  Event event = Event::kNeedMore;
  std::size_t from = 0;
  *taken = 0;
  for (std::size_t i = 0; i <= cuts.size(); ++i) {
    const std::size_t to = i < cuts.size() ? cuts[i] : wire.size();
    std::size_t n = d->Feed(wire.data() + from, to - from, &event);
    *taken += n;
    if (event != Event::kNeedMore) break;
    EXPECT_EQ(n, to - from) << "a piece was left over inside the frame";
    from = to;
  }
  return event;
}

TEST(ReplyDecoderTest, OneReplySplitAtEveryByte) {
  for (bool sequence_mode : {false, true}) {
    const Bytes wire = sequence_mode ? ReplyFrame(0, kData, kSequence) : ReplyFrame(0, kData);
    for (std::size_t cut = 0; cut <= wire.size(); ++cut) {
      Bytes out(kData.size(), 0);
      GDBReplyDecoder d(sequence_mode, out.data(), static_cast<std::uint32_t>(out.size()));
      std::size_t taken = 0;
      ASSERT_EQ(FeedInPieces(&d, wire, {cut}, &taken), Event::kFrame) << cut;
      EXPECT_EQ(taken, wire.size());
      const GDBReplyFrame& f = d.frame();
      EXPECT_TRUE(f.checksum_ok) << cut;
      EXPECT_EQ(f.status, 0);
      EXPECT_EQ(f.sequence, sequence_mode ? kSequence : 0);
      EXPECT_EQ(f.length, kData.size());
      EXPECT_FALSE(f.dropped());
      EXPECT_EQ(Bytes(f.data, f.data + f.stored), kData) << cut;
    }
  }
}

TEST(ReplyDecoderTest, ByteByByteEqualsAllAtOnceAndLeavesTheNextFrame) {
  const Bytes first = ReplyFrame(3, kData, kSequence);
  const Bytes second = ReplyFrame(0, {0x1B}, 7, /*bad_checksum=*/true);
  const Bytes wire = test::Cat({first, second});
  Bytes out(64, 0);
  GDBReplyDecoder d(true, out.data(), static_cast<std::uint32_t>(out.size()));
  Event event = Event::kNeedMore;
  std::size_t at = 0;
  while (event == Event::kNeedMore) at += d.Feed(wire.data() + at, 1, &event);
  EXPECT_EQ(event, Event::kFrame);
  EXPECT_EQ(at, first.size());
  EXPECT_EQ(d.frame().status, 3);
  // A finished frame takes nothing more until Next.
  EXPECT_EQ(d.Feed(wire.data() + at, wire.size() - at, &event), 0u);
  EXPECT_EQ(event, Event::kFrame);
  d.Next();
  EXPECT_EQ(d.Feed(wire.data() + at, wire.size() - at, &event), second.size());
  EXPECT_EQ(event, Event::kFrame);
  EXPECT_FALSE(d.frame().checksum_ok);
  EXPECT_EQ(d.frame().sequence, 7);
  EXPECT_EQ(Bytes(d.frame().data, d.frame().data + d.frame().stored), Bytes{0x1B});
}

TEST(ReplyDecoderTest, DataBeyondTheBufferIsCheckedThenDropped) {
  const Bytes wire = ReplyFrame(0, kData);
  Bytes out(4 + 8, 0xEE);
  GDBReplyDecoder d(false, out.data(), 4);
  Event event{};
  EXPECT_EQ(d.Feed(wire.data(), wire.size(), &event), wire.size());
  ASSERT_EQ(event, Event::kFrame);
  EXPECT_TRUE(d.frame().checksum_ok);
  EXPECT_TRUE(d.frame().dropped());
  EXPECT_EQ(d.frame().stored, 4u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Bytes(kData.begin(), kData.begin() + 4));
  for (std::size_t i = 4; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << i;
}

TEST(ReplyDecoderTest, RawControlBytesAreDataAndTheChecksumIsChecked) {
  // The client does not resynchronise on a start byte: 0x10, 0x11 and 0x13
  // sent raw are data like any other byte.
  const Bytes wire = {0x04, 0x00, 0x00, 0x10, 0x11, 0x13, 0x38};
  Bytes out(8, 0);
  GDBReplyDecoder d(false, out.data(), 8);
  Event event{};
  EXPECT_EQ(d.Feed(wire.data(), wire.size(), &event), wire.size());
  ASSERT_EQ(event, Event::kFrame);
  EXPECT_TRUE(d.frame().checksum_ok);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{0x10, 0x11, 0x13}));
  Bytes spoilt = wire;
  spoilt.back() = 0x39;
  d.Next();
  d.Feed(spoilt.data(), spoilt.size(), &event);
  ASSERT_EQ(event, Event::kFrame);
  EXPECT_FALSE(d.frame().checksum_ok);
}

TEST(ReplyDecoderTest, LengthTooSmallForTheSequenceNumberStopsAfterTheStatus) {
  for (std::uint8_t length : {0x01, 0x02}) {
    const Bytes wire = {length, 0x00, 0x00, 0x05, 0x00, 0x55};
    Bytes out(8, 0);
    GDBReplyDecoder d(true, out.data(), 8);
    Event event{};
    EXPECT_EQ(d.Feed(wire.data(), wire.size(), &event), 3u) << int{length};
    EXPECT_EQ(event, Event::kBadLength);
  }
  // Without sequence numbers a length of 0 wraps to 65535 data bytes.
  Bytes out(1, 0);
  GDBReplyDecoder d(false, out.data(), 1);
  const Bytes head = {0x00, 0x00, 0x00};
  Event event{};
  EXPECT_EQ(d.Feed(head.data(), head.size(), &event), 3u);
  EXPECT_EQ(event, Event::kNeedMore);
  EXPECT_TRUE(d.in_frame());
}

TEST(ReplyDecoderTest, EmptyReplyAndEscapeAsTheLastByteOfAPiece) {
  const Bytes wire = ReplyFrame(0x1B, {});
  GDBReplyDecoder d(false, nullptr, 0);
  Event event{};
  EXPECT_EQ(d.Feed(wire.data(), 3, &event), 3u);  // 01 00 1B
  EXPECT_EQ(event, Event::kNeedMore);
  EXPECT_EQ(d.Feed(wire.data() + 3, wire.size() - 3, &event), wire.size() - 3);
  ASSERT_EQ(event, Event::kFrame);
  EXPECT_EQ(d.frame().status, 0x1B);
  EXPECT_EQ(d.frame().length, 0u);
  EXPECT_TRUE(d.frame().checksum_ok);
}

}  // namespace
}  // namespace qxsym
