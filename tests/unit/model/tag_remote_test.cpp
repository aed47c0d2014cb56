#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "ModelTestUtil.h"
#include "QXSymClientTagRemote.h"
#include "QXSymClientTypeRemote.h"

namespace qxsym {
namespace test {
namespace {

class TagRemoteTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeChannel> channel_ = std::make_shared<FakeChannel>();
  QXSymClientTagRemote tag_{channel_, kWs, kObj};
};

TEST_F(TagRemoteTest, CachedSizeIsAskedOnceAndOnlyRememberedOnSuccess) {
  channel_->Fail(symResTimeoutError);
  channel_->Reply(ReplyHeader(kCmdTagGetDataSize, symResUnknownTagSize));
  channel_->Reply(ReplyHeader(kCmdTagGetDataSize).U32(4));
  std::uint32_t size = 99;
  EXPECT_EQ(tag_.GetDataSize(&size), symResTimeoutError);
  EXPECT_EQ(tag_.GetDataSize(&size), symResUnknownTagSize);
  EXPECT_EQ(size, 99u);
  EXPECT_EQ(tag_.GetDataSize(&size), symResOk);
  EXPECT_EQ(tag_.GetDataSize(&size), symResOk);
  EXPECT_EQ(size, 4u);
  ASSERT_EQ(channel_->call_count(), 3u);
  EXPECT_EQ(channel_->request(2), ObjectRequest(kCmdTagGetDataSize).vec());
  EXPECT_EQ(channel_->capacity(2), 8u);
}

TEST_F(TagRemoteTest, FullSizeAndTypeVarUseTheirOwnCommands) {
  channel_->Reply(ReplyHeader(kCmdTagGetDataFullSize).U32(12));
  channel_->Reply(ReplyHeader(kCmdTagGetDataTypeVar).U32(QXSymTyVarLReal));
  std::uint32_t full = 0, type = 0;
  EXPECT_EQ(tag_.GetDataFullSize(&full), symResOk);
  EXPECT_EQ(tag_.GetDataTypeVar(&type), symResOk);
  EXPECT_EQ(full, 12u);
  EXPECT_EQ(type, static_cast<std::uint32_t>(QXSymTyVarLReal));
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagGetDataFullSize).vec());
  EXPECT_EQ(channel_->request(1), ObjectRequest(kCmdTagGetDataTypeVar).vec());
}

TEST_F(TagRemoteTest, CloneCarriesTheCacheButWhatItLearnsStaysWithIt) {
  tag_.SetCachedDataSize(8);
  auto copy = tag_.Clone();
  std::uint32_t v = 0;
  EXPECT_EQ(copy->GetDataSize(&v), symResOk);
  EXPECT_EQ(v, 8u);
  channel_->Reply(ReplyHeader(kCmdTagGetDataFullSize).U32(16));
  EXPECT_EQ(copy->GetDataFullSize(&v), symResOk);
  EXPECT_FALSE(tag_.GetCachedDataFullSize(&v));
  EXPECT_EQ(channel_->call_count(), 1u);
  // The copy shares the channel without owning the tag's identity.
  EXPECT_EQ(copy->GetWorkspaceKey(), tag_.GetWorkspaceKey());
}

TEST_F(TagRemoteTest, TextThatExactlyFitsIsCopiedAndOneLessIsRefused) {
  channel_->Reply(TextReply(kCmdTagGetName, "Motor", 6));
  channel_->Reply(TextReply(kCmdTagGetName, "Motor", 6));
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  std::uint16_t length = 5;
  EXPECT_EQ(tag_.GetName(buffer, &length), symResInvalidBuffer);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(tag_.GetName(buffer, &length), symResOk);
  EXPECT_STREQ(buffer, "Motor");
  EXPECT_EQ(buffer[6], 'x');  // nothing past L
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagGetName).vec());
  EXPECT_EQ(channel_->capacity(0), 266u);
}

TEST_F(TagRemoteTest, TextIsZeroFilledAfterItsFirstZeroAndAlwaysTerminated) {
  channel_->Reply(ReplyHeader(kCmdTagGetDescr).U16(6).Text("ab\0cd", 5).U8('e'));
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  std::uint16_t length = sizeof buffer;
  EXPECT_EQ(tag_.GetDescr(buffer, &length), symResOk);
  EXPECT_EQ(length, 6);
  EXPECT_EQ(std::string(buffer, 6), std::string("ab\0\0\0\0", 6));
}

TEST_F(TagRemoteTest, MalformedTextLengthsAreRefusedWithoutWriting) {
  const std::uint16_t bad_lengths[] = {0, 261};
  for (std::uint16_t bad : bad_lengths) {
    channel_->Reply(ReplyHeader(kCmdTagGetDataType).U16(bad).Fill(260, 'a'));
  }
  // A length that the reply does not carry.
  channel_->Reply(ReplyHeader(kCmdTagGetDataType).U16(40).Text("short", 5));
  for (int i = 0; i < 3; ++i) {
    char buffer[300];
    std::memset(buffer, 'x', sizeof buffer);
    std::uint16_t length = 10;
    EXPECT_EQ(tag_.GetDataType(buffer, &length), symResNotOk);
    EXPECT_EQ(length, 10);
    EXPECT_EQ(buffer[0], 'x');
  }
}

TEST_F(TagRemoteTest, AttributeNameIsCutTo259CharactersOrSentEmpty) {
  const std::string long_name(300, 'n');
  channel_->Reply(TextReply(kCmdTagGetAttribute, "v", 2));
  channel_->Reply(TextReply(kCmdTagGetAttribute, "v", 2));
  char buffer[4];
  std::uint16_t length = 4;
  EXPECT_EQ(tag_.GetAttribute(long_name.c_str(), buffer, &length), symResOk);
  length = 4;
  EXPECT_EQ(tag_.GetAttribute(nullptr, buffer, &length), symResOk);
  EXPECT_EQ(channel_->request(0),
            ObjectRequest(kCmdTagGetAttribute).U16(260).Text(long_name.data(), 259).U8(0).vec());
  EXPECT_EQ(channel_->request(1), ObjectRequest(kCmdTagGetAttribute).U16(1).U8(0).vec());
}

TEST_F(TagRemoteTest, ValueReadCopiesWhatFitsAndRefusesALongerReply) {
  channel_->Reply(ReplyHeader(kCmdTagGetValue).U16(2).U16(0xBEEF));
  channel_->Reply(ReplyHeader(kCmdTagGetValue).U16(5).Fill(5, 7));
  channel_->Reply(ReplyHeader(kCmdTagGetValue).U16(4).U16(1));  // claims 4, carries 2
  std::uint8_t buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(tag_.GetValue(buffer, 4), symResOk);
  EXPECT_EQ(buffer[0], 0xEF);
  EXPECT_EQ(buffer[2], 9);
  EXPECT_EQ(channel_->capacity(0), 10u);
  std::memset(buffer, 9, sizeof buffer);
  EXPECT_EQ(tag_.GetValue(buffer, 4), symResInvalidBuffer);
  EXPECT_EQ(tag_.GetValue(buffer, 4), symResNotOk);
  EXPECT_EQ(buffer[0], 9);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagGetValue).vec());
}

// Writes of values beyond a 16-bit length cannot be sent; reads into a
// larger buffer are fine and offer what one reply can carry.
TEST_F(TagRemoteTest, OnlyWritesBeyondSixteenBitLengthsAreRefused) {
  std::vector<std::uint8_t> big(100000, 9);
  EXPECT_EQ(tag_.SetValue(big.data(), 65536), symResInvalidParameter);
  EXPECT_EQ(tag_.SetArrayValue(0, 0, 0, big.data(), 65536), symResInvalidParameter);
  EXPECT_EQ(channel_->call_count(), 0u);
  channel_->Reply(ReplyHeader(kCmdTagGetValue).U16(2).U16(0xBEEF));
  channel_->Reply(ReplyHeader(kCmdTagGetArrayValue).U16(1).U8(5));
  EXPECT_EQ(tag_.GetValue(big.data(), 100000), symResOk);
  EXPECT_EQ(tag_.GetArrayValue(1, 2, 3, big.data() + 2, 65536), symResOk);
  EXPECT_EQ(big[0], 0xEF);
  EXPECT_EQ(big[2], 5);
  EXPECT_EQ(big[3], 9);
  EXPECT_EQ(channel_->capacity(0), 65535u + 6);
  EXPECT_EQ(channel_->capacity(1), 65535u + 6);
}

TEST_F(TagRemoteTest, ValueWritesCarryLengthIndicesAndBytes) {
  channel_->Reply(ReplyHeader(kCmdTagSetValue));
  channel_->Reply(ReplyHeader(kCmdTagSetArrayValue, symResReadOnlyTag));
  channel_->Reply(ReplyHeader(kCmdTagGetArrayValue).U16(1).U8(5));
  const std::uint8_t data[3] = {1, 2, 3};
  EXPECT_EQ(tag_.SetValue(nullptr, 0), symResOk);
  EXPECT_EQ(tag_.SetArrayValue(1, 2, 3, data, 3), symResReadOnlyTag);
  std::uint8_t out = 0;
  EXPECT_EQ(tag_.GetArrayValue(4, 5, 6, &out, 1), symResOk);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagSetValue).U16(0).vec());
  EXPECT_EQ(
      channel_->request(1),
      ObjectRequest(kCmdTagSetArrayValue).U32(1).U32(2).U32(3).U16(3).U8(1).U8(2).U8(3).vec());
  EXPECT_EQ(channel_->request(2), ObjectRequest(kCmdTagGetArrayValue).U32(4).U32(5).U32(6).vec());
  EXPECT_EQ(channel_->capacity(0), 4u);
  EXPECT_EQ(out, 5);
}

TEST_F(TagRemoteTest, RawReadRefusesALongerReplyAndLargeTransfersWork) {
  channel_->Reply(ReplyHeader(kCmdTagGetRawValue).U32(3).Fill(3, 1));
  std::vector<std::uint8_t> large(2000, 0x5A);
  channel_->Reply(ReplyHeader(kCmdTagGetRawValue).U32(2000).Raw(large));
  channel_->Reply(ReplyHeader(kCmdTagSetRawValue));
  std::uint8_t small[2] = {0, 0};
  EXPECT_EQ(tag_.GetRawValue(small, 2), symResInvalidBuffer);
  EXPECT_EQ(small[0], 0);
  std::vector<std::uint8_t> out(2000);
  EXPECT_EQ(tag_.GetRawValue(out.data(), 2000), symResOk);
  EXPECT_EQ(out, large);
  EXPECT_EQ(tag_.SetRawValue(large.data(), 2000), symResOk);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagGetRawValue).U32(0).U32(2).vec());
  EXPECT_EQ(channel_->capacity(0), 10u);
  EXPECT_EQ(channel_->capacity(1), 2008u);
  EXPECT_EQ(channel_->request(2),
            ObjectRequest(kCmdTagSetRawValue).U32(0).U32(2000).Raw(large).vec());
  EXPECT_EQ(channel_->capacity(2), 8u);
}

TEST_F(TagRemoteTest, AddressIsNarrowedOrRefusedWhenItsHighHalfIsSet) {
  channel_->Reply(ReplyHeader(kCmdTagGetArrayAddress).U64(0x1000).U32(3));
  channel_->Reply(ReplyHeader(kCmdTagGetArrayAddress).U64(0x100000000ull).U32(3));
  qxsym_addr_t address = 7;
  std::uint32_t bit = 9;
  EXPECT_EQ(tag_.GetArrayAddress(1, 2, 3, &address, nullptr), symResOk);
  EXPECT_EQ(address, 0x1000u);
  EXPECT_EQ(tag_.GetArrayAddress(0, 0, 0, &address, &bit), symResAddressMismatch32vs64);
  EXPECT_EQ(address, 0x1000u);
  EXPECT_EQ(bit, 9u);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTagGetArrayAddress).U32(1).U32(2).U32(3).vec());
  EXPECT_EQ(channel_->capacity(0), 18u);
}

TEST_F(TagRemoteTest, FlagsAndDimsAreStoredOnlyFromACompleteReply) {
  channel_->Reply(ReplyHeader(kCmdTagIsReadOnly).U8(2));
  channel_->Reply(ReplyHeader(kCmdTagGetDims).U32(1).U32(2));  // one dimension short
  channel_->Fail(symResSocketError);
  bool_t flag = 0;
  EXPECT_EQ(tag_.IsReadOnly(&flag), symResOk);
  EXPECT_EQ(flag, 2);  // passed on as the source gave it
  std::uint32_t d1 = 7, d2 = 7, d3 = 7;
  EXPECT_EQ(tag_.GetDims(&d1, &d2, &d3), symResNotOk);
  EXPECT_EQ(tag_.GetDims(&d1, &d2, &d3), symResSocketError);
  EXPECT_EQ(d1 + d2 + d3, 21u);
}

TEST_F(TagRemoteTest, GetTypeMakesATypeOnTheSameLinkOrLeavesTheOutputAlone) {
  channel_->Reply(ReplyHeader(kCmdTagGetType).U32(5).U32(6));
  channel_->Reply(ReplyHeader(kCmdTagGetType, symResSymbolNotFound));
  std::unique_ptr<QXSymClientType> type;
  ASSERT_EQ(tag_.GetType(&type), symResOk);
  auto* remote = dynamic_cast<QXSymClientTypeRemote*>(type.get());
  ASSERT_NE(remote, nullptr);
  EXPECT_EQ(remote->channel(), channel_);
  EXPECT_EQ(remote->workspaceRef(), kWs);
  EXPECT_EQ(remote->typeRef(), (SymRef{5, 6}));
  QXSymClientType* before = type.get();
  EXPECT_EQ(tag_.GetType(&type), symResSymbolNotFound);
  EXPECT_EQ(type.get(), before);
}

TEST_F(TagRemoteTest, HeaderOnlyRequestsOfferTheirReplyCapacities) {
  char text[8];
  std::uint16_t length = sizeof text;
  bool_t flag = 0;
  std::uint32_t d = 0;
  std::unique_ptr<QXSymClientType> type;
  struct Case {
    std::uint16_t code;
    std::uint32_t capacity;
    std::function<QXSymResult()> run;
  } cases[] = {
      {kCmdTagClose, 4, [&] { return tag_.Close(); }},
      {kCmdTagGetDataType, 266, [&] { return tag_.GetDataType(text, &length); }},
      {kCmdTagGetDescr, 266, [&] { return tag_.GetDescr(text, &length); }},
      {kCmdTagIsBitAddress, 5, [&] { return tag_.IsBitAddress(&flag); }},
      {kCmdTagGetDims, 16, [&] { return tag_.GetDims(&d, &d, &d); }},
      {kCmdTagGetType, 12, [&] { return tag_.GetType(&type); }},
  };
  for (const Case& c : cases) {
    channel_->Reply(ReplyHeader(c.code, symResInvalidHandle));
    EXPECT_EQ(c.run(), symResInvalidHandle);
    EXPECT_EQ(channel_->request(channel_->call_count() - 1), ObjectRequest(c.code).vec());
    EXPECT_EQ(channel_->capacity(channel_->call_count() - 1), c.capacity) << c.code;
  }
}

TEST_F(TagRemoteTest, ReplyToAnotherCommandIsAProtocolError) {
  channel_->Reply(ReplyHeader(kCmdTagGetDataSize).U32(4));
  EXPECT_EQ(tag_.Close(), symResProtocolError);
}

TEST_F(TagRemoteTest, AClosedChannelAnswersConnectionLost) {
  channel_->Close();
  std::uint32_t size = 0;
  EXPECT_EQ(tag_.GetDataSize(&size), symResConnectionLost);
}

}  // namespace
}  // namespace test
}  // namespace qxsym
