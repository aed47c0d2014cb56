// The fragment messages of src/wire against the test-side oracle
// (SimTestWire.h, written from the wire format without src/wire): each pack
// gives the oracle's bytes, each unpack reads the oracle's messages back, and
// malformed messages are refused with the output left as it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "FragmentMessages.h"
#include "SimTestWire.h"

namespace qxsym {
namespace {

using Bytes = std::vector<std::uint8_t>;
namespace simwire = test::simwire;

Bytes Data(std::size_t n) {
  Bytes d(n);
  for (std::size_t i = 0; i < n; ++i) d[i] = static_cast<std::uint8_t>(i * 7 + 1);
  return d;
}

template <typename Pack>
Bytes Packed(std::size_t capacity, Pack pack) {
  Bytes buffer(capacity);
  WireWriter w(buffer.data(), buffer.size());
  pack(w);
  if (!w.ok()) return {};
  buffer.resize(w.size());
  return buffer;
}

gdb::Fragment MakeFragment(const Bytes& data, std::uint32_t offset, bool last) {
  gdb::Fragment f;
  f.transfer = 0x01020304;
  f.total = 0x00012345;
  f.offset = offset;
  f.length = static_cast<std::uint32_t>(data.size());
  f.last = last;
  f.data = data.data();
  return f;
}

TEST(FragmentMessagesTest, CodesAgreeWithTheOracle) {
  EXPECT_EQ(gdb::kCodeReplyFragment, simwire::kReplyFragment);
  EXPECT_EQ(gdb::kCodeReplyFragmentAck, simwire::kReplyFragmentAck);
  EXPECT_EQ(gdb::kCodeRequestFragment, simwire::kRequestFragment);
  EXPECT_EQ(gdb::kCodeFragmentAck, simwire::kFragmentAck);
  EXPECT_FALSE(gdb::IsFragmentCode(simwire::kReplyFragment - 1));
  EXPECT_TRUE(gdb::IsFragmentCode(simwire::kReplyFragment));
  EXPECT_TRUE(gdb::IsFragmentCode(simwire::kFragmentAck));
  EXPECT_FALSE(gdb::IsFragmentCode(simwire::kFragmentAck + 1));
  // A full request fragment fills one message exactly.
  EXPECT_EQ(gdb::kMaxFragmentData + gdb::kRequestFragmentHeader, gdb::kMaxMessage);
}

TEST(FragmentMessagesTest, RequestFragmentRoundTrip) {
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{gdb::kMaxFragmentData}}) {
    const Bytes data = Data(n);
    const gdb::Fragment f = MakeFragment(data, 997, n != 1);
    const Bytes packed =
        Packed(gdb::kMaxMessage, [&](WireWriter& w) { gdb::PackRequestFragment(w, f); });
    const Bytes oracle = simwire::RequestFragment(f.transfer, f.total, f.offset, data.data(),
                                                  static_cast<std::uint32_t>(n), f.last);
    ASSERT_EQ(packed, oracle) << n;
    gdb::Fragment got;
    ASSERT_TRUE(gdb::UnpackRequestFragment(oracle.data(), oracle.size(), &got));
    EXPECT_EQ(got.transfer, f.transfer);
    EXPECT_EQ(got.total, f.total);
    EXPECT_EQ(got.offset, f.offset);
    EXPECT_EQ(got.length, n);
    EXPECT_EQ(got.last, f.last);
    EXPECT_EQ(Bytes(got.data, got.data + got.length), data);
    EXPECT_EQ(got.data, oracle.data() + gdb::kRequestFragmentHeader) << "a view, not a copy";
  }
  // A writer one byte short fails instead of writing past its buffer.
  const Bytes data = Data(10);
  EXPECT_TRUE(Packed(gdb::kRequestFragmentHeader + 9, [&](WireWriter& w) {
                gdb::PackRequestFragment(w, MakeFragment(data, 0, true));
              }).empty());
}

TEST(FragmentMessagesTest, ReplyFragmentRoundTrip) {
  const Bytes data = Data(300);
  const gdb::Fragment f = MakeFragment(data, 600, true);
  const Bytes packed = Packed(1024, [&](WireWriter& w) { gdb::PackReplyFragment(w, f); });
  const auto view = simwire::ParseReplyFragment(packed);
  ASSERT_TRUE(view.has_value());
  EXPECT_EQ(view->transfer, f.transfer);
  EXPECT_EQ(view->total, f.total);
  EXPECT_EQ(view->offset, f.offset);
  EXPECT_EQ(view->length, f.length);
  EXPECT_TRUE(view->last);
  EXPECT_EQ(view->data, data);
  EXPECT_EQ(packed.size(), gdb::kReplyFragmentHeader + data.size());
  gdb::Fragment got;
  ASSERT_TRUE(gdb::UnpackReplyFragment(packed.data(), packed.size(), &got));
  EXPECT_EQ(got.offset, 600u);
  EXPECT_EQ(Bytes(got.data, got.data + got.length), data);
}

TEST(FragmentMessagesTest, AcknowledgementsRoundTrip) {
  const Bytes ack = Packed(64, [](WireWriter& w) {
    gdb::PackReplyFragmentAck(w, gdb::FragmentAck{77, 2000});
  });
  EXPECT_EQ(ack, simwire::ReplyFragmentAck(77, 2000));
  gdb::FragmentAck got;
  ASSERT_TRUE(gdb::UnpackReplyFragmentAck(ack.data(), ack.size(), &got));
  EXPECT_EQ(got.transfer, 77u);
  EXPECT_EQ(got.position, 2000u);

  // The controller's acknowledgement, written out by hand: code, ten zeros,
  // transfer, next offset.
  Bytes expected;
  simwire::PutU16(expected, simwire::kFragmentAck);
  expected.resize(12, 0);
  simwire::PutU32(expected, 5);
  simwire::PutU32(expected, 997);
  const Bytes packed = Packed(64, [](WireWriter& w) {
    gdb::PackFragmentAck(w, gdb::FragmentAck{5, 997});
  });
  EXPECT_EQ(packed, expected);
  ASSERT_TRUE(gdb::UnpackFragmentAck(expected.data(), expected.size(), &got));
  EXPECT_EQ(got.transfer, 5u);
  EXPECT_EQ(got.position, 997u);
  // Bytes after the last field are ignored; a missing byte is not.
  Bytes longer = expected;
  longer.push_back(0xAA);
  EXPECT_TRUE(gdb::UnpackFragmentAck(longer.data(), longer.size(), &got));
  got = gdb::FragmentAck{1, 2};
  EXPECT_FALSE(gdb::UnpackFragmentAck(expected.data(), expected.size() - 1, &got));
  EXPECT_EQ(got.transfer, 1u);
  EXPECT_EQ(got.position, 2u);
}

TEST(FragmentMessagesTest, MalformedMessagesAreRefused) {
  const Bytes data = Data(40);
  const Bytes good = simwire::RequestFragment(9, 100, 0, data.data(), 40, false);
  gdb::Fragment got;
  got.transfer = 123;
  // Every cut short of the whole message, one byte more, a length field that
  // names one byte more or less, another code.
  for (std::size_t n = 0; n < good.size(); ++n) {
    EXPECT_FALSE(gdb::UnpackRequestFragment(good.data(), n, &got)) << n;
  }
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(gdb::UnpackRequestFragment(longer.data(), longer.size(), &got));
  for (std::uint32_t length : {39u, 41u, 0xFFFFFFFFu}) {
    Bytes wrong = good;
    StoreU32(wrong.data() + 22, length);
    EXPECT_FALSE(gdb::UnpackRequestFragment(wrong.data(), wrong.size(), &got)) << length;
  }
  // A request fragment is not a reply fragment, even of a fitting length.
  EXPECT_FALSE(gdb::UnpackReplyFragment(good.data(), good.size(), &got));
  const Bytes reply =
      Packed(200, [&](WireWriter& w) { gdb::PackReplyFragment(w, MakeFragment(data, 0, false)); });
  EXPECT_FALSE(gdb::UnpackRequestFragment(reply.data(), reply.size(), &got));
  const Bytes ack = simwire::ReplyFragmentAck(1, 2);
  gdb::FragmentAck got_ack{7, 8};
  EXPECT_FALSE(gdb::UnpackFragmentAck(ack.data(), ack.size(), &got_ack));
  EXPECT_EQ(got_ack.transfer, 7u);
  EXPECT_EQ(got.transfer, 123u) << "refusals leave the output as it was";
  EXPECT_FALSE(gdb::UnpackReplyFragment(nullptr, 0, &got));
}

}  // namespace
}  // namespace qxsym
