// The server's frame decoder and reply encoder against the worked encodings
// and against a hand-written client encoder fed in every chunking.
#include <gtest/gtest.h>

#include "FrameDecoder.h"
#include "ReplyEncoder.h"
#include "SimTestWire.h"

namespace qxsym::sim {
namespace {

using test::simwire::Bytes;

// Pushes bytes and returns the bodies of the sound frames.
std::vector<Bytes> Decode(RequestFrameDecoder& d, const Bytes& in, int* bad = nullptr,
                          int* outside = nullptr) {
  std::vector<Bytes> frames;
  for (std::uint8_t b : in) {
    switch (d.Push(b)) {
      case RequestFrameDecoder::Event::kFrame:
        if (d.checksum_ok()) {
          frames.emplace_back(d.body(), d.body() + d.body_size());
        } else if (bad) {
          ++*bad;
        }
        break;
      case RequestFrameDecoder::Event::kFrameAborted:
        if (bad) ++*bad;
        break;
      case RequestFrameDecoder::Event::kOutside:
        if (outside) ++*outside;
        break;
      case RequestFrameDecoder::Event::kInFrame:
        break;
    }
  }
  return frames;
}

TEST(RequestFrameDecoder, DecodesTheWorkedEncodings) {
  RequestFrameDecoder d;
  auto frames = Decode(d, {0x10, 0x03, 0x00, 0x21, 0x53, 0x21, 0x98});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], test::simwire::Text("!S!"));

  frames = Decode(d, {0x10, 0x04, 0x00, 0x21, 0x4E, 0x41, 0x21, 0xD5});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], test::simwire::Text("!NA!"));

  // "m" for 16 bytes at 0x1000, sequence 1: stuffed 0x10 bytes in the payload.
  frames = Decode(d, {0x10, 0x09, 0x00, 0x01, 0x00, 0x6D, 0x00, 0x1B, 0x50, 0x00, 0x00, 0x1B, 0x50,
                      0x00, 0x97});
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Bytes{0x01, 0x00, 0x6D, 0x00, 0x10, 0x00, 0x00, 0x10, 0x00}));
}

TEST(RequestFrameDecoder, RejectsBadChecksumsAndResynchronisesOnAStartByte) {
  RequestFrameDecoder d;
  int bad = 0;
  int outside = 0;
  Bytes in = test::simwire::RequestFrame(test::simwire::Text("!S!"), std::nullopt, 1);
  // Noise between frames, then a frame cut short by the next start byte.
  in.insert(in.end(), {'+', 0x55, 0x10, 0x05, 0x00, 0x59});
  const Bytes good = test::simwire::RequestFrame(test::simwire::Text("Yab"), 7);
  in.insert(in.end(), good.begin(), good.end());
  auto frames = Decode(d, in, &bad, &outside);
  EXPECT_EQ(bad, 2);
  EXPECT_EQ(outside, 2);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0], (Bytes{7, 0, 'Y', 'a', 'b'}));
  EXPECT_FALSE(d.in_frame());
}

TEST(RequestFrameDecoder, ControlBytesSurviveStuffingInAnyChunking) {
  // Every byte value in the payload, and a length of 0x113 whose low byte is stuffed too.
  Bytes payload;
  for (int i = 0; i < 0x111; ++i) payload.push_back(static_cast<std::uint8_t>(i));
  const Bytes frame = test::simwire::RequestFrame(payload, 0x1310);
  for (std::size_t chunk : {1u, 2u, 3u, 7u, 64u, 4096u}) {
    RequestFrameDecoder d;
    std::vector<Bytes> frames;
    for (std::size_t at = 0; at < frame.size(); at += chunk) {
      Bytes part(frame.begin() + at, frame.begin() + std::min(frame.size(), at + chunk));
      for (auto& f : Decode(d, part)) frames.push_back(f);
    }
    ASSERT_EQ(frames.size(), 1u) << "chunk " << chunk;
    ASSERT_EQ(frames[0].size(), payload.size() + 2);
    EXPECT_EQ(frames[0][0], 0x10);
    EXPECT_EQ(frames[0][1], 0x13);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), frames[0].begin() + 2));
  }
}

// Taking plain body bytes in runs, as the session does, yields the same
// frames, bad frames and outside bytes as pushing every byte, in any
// chunking of a stream with stuffed bytes, noise and a cut-short frame.
TEST(RequestFrameDecoder, BodyRunsDecodeLikeSingleBytes) {
  Bytes payload;
  for (int i = 0; i < 600; ++i) payload.push_back(static_cast<std::uint8_t>(i * 37));
  Bytes stream = test::simwire::RequestFrame(payload, 0x1B11);
  stream.insert(stream.end(), {'+', 0x55, 0x10, 0x05, 0x00, 0x59, 0x13});
  const Bytes tail = test::simwire::RequestFrame(test::simwire::Text("Yplain text"), 3);
  stream.insert(stream.end(), tail.begin(), tail.end());

  RequestFrameDecoder single;
  int bad_single = 0, outside_single = 0;
  const auto expected = Decode(single, stream, &bad_single, &outside_single);
  ASSERT_EQ(expected.size(), 2u);

  for (std::size_t chunk : {1u, 2u, 5u, 64u, 4096u}) {
    RequestFrameDecoder d;
    std::vector<Bytes> frames;
    int bad = 0, outside = 0;
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
      const std::size_t end = std::min(stream.size(), at + chunk);
      for (std::size_t i = at; i < end;) {
        if (const std::size_t run = d.TakeBodyRun(stream.data() + i, end - i); run != 0) {
          i += run;
          continue;
        }
        for (auto& f : Decode(d, Bytes{stream[i]}, &bad, &outside)) frames.push_back(f);
        ++i;
      }
    }
    EXPECT_EQ(frames, expected) << "chunk " << chunk;
    EXPECT_EQ(bad, bad_single) << "chunk " << chunk;
    EXPECT_EQ(outside, outside_single) << "chunk " << chunk;
  }
}

TEST(ReplyEncoder, ProducesTheWorkedEncodings) {
  Bytes out;
  const std::uint8_t data[] = {0xAA, 0xBB};
  ASSERT_TRUE(AppendReplyFrame(out, 0, std::uint16_t{1}, data, 2));
  EXPECT_EQ(out, (Bytes{0x05, 0x00, 0x00, 0x01, 0x00, 0xAA, 0xBB, 0x6A}));

  out.clear();
  const std::uint8_t zero = 0;
  ASSERT_TRUE(AppendReplyFrame(out, 0, std::nullopt, &zero, 1));
  EXPECT_EQ(out, (Bytes{0x02, 0x00, 0x00, 0x00, 0x02}));
}

TEST(ReplyEncoder, StuffsEveryFieldAndLeavesTheSequenceOutOfTheChecksum) {
  // Length 0x13, status 0x11, sequence 0x1B10, data bytes that need stuffing.
  Bytes data(16, 0x10);
  Bytes out;
  ASSERT_TRUE(AppendReplyFrame(out, 0x11, std::uint16_t{0x1B10}, data.data(), data.size()));
  std::size_t at = 0;
  auto frame =
      test::simwire::ReadReply([&]() -> int { return at < out.size() ? out[at++] : -1; }, true);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->checksum_ok);
  EXPECT_EQ(frame->status, 0x11);
  EXPECT_EQ(frame->seq, 0x1B10);
  EXPECT_EQ(frame->data, data);
  EXPECT_EQ(at, out.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (out[i] == 0x1B) {
      ++i;
      continue;
    }
    EXPECT_FALSE(NeedsStuffing(out[i])) << "raw control byte at " << i;
  }

  // The injected fault changes only the checksum.
  Bytes bad;
  ASSERT_TRUE(AppendReplyFrame(bad, 0, std::nullopt, data.data(), 4, 1));
  at = 0;
  frame =
      test::simwire::ReadReply([&]() -> int { return at < bad.size() ? bad[at++] : -1; }, false);
  ASSERT_TRUE(frame);
  EXPECT_FALSE(frame->checksum_ok);
}

// Long plain runs, single and adjacent control bytes, control bytes first
// and last: the data comes back whole and the checksum holds.
TEST(ReplyEncoder, DataOfAnyMixRoundTrips) {
  Bytes data{0x1B, 0x10};
  for (int i = 0; i < 3000; ++i) {
    data.push_back(static_cast<std::uint8_t>(i % 7 == 0 ? 0x10 + i % 12 : 0x20 + i % 200));
  }
  data.insert(data.end(), {0x41, 0x42, 0x13});
  Bytes out;
  ASSERT_TRUE(AppendReplyFrame(out, 0, std::uint16_t{7}, data.data(), data.size()));
  std::size_t at = 0;
  auto frame =
      test::simwire::ReadReply([&]() -> int { return at < out.size() ? out[at++] : -1; }, true);
  ASSERT_TRUE(frame);
  EXPECT_TRUE(frame->checksum_ok);
  EXPECT_EQ(frame->data, data);
  EXPECT_EQ(at, out.size());
}

TEST(ReplyEncoder, RefusesDataBeyondOneFrame) {
  Bytes data(kMaxReplyData + 1);
  Bytes out;
  EXPECT_FALSE(AppendReplyFrame(out, 0, std::nullopt, data.data(), data.size()));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(AppendReplyFrame(out, 0, std::uint16_t{0}, data.data(), kMaxReplyData));
}

}  // namespace
}  // namespace qxsym::sim
