// The host table: the same flows as the service, through the plain C
// entries the library calls, with the library's ways of freeing memory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "HostTable.h"
#include "SimTestUtil.h"

namespace {

using qxsym::sim::HostTable;

class Host : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(t->Open(0, 7, 0, &ctx), symResOk);
    ASSERT_NE(ctx, 0u);
  }
  std::uint32_t Tag(const char* name) {
    std::uint32_t id = 0, tyvar = 0, size = 0, full = 0;
    EXPECT_EQ(t->GetGlobalTag(ctx, name, &id, &tyvar, &size, &full), symResOk) << name;
    return id;
  }
  // Takes a text the way the library does: copies it, then free().
  template <typename Entry>
  static std::string Text(Entry entry) {
    char* text = nullptr;
    EXPECT_EQ(entry(&text), symResOk);
    std::string s = text != nullptr ? text : "<null>";
    std::free(text);
    return s;
  }

  HostTable host{simtest::Demo()};
  const QXSymDirectAccessTable* t = host.table();
  std::uint32_t ctx = 0;
};

TEST_F(Host, WorkspaceEntries) {
  std::uint8_t v[4] = {9, 9, 9, 9};
  ASSERT_EQ(t->GetServerVersion(&v[0], &v[1], &v[2], &v[3]), symResOk);
  EXPECT_EQ(std::vector<std::uint8_t>(v, v + 4), (std::vector<std::uint8_t>{3, 0, 1, 0}));
  EXPECT_EQ(t->IsValid(ctx), symResOk);
  EXPECT_EQ(t->reserved4, nullptr);

  std::uint32_t count = 0;
  ASSERT_EQ(t->GetGlobalTagsNum(ctx, &count), symResOk);
  std::uint32_t* ids = nullptr;
  std::uint32_t listed = 0;
  ASSERT_EQ(t->GetGlobalTags(ctx, &ids, &listed), symResOk);
  ASSERT_EQ(listed, count);
  EXPECT_EQ(Text([&](char** p) { return t->TagGetName(ctx, ids[1], p); }), "DoorClosed");
  delete[] ids;

  ASSERT_EQ(t->QueryGlobalTags(ctx, "nothing*", &ids, &listed), symResOk);
  EXPECT_EQ(listed, 0u);
  EXPECT_NE(ids, nullptr);  // set also for an empty list
  delete[] ids;
  ASSERT_EQ(t->QueryGlobalTagsNum(ctx, "cnt*", &count), symResOk);
  EXPECT_EQ(count, 8u);
  ASSERT_EQ(t->QueryGlobalTagsNum(ctx, nullptr, &listed), symResOk);
  EXPECT_EQ(listed, host.service().model()->tags().size());

  std::uint32_t id = 0, tyvar = 0, size = 0, full = 0;
  EXPECT_EQ(t->GetGlobalTag(ctx, "Nope", &id, &tyvar, &size, &full), symResSymbolNotFound);
  EXPECT_EQ(t->GetGlobalTag(ctx, "Grid[1,9]", &id, &tyvar, &size, &full), symResInvalidArrayIndex);
  ASSERT_EQ(t->GetGlobalTag(ctx, "heatmap", &id, &tyvar, &size, &full), symResOk);
  EXPECT_EQ(tyvar, static_cast<std::uint32_t>(QXSymTyVarReal));
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(full, 96u);

  EXPECT_EQ(t->Close(ctx), symResOk);
  EXPECT_EQ(t->IsValid(ctx), symResInvalidWorkspace);
  EXPECT_EQ(t->TagGetDataSize(ctx, id, &size), symResInvalidWorkspace);
}

TEST_F(Host, TagEntries) {
  std::uint32_t temps = Tag("Temps");
  char* text = nullptr;
  EXPECT_EQ(Text([&](char** p) { return t->TagGetDataType(ctx, temps, p); }),
            "ARRAY[1..8] OF REAL");
  EXPECT_EQ(Text([&](char** p) { return t->TagGetDescr(ctx, temps, p); }),
            "Oven zone temperatures");
  EXPECT_EQ(Text([&](char** p) { return t->TagGetAttribute(ctx, temps, "Unit", p); }), "degC");
  EXPECT_EQ(t->TagGetAttribute(ctx, temps, nullptr, &text), symResAttributeNotFound);
  std::uint32_t d1, d2, d3;
  ASSERT_EQ(t->TagGetDims(ctx, temps, &d1, &d2, &d3), symResOk);
  EXPECT_EQ(d1 * 100 + d2 * 10 + d3, 800u);

  float f = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(t->TagGetArrayValue(ctx, temps, 2, 0, 0, &f, 4, &count), symResOk);
  EXPECT_EQ(f, 185.25f);
  EXPECT_EQ(t->TagGetArrayValue(ctx, temps, 8, 0, 0, &f, 4, &count), symResInvalidArrayIndex);
  EXPECT_EQ(t->TagGetValue(ctx, temps, &f, 3, &count), symResInvalidBuffer);
  f = 99.5f;
  ASSERT_EQ(t->TagSetArrayValue(ctx, temps, 7, 0, 0, &f, 4), symResOk);
  float all[8] = {};
  ASSERT_EQ(t->TagGetRawValue(ctx, temps, 0, 32, all, 32, &count), symResOk);
  EXPECT_EQ(all[7], 99.5f);
  EXPECT_EQ(t->TagGetRawValue(ctx, temps, 0, 32, all, 31, &count), symResInvalidBuffer);

  std::uint32_t door = Tag("DoorClosed");
  bool_t b = 9;
  ASSERT_EQ(t->TagIsBitAddress(ctx, door, &b), symResOk);
  EXPECT_EQ(b, TRUE);
  addr64_t address = 0;
  std::uint32_t bit = 0;
  std::uint8_t r1 = 0, r2 = 0;
  ASSERT_EQ(t->TagGetArrayAddress(ctx, door, 0, 0, 0, &address, &bit, &r1, &r2), symResOk);
  EXPECT_EQ(address, 0x00100000u);
  EXPECT_EQ(bit, 1u);
  EXPECT_EQ(t->TagGetArrayAddress(ctx, door, 0, 0, 0, &address, nullptr, &r1, &r2), symResOk);
  std::uint8_t zero = 0;
  EXPECT_EQ(t->TagSetRawValue(ctx, door, 0, 1, &zero, &count), symResBitCommandRequired);

  std::uint32_t serial = Tag("SerialNumber");
  ASSERT_EQ(t->TagIsReadOnly(ctx, serial, &b), symResOk);
  EXPECT_EQ(b, TRUE);
  EXPECT_EQ(t->TagSetValue(ctx, serial, "x", 2), symResReadOnlyTag);
  EXPECT_EQ(t->TagSetValue(ctx, Tag("CntDint"), "xyz", 3), symResInvalidTagSize);

  // Forged, foreign and closed identifiers.
  std::uint32_t size = 0;
  EXPECT_EQ(t->TagGetDataSize(ctx, 0, &size), symResInvalidHandle);
  EXPECT_EQ(t->TagGetDataSize(ctx, temps + 100000, &size), symResInvalidHandle);
  std::uint32_t other = 0;
  ASSERT_EQ(t->Open(0, 0, 0, &other), symResOk);
  EXPECT_EQ(t->TagGetDataSize(other, temps, &size), symResInvalidHandle);
  EXPECT_EQ(t->TagClose(ctx, temps), symResOk);
  EXPECT_EQ(t->TagGetDataSize(ctx, temps, &size), symResInvalidHandle);
  EXPECT_EQ(t->TagGetDataSize(ctx, serial, nullptr), symResInvalidParameter);
}

TEST_F(Host, TypeAndGroupEntries) {
  std::uint32_t line = 0, child = 0, again = 0;
  ASSERT_EQ(t->TagGetType(ctx, Tag("Line"), &line), symResOk);
  EXPECT_EQ(Text([&](char** p) { return t->TypeGetName(ctx, line, p); }), "LINE");
  EXPECT_EQ(Text([&](char** p) { return t->TypeGetChildName(ctx, line, 5, p); }), "Outfeed");
  ASSERT_EQ(t->TypeGetChild(ctx, line, 5, &child), symResOk);
  ASSERT_EQ(t->TypeGetChildByName(ctx, line, "INFEED", &again), symResOk);
  EXPECT_EQ(child, again);
  EXPECT_EQ(t->TypeGetChildByName(ctx, line, nullptr, &again), symResSymbolNotFound);
  bool_t b = 0;
  ASSERT_EQ(t->TypeIsFunctionBlock(ctx, child, &b), symResOk);
  EXPECT_EQ(b, TRUE);
  EXPECT_EQ(t->TagGetDataSize(ctx, child, &again), symResInvalidHandle);  // a type is no tag

  std::uint32_t grid = 0, dims[3] = {7, 7, 7};
  ASSERT_EQ(t->TagGetType(ctx, Tag("Grid"), &grid), symResOk);
  EXPECT_EQ(t->TypeGetArrayDimensions(ctx, grid, dims, 1), symResInvalidParameter);
  EXPECT_EQ(dims[0], 7u);
  ASSERT_EQ(t->TypeGetArrayDimensions(ctx, grid, dims, 3), symResOk);
  EXPECT_EQ(dims[0] * 10 + dims[1], 34u);
  EXPECT_EQ(dims[2], 7u);

  std::uint32_t g = 0, size = 0;
  ASSERT_EQ(t->CreateGroup(ctx, &g), symResOk);
  std::uint32_t cnt = Tag("CntInt"), energy = Tag("TotalEnergy");
  ASSERT_EQ(t->GroupAddTag(ctx, g, cnt, &size), symResOk);
  EXPECT_EQ(size, 2u);
  ASSERT_EQ(t->GroupAddTag(ctx, g, energy, &size), symResOk);
  EXPECT_EQ(t->GroupAddTag(ctx, g, cnt, &size), symResHandleAlreadyExists);
  EXPECT_EQ(t->GroupAddTag(ctx, g, line, &size), symResInvalidGroupTag);
  std::uint8_t values[10] = {};
  EXPECT_EQ(t->GroupRead(ctx, g, values, 9), symResInvalidGroupSize);
  ASSERT_EQ(t->GroupRead(ctx, g, values, 10), symResOk);
  double energy_value = 0;
  std::memcpy(&energy_value, values + 2, 8);
  EXPECT_EQ(energy_value, 123456.789);
  values[0] = 5;
  values[1] = 0;
  ASSERT_EQ(t->GroupWrite(ctx, g, values, 10), symResOk);
  std::int16_t cnt_value = 0;
  std::uint32_t count = 0;
  ASSERT_EQ(t->TagGetValue(ctx, cnt, &cnt_value, 2, &count), symResOk);
  EXPECT_EQ(cnt_value, 5);
  EXPECT_EQ(t->GroupRemoveTag(ctx, g, cnt), symResOk);
  EXPECT_EQ(t->GroupDelete(ctx, g), symResOk);
  EXPECT_EQ(t->GroupRead(ctx, g, values, 8), symResInvalidHandle);
}

TEST(HostTableLife, SlotsAndShutdown) {
  auto model = simtest::Demo();
  const QXSymDirectAccessTable* stale;
  std::uint32_t ctx = 0;
  {
    HostTable host(model);
    stale = host.table();
    QXSymServerAddress address;
    host.FillAddress(&address);
    const QXSymDirectAccessTable* carried = nullptr;
    std::memcpy(&carried, address.ip, sizeof carried);
    EXPECT_EQ(carried, stale);
    EXPECT_EQ(address.protocol, symProtDirectAccess);
    ASSERT_EQ(stale->Open(0, 0, 0, &ctx), symResOk);
  }
  // The table outlives its host object and refuses politely.
  EXPECT_EQ(stale->IsValid(ctx), symResShutdownInProgress);

  std::vector<std::unique_ptr<HostTable>> hosts;
  for (int i = 0; i < HostTable::kSlots; ++i) hosts.push_back(std::make_unique<HostTable>(model));
  EXPECT_THROW(HostTable extra(model), std::runtime_error);
  EXPECT_NE(hosts[0]->table(), hosts[1]->table());
  hosts.pop_back();
  EXPECT_NO_THROW(HostTable again(model));
}

TEST(HostTableLife, ConcurrentCallers) {
  HostTable host(simtest::Demo());
  const QXSymDirectAccessTable* t = host.table();
  std::vector<std::thread> threads;
  for (int k = 0; k < 4; ++k) {
    threads.emplace_back([t, k] {
      std::uint32_t ctx = 0;
      ASSERT_EQ(t->Open(0, 0, 0, &ctx), symResOk);
      for (int i = 0; i < 300; ++i) {
        std::uint32_t id, tyvar, size, full;
        ASSERT_EQ(t->GetGlobalTag(ctx, k % 2 ? "Line.Speed" : "CntDint", &id, &tyvar, &size, &full),
                  symResOk);
        std::int32_t v = i;
        EXPECT_EQ(t->TagSetValue(ctx, id, &v, 4), symResOk);
        char* name = nullptr;
        EXPECT_EQ(t->TagGetName(ctx, id, &name), symResOk);
        std::free(name);
        EXPECT_EQ(t->TagClose(ctx, id), symResOk);
      }
      EXPECT_EQ(t->Close(ctx), symResOk);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(host.service().object_count(), 0u);
}

}  // namespace
