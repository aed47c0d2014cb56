// Every tag function through the exported API, against both sources.
#include <cstring>
#include <string>
#include <vector>

#include "ApiFixture.h"

namespace qxsym::test {
namespace {

using TagTest = ApiTest;

TEST_P(TagTest, TextsAndTheirLengthRule) {
  QXSymTagHandle t = Tag("TotalEnergy");
  char buf[QXSYM_MAX_STRING];
  std::uint16_t len = 12;  // "TotalEnergy" + terminator: exactly fits
  ASSERT_EQ(QXSym_GetTagName(t, buf, &len), symResOk);
  EXPECT_STREQ(buf, "TotalEnergy");
  EXPECT_EQ(len, 12);
  std::memset(buf, 'x', sizeof buf);
  len = 11;
  EXPECT_EQ(QXSym_GetTagName(t, buf, &len), symResInvalidBuffer);
  EXPECT_EQ(len, 12);      // the needed length comes back
  EXPECT_EQ(buf[0], 'x');  // and nothing was copied
  len = sizeof buf;
  ASSERT_EQ(QXSym_GetTagDataType(t, buf, &len), symResOk);
  EXPECT_STREQ(buf, "LREAL");
  len = sizeof buf;
  ASSERT_EQ(QXSym_GetTagDescr(t, buf, &len), symResOk);
  EXPECT_STREQ(buf, "Energy since commissioning");
  len = sizeof buf;
  ASSERT_EQ(QXSym_GetTagAttribute(t, "UNIT", buf, &len), symResOk);
  EXPECT_STREQ(buf, "kWh");
  len = sizeof buf;
  EXPECT_EQ(QXSym_GetTagAttribute(t, "colour", buf, &len), symResAttributeNotFound);
  std::string long_name(300, 'a');
  len = sizeof buf;
  EXPECT_EQ(QXSym_GetTagAttribute(t, long_name.c_str(), buf, &len), symResAttributeNotFound);
  EXPECT_EQ(QXSym_GetTagName(t, nullptr, &len), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetTagName(t, buf, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(TagTest, TypeSizesFlagsDimsAndAddresses) {
  QXSymTagHandle grid = Tag("Grid");
  QXSymTyVar tv = QXSymTyVarNull;
  std::uint32_t size = 0, full = 0, d1 = 9, d2 = 9, d3 = 9;
  ASSERT_EQ(QXSym_GetTagDataTypeVar(grid, &tv), symResOk);
  EXPECT_EQ(tv, QXSymTyVarInt);
  ASSERT_EQ(QXSym_GetTagDataSize(grid, &size), symResOk);
  ASSERT_EQ(QXSym_GetTagDataFullSize(grid, &full), symResOk);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(full, 24u);
  ASSERT_EQ(QXSym_GetTagDims(grid, &d1, &d2, &d3), symResOk);
  EXPECT_EQ(d1, 3u);
  EXPECT_EQ(d2, 4u);
  EXPECT_EQ(d3, 0u);
  qxsym_addr_t a0 = 0, a00 = 1, a12 = 0;
  std::uint32_t bit = 99;
  ASSERT_EQ(QXSym_GetTagAddress(grid, &a0), symResOk);
  ASSERT_EQ(QXSym_GetTagArrayAddress(grid, 0, 0, 0, &a00), symResOk);
  EXPECT_EQ(a0, a00);
  ASSERT_EQ(QXSym_GetTagArrayAddressBitOffset(grid, 1, 2, 0, &a12, &bit), symResOk);
  EXPECT_EQ(a12, a0 + (1 * 4 + 2) * 2);
  EXPECT_EQ(bit, 0u);
  EXPECT_EQ(QXSym_GetTagArrayAddress(grid, 3, 0, 0, &a12), symResInvalidArrayIndex);

  QXSymTagHandle estop = Tag("EStopOk");
  bool_t ro = 0, bitaddr = 0;
  ASSERT_EQ(QXSym_IsTagReadOnly(estop, &ro), symResOk);
  ASSERT_EQ(QXSym_IsTagBitAddress(estop, &bitaddr), symResOk);
  EXPECT_EQ(ro, 1);
  EXPECT_EQ(bitaddr, 1);
  QXSymTagHandle door = Tag("DoorClosed");
  ASSERT_EQ(QXSym_GetTagAddressBitOffset(door, &a0, &bit), symResOk);
  EXPECT_EQ(a0, 0x00100000u);
  EXPECT_EQ(bit, 1u);
  // Outputs are required.
  EXPECT_EQ(QXSym_GetTagDataSize(grid, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_IsTagReadOnly(grid, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetTagDims(grid, &d1, nullptr, &d3), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetTagAddressBitOffset(grid, &a0, nullptr), symResInvalidParameter);
  for (QXSymTagHandle t : {grid, estop, door}) EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(TagTest, ValueReadsWritesAndTheirSizeRules) {
  QXSymTagHandle state = Tag("MachineState");  // INT
  std::int16_t v = 0;
  std::uint8_t one = 0;
  EXPECT_EQ(QXSym_GetTagValue_Ptr(state, &one, 1), symResInvalidBuffer);  // one byte short
  ASSERT_EQ(QXSym_GetTagValue_Ptr(state, &v, sizeof v), symResOk);
  EXPECT_EQ(v, 2);
  std::int16_t w = 3;
  ASSERT_EQ(QXSym_SetTagValue_Ptr(state, &w, sizeof w), symResOk);
  ASSERT_EQ(QXSym_GetTagValue_Ptr(state, &v, sizeof v), symResOk);
  EXPECT_EQ(v, 3);
  EXPECT_EQ(QXSym_SetTagValue_Ptr(state, nullptr, 2), symResInvalidParameter);
  std::uint8_t big[70000] = {};
  EXPECT_EQ(QXSym_SetTagValue_Ptr(state, big, sizeof big),
            remote() ? symResInvalidParameter : symResInvalidTagSize);

  QXSymTagHandle serial = Tag("SerialNumber");  // read-only STRING[16]
  EXPECT_EQ(QXSym_SetTagValue_Ptr(serial, "X", 2), symResReadOnlyTag);
  char text[17] = {};
  ASSERT_EQ(QXSym_GetTagValue_Ptr(serial, text, sizeof text), symResOk);
  EXPECT_STREQ(text, "QX-2024-000815");

  QXSymTagHandle grid = Tag("Grid");
  std::int16_t e = 0;
  ASSERT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 1, 2, 0, &e, sizeof e), symResOk);
  EXPECT_EQ(e, 7);
  std::int16_t ne = -5;
  ASSERT_EQ(QXSym_SetTagArrayValue_Ptr(grid, 2, 3, 0, &ne, sizeof ne), symResOk);
  ASSERT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 2, 3, 0, &e, sizeof e), symResOk);
  EXPECT_EQ(e, -5);
  EXPECT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 0, 4, 0, &e, sizeof e), symResInvalidArrayIndex);
  EXPECT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 0, 0, 1, &e, sizeof e), symResInvalidArrayIndex);

  // Raw: a larger buffer reads exactly the full size and keeps the rest.
  std::uint8_t raw[40];
  std::memset(raw, 0xEE, sizeof raw);
  ASSERT_EQ(QXSym_GetTagRawValue_Ptr(grid, raw, sizeof raw), symResOk);
  EXPECT_EQ(raw[24], 0xEE);
  std::int16_t first = 0;
  std::memcpy(&first, raw, 2);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(QXSym_GetTagRawValue_Ptr(grid, raw, 23), symResInvalidBuffer);
  // Raw write: shorter changes only the start; longer is refused.
  const std::int16_t two[2] = {100, 200};
  ASSERT_EQ(QXSym_SetTagRawValue_Ptr(grid, two, sizeof two), symResOk);
  ASSERT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 0, 1, 0, &e, sizeof e), symResOk);
  EXPECT_EQ(e, 200);
  ASSERT_EQ(QXSym_GetTagArrayValue_Ptr(grid, 0, 2, 0, &e, sizeof e), symResOk);
  EXPECT_EQ(e, 3);
  EXPECT_EQ(QXSym_SetTagRawValue_Ptr(grid, raw, 25), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetTagRawValue_Ptr(grid, nullptr, 24), symResInvalidParameter);
  for (QXSymTagHandle t : {state, serial, grid}) EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(TagTest, TypeHandlesAndClosing) {
  QXSymTagHandle t = Tag("Recipe");
  QXSymTypeHandle a = 0, b = 0;
  ASSERT_EQ(QXSym_GetTagType(t, &a), symResOk);
  ASSERT_EQ(QXSym_GetTagType(t, &b), symResOk);
  EXPECT_NE(a, b);
  EXPECT_EQ(QXSym_GetTagType(t, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_CloseTag(t), symResOk);
  EXPECT_EQ(QXSym_CloseTag(t), symResInvalidHandle);
  // A type handle outlives the tag it came from.
  bool_t is_struct = 0;
  EXPECT_EQ(QXSym_TypeIsStruct(a, &is_struct), symResOk);
  EXPECT_EQ(is_struct, 1);
  EXPECT_EQ(QXSym_CloseType(a), symResOk);
  EXPECT_EQ(QXSym_CloseType(b), symResOk);
  EXPECT_EQ(QXSym_CloseTag(0), symResInvalidHandle);
}

QXSYM_INSTANTIATE_BOTH_SOURCES(TagTest);

// A host whose address entry writes the bit offset whenever it is handed a
// place for it, as the table's contract allows, and notes what it got.
struct AddressHost {
  static QXSymDA_TagGetArrayAddress& Next() {
    static QXSymDA_TagGetArrayAddress next = nullptr;
    return next;
  }
  static std::vector<bool>& GotBit() {
    static std::vector<bool> got;
    return got;
  }
  static QXSymResult Entry(std::uint32_t ctx, std::uint32_t tag, std::uint32_t i1, std::uint32_t i2,
                           std::uint32_t i3, addr64_t* address, std::uint32_t* bit,
                           std::uint8_t* r1, std::uint8_t* r2) {
    GotBit().push_back(bit != nullptr);
    std::uint32_t own = 0;
    const QXSymResult r = Next()(ctx, tag, i1, i2, i3, address, &own, r1, r2);
    if (bit != nullptr) *bit = own;
    return r;
  }
};

TEST(TagAddressHost, EveryAddressFunctionHandsTheHostWhatItsFormPromises) {
  std::string error;
  auto model = sim::SymbolModel::LoadFile(DemoModelPath(), &error);
  ASSERT_TRUE(model) << error;
  sim::HostTable host(model);
  QXSymDirectAccessTable table = *host.table();
  AddressHost::Next() = table.TagGetArrayAddress;
  AddressHost::GotBit().clear();
  table.TagGetArrayAddress = &AddressHost::Entry;
  QXSymServerAddress a{};
  host.FillAddress(&a);
  const QXSymDirectAccessTable* p = &table;
  std::memcpy(a.ip, &p, sizeof p);

  ASSERT_EQ(QXSym_Init(), symResOk);
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  QXSymTagHandle door = 0;
  ASSERT_EQ(QXSym_GetGlobalTag(ws, "DoorClosed", &door), symResOk);
  qxsym_addr_t plain = 0, with_bit = 0, element = 0, element_with_bit = 0;
  std::uint32_t bit = 99, element_bit = 99;
  EXPECT_EQ(QXSym_GetTagAddress(door, &plain), symResOk);
  EXPECT_EQ(QXSym_GetTagAddressBitOffset(door, &with_bit, &bit), symResOk);
  EXPECT_EQ(QXSym_GetTagArrayAddress(door, 0, 0, 0, &element), symResOk);
  EXPECT_EQ(QXSym_GetTagArrayAddressBitOffset(door, 0, 0, 0, &element_with_bit, &element_bit),
            symResOk);
  // The plain form passes a variable of its own, the array form none.
  EXPECT_EQ(AddressHost::GotBit(), (std::vector<bool>{true, true, false, true}));
  EXPECT_EQ(plain, 0x00100000u);
  for (qxsym_addr_t x : {with_bit, element, element_with_bit}) EXPECT_EQ(x, plain);
  EXPECT_EQ(bit, 1u);
  EXPECT_EQ(element_bit, 1u);
  EXPECT_EQ(QXSym_CloseTag(door), symResOk);
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
  EXPECT_EQ(QXSym_Shutdown(), symResOk);
}

}  // namespace
}  // namespace qxsym::test
