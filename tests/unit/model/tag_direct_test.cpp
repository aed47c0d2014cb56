#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "FakeHostTable.h"
#include "QXSymClientTagDirect.h"
#include "QXSymClientTypeDirect.h"

namespace qxsym {
namespace test {
namespace {

std::uint64_t P(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

constexpr std::uint32_t kCtx = 0xC0;
constexpr std::uint32_t kTag = 0x7A;

class TagDirectTest : public ::testing::Test {
 protected:
  FakeHostTable host_;
  QXSymClientTagDirect tag_{host_.table(), kCtx, kTag};
};

TEST_F(TagDirectTest, ValueEntriesGetTheCallersPointersAndSizes) {
  std::uint8_t buffer[4] = {};
  const std::uint8_t data[2] = {1, 2};
  host_.bytes[24] = {5, 6, 7, 8};
  EXPECT_EQ(tag_.GetValue(buffer, 4), symResOk);
  EXPECT_EQ(tag_.SetValue(data, 2), symResOk);
  EXPECT_EQ(tag_.GetArrayValue(1, 2, 3, buffer, 4), symResOk);
  EXPECT_EQ(tag_.SetArrayValue(4, 5, 6, data, 2), symResOk);
  EXPECT_EQ(tag_.GetRawValue(buffer, 3), symResOk);
  EXPECT_EQ(tag_.SetRawValue(data, 2), symResOk);
  ASSERT_EQ(host_.calls.size(), 6u);
  EXPECT_EQ(buffer[0], 5);
  const auto& c = host_.calls;
  EXPECT_EQ(c[0].entry, 24);
  EXPECT_EQ(c[0].args[2], P(buffer));
  EXPECT_EQ(c[0].args[3], 4u);
  EXPECT_NE(c[0].args[4], 0u);  // a count output is always given
  EXPECT_EQ(c[1].entry, 26);
  EXPECT_EQ(c[1].args, (std::vector<std::uint64_t>{kCtx, kTag, P(data), 2}));
  EXPECT_EQ(c[2].entry, 23);
  EXPECT_EQ(std::vector<std::uint64_t>(c[2].args.begin(), c[2].args.begin() + 7),
            (std::vector<std::uint64_t>{kCtx, kTag, 1, 2, 3, P(buffer), 4}));
  EXPECT_EQ(c[3].entry, 25);
  EXPECT_EQ(c[3].args, (std::vector<std::uint64_t>{kCtx, kTag, 4, 5, 6, P(data), 2}));
  EXPECT_EQ(c[4].entry, 13);
  EXPECT_EQ(std::vector<std::uint64_t>(c[4].args.begin(), c[4].args.begin() + 6),
            (std::vector<std::uint64_t>{kCtx, kTag, 0, 3, P(buffer), 3}));
  EXPECT_EQ(c[5].entry, 14);
  EXPECT_EQ(c[5].data, (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(TagDirectTest, CachedValuesAskTheirEntriesOnce) {
  host_.u32[17] = {4};
  host_.u32[18] = {8};
  host_.u32[12] = {QXSymTyVarDInt};
  std::uint32_t v = 0;
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(tag_.GetDataSize(&v), symResOk);
    EXPECT_EQ(tag_.GetDataFullSize(&v), symResOk);
    EXPECT_EQ(tag_.GetDataTypeVar(&v), symResOk);
  }
  EXPECT_EQ(host_.count(17) + host_.count(18) + host_.count(12), 3);
  EXPECT_EQ(v, static_cast<std::uint32_t>(QXSymTyVarDInt));
}

TEST_F(TagDirectTest, HostTextsFollowTheLengthRuleAndNullIsEmpty) {
  host_.text[10] = "Pump";
  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  std::uint16_t length = 4;
  EXPECT_EQ(tag_.GetName(buffer, &length), symResInvalidBuffer);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(tag_.GetName(buffer, &length), symResOk);
  EXPECT_STREQ(buffer, "Pump");
  length = sizeof buffer;
  EXPECT_EQ(tag_.GetDescr(buffer, &length), symResOk);  // entry 15 hands out no text
  EXPECT_EQ(length, 1);
  EXPECT_STREQ(buffer, "");
  host_.result[11] = symResNotOk;
  length = 3;
  EXPECT_EQ(tag_.GetDataType(buffer, &length), symResNotOk);
  EXPECT_EQ(length, 3);
}

TEST_F(TagDirectTest, AttributeNameIsPassedOnUnchanged) {
  host_.text[16] = "1.5";
  char buffer[8];
  std::uint16_t length = sizeof buffer;
  EXPECT_EQ(tag_.GetAttribute(nullptr, buffer, &length), symResOk);
  EXPECT_TRUE(host_.last(16)->text_null);
  EXPECT_STREQ(buffer, "1.5");
}

TEST_F(TagDirectTest, AddressGoesThroughA64BitLocalAndIsNarrowed) {
  qxsym_addr_t address = 0xFFFF;
  std::uint32_t bit = 0;
  host_.address = 0x2000;
  host_.bit_offset = 5;
  EXPECT_EQ(tag_.GetArrayAddress(1, 2, 3, &address, &bit), symResOk);
  EXPECT_EQ(address, 0x2000u);
  EXPECT_EQ(bit, 5u);
  const HostCall* call = host_.last(22);
  EXPECT_NE(call->args[5], P(&address));  // never the four-byte variable itself
  EXPECT_EQ(call->args[6], P(&bit));
  EXPECT_EQ(call->args[9], 0u);   // the local starts at 0
  EXPECT_EQ(call->args[10], 0u);  // and so do the two ignored bytes
  EXPECT_EQ(call->args[11], 0u);

  EXPECT_EQ(tag_.GetArrayAddress(0, 0, 0, &address, nullptr), symResOk);
  EXPECT_EQ(host_.last(22)->args[6], 0u);

  host_.address = 0x100000010ull;
  EXPECT_EQ(tag_.GetArrayAddress(0, 0, 0, &address, nullptr), symResAddressMismatch32vs64);
  EXPECT_EQ(address, 0u);

  host_.write_address = false;
  address = 0xFFFF;
  EXPECT_EQ(tag_.GetArrayAddress(0, 0, 0, &address, nullptr), symResOk);
  EXPECT_EQ(address, 0u);
}

TEST_F(TagDirectTest, GetTypeMakesADirectTypeWithTheHostsIdentifier) {
  host_.u32[27] = {0x99};
  std::unique_ptr<QXSymClientType> type;
  ASSERT_EQ(tag_.GetType(&type), symResOk);
  auto* direct = dynamic_cast<QXSymClientTypeDirect*>(type.get());
  ASSERT_NE(direct, nullptr);
  EXPECT_EQ(direct->id(), 0x99u);
  EXPECT_EQ(direct->context(), kCtx);
  host_.result[27] = symResSymbolNotFound;
  std::unique_ptr<QXSymClientType> other;
  EXPECT_EQ(tag_.GetType(&other), symResSymbolNotFound);
  EXPECT_EQ(other, nullptr);
}

TEST_F(TagDirectTest, AMissingEntryAnswersNotImplementedInsteadOfBeingCalled) {
  host_.entries().TagClose = nullptr;
  host_.entries().TagGetName = nullptr;
  char buffer[4];
  std::uint16_t length = 4;
  EXPECT_EQ(tag_.Close(), symResNotImplemented);
  EXPECT_EQ(tag_.GetName(buffer, &length), symResNotImplemented);
  EXPECT_EQ(length, 4);
  EXPECT_TRUE(host_.calls.empty());
}

}  // namespace
}  // namespace test
}  // namespace qxsym
