#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "FakeHostTable.h"
#include "ModelTestUtil.h"
#include "QXSymClientTypeDirect.h"
#include "QXSymClientTypeRemote.h"

namespace qxsym {
namespace test {
namespace {

// The nine predicates in the order of their property bits.
QXSymResult AskPredicate(QXSymClientType& type, int i, bool_t* answer) {
  switch (i) {
    case 0:
      return type.IsBasic(answer);
    case 1:
      return type.IsComplex(answer);
    case 2:
      return type.IsString(answer);
    case 3:
      return type.IsArray(answer);
    case 4:
      return type.IsStruct(answer);
    case 5:
      return type.IsFunctionBlock(answer);
    case 6:
      return type.IsNumeric(answer);
    case 7:
      return type.IsSigned(answer);
    default:
      return type.IsInteger(answer);
  }
}

class TypeRemoteTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeChannel> channel_ = std::make_shared<FakeChannel>();
  QXSymClientTypeRemote type_{channel_, kWs, kObj};
};

TEST_F(TypeRemoteTest, EachPredicateIsItsOwnQuestion) {
  for (int i = 0; i < 9; ++i) {
    channel_->Reply(ReplyHeader(static_cast<std::uint16_t>(kCmdTypeIsBasic + i)).U8(i % 2));
  }
  for (int i = 0; i < 9; ++i) {
    bool_t answer = 7;
    EXPECT_EQ(AskPredicate(type_, i, &answer), symResOk);
    EXPECT_EQ(answer, i % 2);
    EXPECT_EQ(channel_->request(i),
              ObjectRequest(static_cast<std::uint16_t>(kCmdTypeIsBasic + i)).vec());
    EXPECT_EQ(channel_->capacity(i), 5u);
  }
}

TEST_F(TypeRemoteTest, ArrayDimensionsRespectMaxCountAndWhatArrived) {
  channel_->Reply(ReplyHeader(kCmdTypeGetArrayDimensions).U32(0));
  channel_->Reply(ReplyHeader(kCmdTypeGetArrayDimensions).U32(2).U32(10).U32(20));
  channel_->Reply(ReplyHeader(kCmdTypeGetArrayDimensions).U32(2).U32(10).U32(20));
  channel_->Reply(ReplyHeader(kCmdTypeGetArrayDimensions).U32(3).U32(1).U32(2));  // one short
  std::uint32_t values[3] = {7, 7, 7};
  EXPECT_EQ(type_.GetArrayDimensions(values, 0), symResOk);
  EXPECT_EQ(type_.GetArrayDimensions(values, 1), symResInvalidParameter);
  EXPECT_EQ(values[0], 7u);
  EXPECT_EQ(type_.GetArrayDimensions(values, 3), symResOk);
  EXPECT_EQ(values[0], 10u);
  EXPECT_EQ(values[1], 20u);
  EXPECT_EQ(values[2], 7u);
  values[0] = 7;
  EXPECT_EQ(type_.GetArrayDimensions(values, 3), symResNotOk);
  EXPECT_EQ(values[0], 7u);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTypeGetArrayDimensions).vec());
  EXPECT_EQ(channel_->capacity(0), 4008u);
}

TEST_F(TypeRemoteTest, ChildrenCarryTheParentsWorkspaceAndTheirOwnReference) {
  channel_->Reply(ReplyHeader(kCmdTypeGetChild).U32(8).U32(9));
  channel_->Reply(ReplyHeader(kCmdTypeGetChildByName, symResSymbolNotFound));
  channel_->Reply(ReplyHeader(kCmdTypeGetChildByName).U32(1).U32(2));
  std::unique_ptr<QXSymClientType> child;
  ASSERT_EQ(type_.GetChild(3, &child), symResOk);
  auto* remote = static_cast<QXSymClientTypeRemote*>(child.get());
  EXPECT_EQ(remote->workspaceRef(), kWs);
  EXPECT_EQ(remote->typeRef(), (SymRef{8, 9}));
  QXSymClientType* first = child.get();
  const std::string long_name(300, 'c');
  EXPECT_EQ(type_.GetChildByName(long_name.c_str(), &child), symResSymbolNotFound);
  EXPECT_EQ(child.get(), first);
  EXPECT_EQ(type_.GetChildByName(nullptr, &child), symResOk);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTypeGetChild).U32(3).vec());
  EXPECT_EQ(channel_->request(1),
            ObjectRequest(kCmdTypeGetChildByName).U16(260).Text(long_name.data(), 259).U8(0).vec());
  EXPECT_EQ(channel_->request(2), ObjectRequest(kCmdTypeGetChildByName).U16(1).U8(0).vec());
}

TEST_F(TypeRemoteTest, NamesFollowTheTextRule) {
  channel_->Reply(TextReply(kCmdTypeGetChildName, "Speed", 6));
  channel_->Reply(TextReply(kCmdTypeGetName, "T", 0));
  char buffer[6];
  std::uint16_t length = 6;
  EXPECT_EQ(type_.GetChildName(4, buffer, &length), symResOk);
  EXPECT_STREQ(buffer, "Speed");
  EXPECT_EQ(type_.GetName(buffer, &length), symResNotOk);
  EXPECT_EQ(channel_->request(0), ObjectRequest(kCmdTypeGetChildName).U32(4).vec());
}

TEST_F(TypeRemoteTest, RequestsOfferTheirReplyCapacities) {
  std::uint32_t v = 0;
  char text[4];
  std::uint16_t length = sizeof text;
  std::unique_ptr<QXSymClientType> child;
  struct Case {
    Bytes request;
    std::uint32_t capacity;
    std::function<QXSymResult()> run;
  } cases[] = {
      {ObjectRequest(kCmdTypeGetSize), 8, [&] { return type_.GetSize(&v); }},
      {ObjectRequest(kCmdTypeGetName), 266, [&] { return type_.GetName(text, &length); }},
      {ObjectRequest(kCmdTypeGetNumChildren), 8, [&] { return type_.GetNumChildren(&v); }},
      {ObjectRequest(kCmdTypeGetArrayNumDimensions), 8,
       [&] { return type_.GetArrayNumDimensions(&v); }},
      {ObjectRequest(kCmdTypeGetProperties), 8, [&] { return type_.GetProperties(&v); }},
      {ObjectRequest(kCmdTypeGetChild).U32(1), 12, [&] { return type_.GetChild(1, &child); }},
  };
  for (const Case& c : cases) {
    const std::vector<std::uint8_t> request = c.request;
    channel_->Reply(ReplyHeader(static_cast<std::uint16_t>(request[0]), symResInvalidHandle));
    EXPECT_EQ(c.run(), symResInvalidHandle);
    EXPECT_EQ(channel_->request(channel_->call_count() - 1), request);
    EXPECT_EQ(channel_->capacity(channel_->call_count() - 1), c.capacity) << int{request[0]};
  }
  EXPECT_EQ(child, nullptr);
}

TEST_F(TypeRemoteTest, ValuesAndStatusesPassThrough) {
  channel_->Reply(ReplyHeader(kCmdTypeGetProperties).U32(QXSymTypeIsBasic | QXSymTypeIsNumeric));
  channel_->Reply(ReplyHeader(kCmdTypeGetArrayDimension, symResInvalidArrayIndex));
  std::uint32_t v = 0;
  EXPECT_EQ(type_.GetProperties(&v), symResOk);
  EXPECT_EQ(v, 65u);
  EXPECT_EQ(type_.GetArrayDimension(5, &v), symResInvalidArrayIndex);
  EXPECT_EQ(v, 65u);
  EXPECT_EQ(channel_->request(1), ObjectRequest(kCmdTypeGetArrayDimension).U32(5).vec());
}

TEST(TypeDirectTest, EntriesAreNumberedAndGetTheirArguments) {
  FakeHostTable host;
  QXSymClientTypeDirect type(host.table(), 0xC1, 0x71);
  for (int i = 0; i < 9; ++i) {
    bool_t answer = 0;
    host.flag[28 + i] = 1;
    EXPECT_EQ(AskPredicate(type, i, &answer), symResOk);
    EXPECT_EQ(answer, 1);
    EXPECT_EQ(host.calls.back().entry, 28 + i);
  }
  std::uint32_t v = 0;
  EXPECT_EQ(type.GetSize(&v), symResOk);
  EXPECT_EQ(type.GetNumChildren(&v), symResOk);
  EXPECT_EQ(type.GetArrayNumDimensions(&v), symResOk);
  EXPECT_EQ(type.GetArrayDimension(2, &v), symResOk);
  EXPECT_EQ(type.GetProperties(&v), symResOk);
  std::uint32_t values[2];
  EXPECT_EQ(type.GetArrayDimensions(values, 2), symResOk);
  const int expected[] = {37, 39, 43, 44, 46, 45};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(host.calls[9 + i].entry, expected[i]);
  EXPECT_EQ(host.calls[12].args[2], 2u);
  EXPECT_EQ(host.calls.back().args[3], 2u);  // maxCount passed on unchanged
  EXPECT_EQ(host.calls.back().args[0], 0xC1u);
  EXPECT_EQ(host.calls.back().args[1], 0x71u);
}

TEST(TypeDirectTest, ChildrenAndNamesComeFromTheHost) {
  FakeHostTable host;
  QXSymClientTypeDirect type(host.table(), 0xC1, 0x71);
  host.u32[41] = {0x42};
  host.text[42] = "Level";
  std::unique_ptr<QXSymClientType> child;
  ASSERT_EQ(type.GetChildByName("Level", &child), symResOk);
  EXPECT_EQ(static_cast<QXSymClientTypeDirect*>(child.get())->id(), 0x42u);
  EXPECT_EQ(host.last(41)->text, "Level");
  char buffer[6];
  std::uint16_t length = 6;
  EXPECT_EQ(type.GetChildName(1, buffer, &length), symResOk);
  EXPECT_STREQ(buffer, "Level");
  host.result[40] = symResInvalidParameter;
  std::unique_ptr<QXSymClientType> none;
  EXPECT_EQ(type.GetChild(9, &none), symResInvalidParameter);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace test
}  // namespace qxsym
