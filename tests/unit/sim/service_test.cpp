// The symbol service over the demo model: exact replies of each command
// family, lookups, bounds, protection, references, filters and groups.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "SimTestUtil.h"

namespace {

using qxsym::sim::SymbolModel;
using qxsym::sim::SymbolService;
using simtest::As;
using simtest::Bytes;
using simtest::BytesOf;
using simtest::Client;
using simtest::RefAt;
using simtest::Req;
using simtest::Status;
using simtest::SymRef;
using simtest::U32At;
using simtest::U64At;

class Service : public ::testing::Test {
 protected:
  std::shared_ptr<SymbolModel> model = simtest::Demo();
  SymbolService service{model};
  Client c{service};
};

TEST_F(Service, VersionAndWorkspaces) {
  EXPECT_EQ(c.Call(Req(7)), (Bytes{7, 0, 0, 0, 3, 0, 1, 0}));
  service.SetVersion(3, 0, 0, 7);
  EXPECT_EQ(c.Call(Req(7)), (Bytes{7, 0, 0, 0, 3, 0, 0, 7}));

  Client other(service);
  EXPECT_NE(other.ws, c.ws);
  EXPECT_EQ(c.Call(Req(4).U8(1)).size(), 12u);
  EXPECT_EQ(c.Call(c.Ws(6)), (Bytes{6, 0, 0, 0}));
  SymRef tag = other.Tag("CntInt");
  EXPECT_EQ(c.Call(other.Ws(5)), (Bytes{5, 0, 0, 0}));
  EXPECT_EQ(Status(c.Call(other.Ws(6))), symResInvalidWorkspace);
  EXPECT_EQ(Status(other.Call(other.Obj(40, tag))), symResInvalidWorkspace);
  EXPECT_EQ(Status(c.Call(c.Ws(6))), symResOk);  // the first one is untouched

  SymRef forged = c.ws;
  forged.w1 ^= 1;
  EXPECT_EQ(Status(c.Call(Req(6).Ref(forged))), symResInvalidWorkspace);
}

TEST_F(Service, GlobalTagLookupReplies) {
  Bytes r = c.Call(c.Ws(10).Text("cntdint"));
  ASSERT_EQ(r.size(), 24u);
  EXPECT_EQ(U32At(r, 12), static_cast<std::uint32_t>(QXSymTyVarDInt));
  EXPECT_EQ(U32At(r, 16), 4u);
  EXPECT_EQ(U32At(r, 20), 4u);
  SymRef tag = RefAt(r, 4);
  EXPECT_EQ(c.Call(c.Obj(18, tag)),
            (Bytes{18, 0, 0, 0, 8, 0, 'C', 'n', 't', 'D', 'i', 'n', 't', 0}));

  // An array reports its element as the value, its whole memory as raw.
  r = c.Call(c.Ws(10).Text("Temps"));
  EXPECT_EQ(U32At(r, 12), static_cast<std::uint32_t>(QXSymTyVarReal));
  EXPECT_EQ(U32At(r, 16), 4u);
  EXPECT_EQ(U32At(r, 20), 32u);
  r = c.Call(c.Ws(10).Text("Line"));
  EXPECT_EQ(U32At(r, 12), static_cast<std::uint32_t>(QXSymTyVarUserDef));
  EXPECT_EQ(U32At(r, 16), U32At(r, 20));

  EXPECT_EQ(c.Text(18, c.Tag("line.main.setspeed")), "Line.Main.SetSpeed");
  EXPECT_EQ(As<float>(c.Value(c.Tag("line.main.setspeed"))), 1500.0f);
  EXPECT_EQ(As<float>(c.Value(c.Tag("temps[3]"))), 185.25f);
  EXPECT_EQ(As<std::int16_t>(c.Value(c.Tag("grid[1,2]"))), 7);
  EXPECT_EQ(Status(c.Call(c.Ws(10).Text("temps[9]"))), symResInvalidArrayIndex);
  EXPECT_EQ(Status(c.Call(c.Ws(10).Text("nosuch"))), symResSymbolNotFound);
  EXPECT_EQ(c.Call(c.Ws(10).Text("Line.Nope")), (Bytes{10, 0, symResSymbolNotFound, 0}));
}

TEST_F(Service, TagFacts) {
  SymRef temps = c.Tag("Temps");
  EXPECT_EQ(c.Text(19, temps), "ARRAY[1..8] OF REAL");
  EXPECT_EQ(c.Text(23, temps), "Oven zone temperatures");
  EXPECT_EQ(c.Call(c.Obj(17, temps).Text("UNIT")),
            (Bytes{17, 0, 0, 0, 5, 0, 'd', 'e', 'g', 'C', 0}));
  EXPECT_EQ(Status(c.Call(c.Obj(17, temps).Text("colour"))), symResAttributeNotFound);
  EXPECT_EQ(c.Call(c.Obj(17, c.Tag("Line.Speed")).Text("unit")).size(), 6u + 4);
  EXPECT_EQ(c.Call(c.Obj(24, temps)), (Bytes{24, 0, 0, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  Bytes dims = c.Call(c.Obj(24, c.Tag("Heatmap")));
  EXPECT_EQ(U32At(dims, 4), 2u);
  EXPECT_EQ(U32At(dims, 8), 3u);
  EXPECT_EQ(U32At(dims, 12), 4u);
  EXPECT_EQ(c.Call(c.Obj(21, c.Tag("SerialNumber"))), (Bytes{21, 0, 0, 0, 1}));
  EXPECT_EQ(c.Call(c.Obj(22, c.Tag("CntInt"))), (Bytes{22, 0, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(27, c.Tag("Operator"))), (Bytes{27, 0, 0, 0, QXSymTyVarString, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(20, c.Tag("Operator"))), (Bytes{20, 0, 0, 0, 81, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(89, c.Tag("Heatmap"))), (Bytes{89, 0, 0, 0, 96, 0, 0, 0}));
}

TEST_F(Service, ValuesElementsAndAddresses) {
  SymRef cnt = c.Tag("CntInt");
  EXPECT_EQ(c.Call(c.Obj(40, cnt)), (Bytes{40, 0, 0, 0, 2, 0, 0xC7, 0xCF}));  // -12345

  // A write is seen in the memory image at the address the service reports.
  EXPECT_EQ(c.Call(c.Obj(41, cnt).U16(2).U16(0x1234)), (Bytes{41, 0, 0, 0}));
  Bytes a = c.Call(c.Obj(26, cnt).U32(0).U32(0).U32(0));
  ASSERT_EQ(a.size(), 16u);
  std::uint8_t mem[2];
  ASSERT_TRUE(model->ReadMemory(U64At(a, 4), 2, mem));
  EXPECT_EQ(mem[0] | (mem[1] << 8), 0x1234);

  // Element indices count from 0 in every dimension, row by row.
  SymRef grid = c.Tag("Grid");
  Bytes g = c.Call(c.Obj(42, grid).U32(1).U32(2).U32(0));
  EXPECT_EQ(g, (Bytes{42, 0, 0, 0, 2, 0, 7, 0}));
  Bytes g0 = c.Call(c.Obj(26, grid).U32(0).U32(0).U32(0));
  Bytes g12 = c.Call(c.Obj(26, grid).U32(1).U32(2).U32(0));
  EXPECT_EQ(U64At(g12, 4) - U64At(g0, 4), 12u);
  for (auto idx : {std::vector<std::uint32_t>{3, 0, 0}, {0, 4, 0}, {0, 0, 1}, {0xFFFFFFFF, 0, 0}}) {
    EXPECT_EQ(Status(c.Call(c.Obj(42, grid).U32(idx[0]).U32(idx[1]).U32(idx[2]))),
              symResInvalidArrayIndex);
    EXPECT_EQ(Status(c.Call(c.Obj(43, grid).U32(idx[0]).U32(idx[1]).U32(idx[2]).U16(2).U16(1))),
              symResInvalidArrayIndex);
  }
  EXPECT_EQ(Status(c.Call(c.Obj(42, cnt).U32(1).U32(0).U32(0))), symResInvalidArrayIndex);

  SymRef heat = c.Tag("Heatmap");
  EXPECT_EQ(
      Status(c.Call(c.Obj(43, heat).U32(1).U32(2).U32(3).U16(4).Raw(BytesOf(-2.5f).data(), 4))),
      symResOk);
  EXPECT_EQ(As<float>(c.Value(c.Tag("Heatmap[2,3,4]"))), -2.5f);

  // The value of an array is its first element; the raw read is all of it.
  EXPECT_EQ(As<float>(c.Value(c.Tag("Temps"))), 180.5f);
  Bytes raw = c.Call(c.Obj(44, c.Tag("Temps")).U32(4).U32(8));
  ASSERT_EQ(raw.size(), 16u);
  EXPECT_EQ(U32At(raw, 4), 8u);
  EXPECT_EQ(Status(c.Call(c.Obj(44, c.Tag("Temps")).U32(4).U32(29))), symResInvalidParameter);
  EXPECT_EQ(Status(c.Call(c.Obj(44, c.Tag("Temps")).U32(0xFFFFFFFF).U32(2))),
            symResInvalidParameter);
  EXPECT_EQ(c.Call(c.Obj(45, c.Tag("Temps")).U32(28).U32(4).Raw(BytesOf(1.0f).data(), 4)),
            (Bytes{45, 0, 0, 0}));
  EXPECT_EQ(As<float>(c.Value(c.Tag("Temps[8]"))), 1.0f);
}

TEST_F(Service, SizesStringsAndProtection) {
  SymRef op = c.Tag("Operator");
  EXPECT_EQ(Status(c.Call(c.Obj(41, op).U16(6).Raw("Smith", 6))), symResOk);
  Bytes v = c.Value(op);
  ASSERT_EQ(v.size(), 81u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(v.data())), "Smith");
  EXPECT_EQ(v[6], 0);  // the rest of the old text is gone
  Bytes full(81, 'x');
  EXPECT_EQ(Status(c.Call(c.Obj(41, op).U16(81).Raw(full.data(), 81))), symResOk);
  EXPECT_EQ(c.Value(op)[80], 0);  // the terminator stays
  EXPECT_EQ(Status(c.Call(c.Obj(41, op).U16(82).Raw(Bytes(82, 'y').data(), 82))),
            symResInvalidTagSize);
  EXPECT_EQ(Status(c.Call(c.Obj(41, c.Tag("CntDint")).U16(3).Raw("abc", 3))), symResInvalidTagSize);

  for (const char* name : {"SerialNumber", "ZoneSetpoints", "EStopOk"}) {
    SymRef t = c.Tag(name);
    EXPECT_EQ(Status(c.Call(c.Obj(43, t).U32(0).U32(0).U32(0).U16(1).U8(0))), symResReadOnlyTag)
        << name;
    EXPECT_EQ(Status(c.Call(c.Obj(45, t).U32(0).U32(1).U8(0))), symResReadOnlyTag) << name;
  }

  // A bit tag changes its own bit only, and refuses a whole-byte write.
  SymRef door = c.Tag("DoorClosed");
  EXPECT_EQ(c.Call(c.Obj(22, door)), (Bytes{22, 0, 0, 0, 1}));
  Bytes a = c.Call(c.Obj(26, door).U32(0).U32(0).U32(0));
  EXPECT_EQ(U64At(a, 4), 0x00100000u);
  EXPECT_EQ(U32At(a, 12), 1u);
  EXPECT_EQ(Status(c.Call(c.Obj(41, door).U16(1).U8(0))), symResOk);
  EXPECT_EQ(c.Value(door), Bytes{0});
  EXPECT_EQ(c.Call(c.Obj(44, door).U32(0).U32(1)), (Bytes{44, 0, 0, 0, 1, 0, 0, 0, 0x01}));
  EXPECT_EQ(Status(c.Call(c.Obj(45, door).U32(0).U32(1).U8(0xFF))), symResBitCommandRequired);
  EXPECT_EQ(Status(c.Call(c.Obj(41, door).U16(1).U8(7))), symResOk);
  EXPECT_EQ(c.Call(c.Obj(44, door).U32(0).U32(1)), (Bytes{44, 0, 0, 0, 1, 0, 0, 0, 0x03}));
}

TEST_F(Service, ForgedAndStaleReferences) {
  SymRef tag = c.Tag("CntInt");
  SymRef forged = tag;
  forged.w1 ^= 0x80;
  EXPECT_EQ(Status(c.Call(c.Obj(40, forged))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(40, SymRef{}))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(80, tag))), symResInvalidHandle);  // a tag is no type
  SymRef type = RefAt(c.Call(c.Obj(70, tag)), 4);
  EXPECT_EQ(Status(c.Call(c.Obj(40, type))), symResInvalidHandle);

  Client other(service);
  EXPECT_EQ(Status(other.Call(other.Obj(40, tag))), symResInvalidHandle);
  EXPECT_EQ(c.Call(c.Obj(11, tag)), (Bytes{11, 0, 0, 0}));
  EXPECT_EQ(Status(c.Call(c.Obj(40, tag))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(11, tag))), symResInvalidHandle);
  EXPECT_NE(c.Tag("CntInt"), tag);  // ids are never reused
}

TEST_F(Service, ListsAndFilters) {
  const std::uint32_t n = static_cast<std::uint32_t>(model->tags().size());
  EXPECT_EQ(U32At(c.Call(c.Ws(12)), 4), n);
  Bytes all = c.Call(c.Ws(91));
  ASSERT_EQ(all.size(), 20u + 8 * n);
  EXPECT_EQ(U32At(all, 12), 8 * n);
  EXPECT_EQ(U32At(all, 16), n);
  for (std::uint32_t i = 0; i < n; ++i) {
    EXPECT_EQ(c.Text(18, RefAt(all, 20 + 8 * i)), model->tags()[i].name);
  }

  Bytes some = c.Call(c.Ws(110).Field("cnt?int"));
  ASSERT_EQ(U32At(some, 16), 4u);
  EXPECT_EQ(c.Text(18, RefAt(some, 20)), "CntSint");
  EXPECT_EQ(c.Call(c.Ws(111).Field("CNT*")), (Bytes{111, 0, 0, 0, 8, 0, 0, 0}));
  EXPECT_EQ(U32At(c.Call(c.Ws(111).Field("")), 4), n);  // empty filter: all
  EXPECT_EQ(c.Call(c.Ws(110).Field("zz*")),
            (Bytes{110, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(ServiceScale, TagListsThatDoNotFitOverflow) {
  std::string json = R"({"tags":[{"name":"X","type":"INT"})";
  for (int i = 0; i < 500; ++i) {
    json += std::string(R"(,{"name":"T)") + std::to_string(i) + R"(","type":"INT"})";
  }
  std::string error;
  auto model = SymbolModel::LoadString(json + "]}", &error);
  ASSERT_NE(model, nullptr) << error;
  SymbolService service(model);
  Client c(service);
  EXPECT_EQ(c.Call(c.Ws(91)), (Bytes{91, 0, symResBufferOverflow, 0}));
  EXPECT_EQ(c.Call(c.Ws(110).Field("*")), (Bytes{110, 0, symResBufferOverflow, 0}));
  EXPECT_EQ(service.object_count(), 0u);  // nothing was issued
  Bytes full = c.Call(c.Ws(110).Field("t*"));
  EXPECT_EQ(full.size(), 4020u);  // exactly the client's capacity
  EXPECT_EQ(U32At(full, 16), 500u);
}

TEST(ServiceScale, RegistryLimits) {
  SymbolService::Limits limits;
  limits.max_workspaces = 2;
  limits.max_objects_per_workspace = 3;
  SymbolService service(simtest::Demo(), limits);
  Client a(service), b(service);
  Bytes r;
  service.Handle(Req(4).U8(0).bytes.data(), 3, r);
  EXPECT_EQ(r, (Bytes{4, 0, symResMaxReached, 0}));
  a.Tag("CntInt");
  a.Tag("CntInt");
  EXPECT_EQ(Status(a.Call(a.Ws(110).Field("cnt?int"))), symResMaxReached);
  a.Tag("CntInt");
  EXPECT_EQ(Status(a.Call(a.Ws(10).Text("CntInt"))), symResMaxReached);
  EXPECT_EQ(Status(a.Call(a.Ws(100))), symResMaxReached);
  b.Tag("CntInt");  // the other workspace has its own room
  a.Call(a.Ws(5));
  EXPECT_EQ(service.object_count(), 1u);
}

TEST_F(Service, TypeQueries) {
  SymRef line = RefAt(c.Call(c.Obj(70, c.Tag("Line"))), 4);
  Bytes name = c.Call(c.Obj(81, line));
  ASSERT_EQ(name.size(), 266u);
  EXPECT_EQ(simtest::U16At(name, 4), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(name.data() + 6)), "LINE");
  EXPECT_EQ(name[265], 0);
  EXPECT_EQ(c.Call(c.Obj(90, line)),
            (Bytes{90, 0, 0, 0, QXSymTypeIsComplex | QXSymTypeIsStruct, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(75, line)), (Bytes{75, 0, 0, 0, 1}));
  EXPECT_EQ(c.Call(c.Obj(71, line)), (Bytes{71, 0, 0, 0, 0}));
  EXPECT_EQ(U32At(c.Call(c.Obj(82, line)), 4), 7u);
  Bytes child = c.Call(c.Obj(85, line).U32(3));
  ASSERT_EQ(child.size(), 266u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(child.data() + 6)), "Infeed");
  EXPECT_EQ(Status(c.Call(c.Obj(85, line).U32(7))), symResInvalidParameter);
  SymRef motor = RefAt(c.Call(c.Obj(83, line).U32(4)), 4);
  EXPECT_EQ(RefAt(c.Call(c.Obj(84, line).Text("main")), 4), motor);  // one reference per type
  EXPECT_EQ(c.Text(81, motor), "MOTOR");
  EXPECT_EQ(c.Call(c.Obj(76, motor)), (Bytes{76, 0, 0, 0, 1}));
  EXPECT_EQ(Status(c.Call(c.Obj(84, line).Text("Nope"))), symResSymbolNotFound);
  EXPECT_EQ(Status(c.Call(c.Obj(83, line).U32(99))), symResInvalidParameter);

  SymRef heat = RefAt(c.Call(c.Obj(70, c.Tag("Heatmap"))), 4);
  EXPECT_EQ(c.Text(81, heat), "ARRAY[1..2,1..3,1..4] OF REAL");
  EXPECT_EQ(c.Call(c.Obj(88, heat)),
            (Bytes{88, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0, 4, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(87, heat).U32(2)), (Bytes{87, 0, 0, 0, 4, 0, 0, 0}));
  EXPECT_EQ(Status(c.Call(c.Obj(87, heat).U32(3))), symResInvalidParameter);
  EXPECT_EQ(U32At(c.Call(c.Obj(80, heat)), 4), 96u);
  SymRef real = RefAt(c.Call(c.Obj(83, heat).U32(0)), 4);
  EXPECT_EQ(U32At(c.Call(c.Obj(90, real)), 4),
            static_cast<std::uint32_t>(QXSymTypeIsBasic | QXSymTypeIsNumeric | QXSymTypeIsSigned));
  SymRef uint = RefAt(c.Call(c.Obj(70, c.Tag("CntUint"))), 4);
  EXPECT_EQ(U32At(c.Call(c.Obj(90, uint)), 4),
            static_cast<std::uint32_t>(QXSymTypeIsBasic | QXSymTypeIsNumeric | QXSymTypeIsInteger));
  EXPECT_EQ(c.Call(c.Obj(86, uint)), (Bytes{86, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(c.Call(c.Obj(88, uint)), (Bytes{88, 0, 0, 0, 0, 0, 0, 0}));
  SymRef str = RefAt(c.Call(c.Obj(70, c.Tag("Operator"))), 4);
  EXPECT_EQ(c.Call(c.Obj(73, str)), (Bytes{73, 0, 0, 0, 1}));
}

TEST_F(Service, Groups) {
  SymRef g = RefAt(c.Call(c.Ws(100)), 4);
  SymRef cnt = c.Tag("CntInt"), dint = c.Tag("CntDint"), temps = c.Tag("Temps");
  EXPECT_EQ(c.Call(c.Obj(104, g).U32(0)), (Bytes{104, 0, symResGroupIsEmpty, 0}));
  EXPECT_EQ(c.Call(c.Obj(102, g).Ref(cnt)), (Bytes{102, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(U32At(c.Call(c.Obj(102, g).Ref(dint)), 4), 4u);
  EXPECT_EQ(U32At(c.Call(c.Obj(102, g).Ref(temps)), 4), 4u);
  EXPECT_EQ(Status(c.Call(c.Obj(102, g).Ref(cnt))), symResHandleAlreadyExists);
  SymRef forged = cnt;
  forged.w1 ^= 1;
  EXPECT_EQ(Status(c.Call(c.Obj(102, g).Ref(forged))), symResInvalidGroupTag);

  Bytes r = c.Call(c.Obj(104, g).U32(10));
  ASSERT_EQ(r.size(), 18u);
  EXPECT_EQ(U32At(r, 4), 10u);
  EXPECT_EQ(r[8] | (r[9] << 8), 0xCFC7);
  EXPECT_EQ(Status(c.Call(c.Obj(104, g).U32(9))), symResInvalidGroupSize);

  Bytes values = {1, 0, 2, 0, 0, 0, 0, 0, 0x40, 0x40};  // 1, 2, 3.0f
  EXPECT_EQ(c.Call(c.Obj(105, g).U32(10).Raw(values.data(), 10)), (Bytes{105, 0, 0, 0}));
  EXPECT_EQ(As<std::int32_t>(c.Value(dint)), 2);
  EXPECT_EQ(As<float>(c.Value(temps)), 3.0f);
  EXPECT_EQ(Status(c.Call(c.Obj(105, g).U32(10).Raw(values.data(), 9))), symResInvalidParameter);

  // A read-only member refuses the whole write; nothing changes.
  SymRef serial = c.Tag("FirmwareBuild");
  c.Call(c.Obj(102, g).Ref(serial));
  values[0] = 9;
  values.resize(14, 0);
  EXPECT_EQ(Status(c.Call(c.Obj(105, g).U32(14).Raw(values.data(), 14))), symResReadOnlyTag);
  EXPECT_EQ(As<std::int16_t>(c.Value(cnt)), 1);

  // Members outlive their closed tag until removed.
  c.Call(c.Obj(11, dint));
  EXPECT_EQ(Status(c.Call(c.Obj(104, g).U32(14))), symResOk);
  EXPECT_EQ(c.Call(c.Obj(103, g).Ref(dint)), (Bytes{103, 0, 0, 0}));
  EXPECT_EQ(Status(c.Call(c.Obj(103, g).Ref(dint))), symResInvalidGroupTag);
  EXPECT_EQ(Status(c.Call(c.Obj(104, g).U32(10))), symResOk);

  EXPECT_EQ(c.Call(c.Obj(101, g)), (Bytes{101, 0, 0, 0}));
  EXPECT_EQ(Status(c.Call(c.Obj(104, g).U32(10))), symResInvalidHandle);
}

TEST_F(Service, SymbolTableDownload) {
  const std::string& file = model->source_bytes();
  Bytes size = c.Call(c.Ws(8));
  ASSERT_EQ(size.size(), 8u);
  EXPECT_EQ(U32At(size, 4), file.size());
  Bytes all = c.Call(c.Ws(9).U32(static_cast<std::uint32_t>(file.size())));
  ASSERT_EQ(all.size(), file.size() + 4);
  EXPECT_EQ(std::string(all.begin() + 4, all.end()), file);
  EXPECT_EQ(c.Call(c.Ws(9).U32(5)).size(), 9u);
  EXPECT_EQ(Status(c.Call(c.Ws(9).U32(static_cast<std::uint32_t>(file.size() + 1)))),
            symResInvalidParameter);
  EXPECT_EQ(Status(c.Call(c.Ws(9).U32(0xFFFFFFFF))), symResInvalidParameter);
}

TEST_F(Service, ConcurrentClients) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([this, t] {
      Client mine(service);
      SymRef g = RefAt(mine.Call(mine.Ws(100)), 4);
      for (int i = 0; i < 200; ++i) {
        SymRef tag = mine.Tag(t % 2 ? "CntDint" : "Line.Speed");
        mine.Call(mine.Obj(102, g).Ref(tag));
        mine.Call(mine.Obj(41, tag).U16(4).U32(static_cast<std::uint32_t>(i)));
        mine.Call(mine.Obj(103, g).Ref(tag));
        mine.Call(mine.Obj(11, tag));
      }
      mine.Call(mine.Ws(5));
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(service.workspace_count(), 1u);
  EXPECT_EQ(service.object_count(), 0u);
}

}  // namespace
