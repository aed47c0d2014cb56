// The symbol model: loading, layout, initial values, faults in model files,
// the memory image and the variable table.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "SimTestUtil.h"
#include "Text.h"
#include "Values.h"

namespace {

using qxsym::sim::SymbolModel;
using qxsym::sim::SymbolView;
using simtest::As;
using simtest::Bytes;
using simtest::BytesOf;

const std::uint32_t kOrigin[3] = {0, 0, 0};

SymbolView View(const SymbolModel& m, const std::string& path) {
  SymbolView v;
  EXPECT_EQ(m.Resolve(path, &v), symResOk) << path;
  return v;
}

Bytes Read(const SymbolModel& m, const std::string& path) {
  Bytes out;
  EXPECT_EQ(m.ReadValue(View(m, path), kOrigin, &out), symResOk) << path;
  return out;
}

TEST(SymbolModel, DemoLayoutAndInitialValues) {
  auto m = simtest::Demo();
  ASSERT_NE(m, nullptr);
  // Bit tags share one byte at the start of the image.
  EXPECT_EQ(m->FindTag("estopok")->address, 0x00100000u);
  EXPECT_EQ(m->FindTag("DoorClosed")->address, 0x00100000u);
  std::uint8_t byte = 0;
  ASSERT_TRUE(m->ReadMemory(0x00100000, 1, &byte));
  EXPECT_EQ(byte, 0x03);  // EStopOk and DoorClosed start true

  // Other tags follow, aligned to their natural size.
  for (const auto& tag : m->tags()) {
    EXPECT_EQ(tag.address % tag.type->align, 0u) << tag.name;
  }
  EXPECT_EQ(As<std::int64_t>(Read(*m, "CntLint")), -9000000000000000000LL);
  EXPECT_EQ(As<std::uint64_t>(Read(*m, "CntUlint")), 18000000000000000000ULL);
  EXPECT_EQ(As<double>(Read(*m, "TotalEnergy")), 123456.789);

  // Member defaults reach every instance; explicit values win.
  EXPECT_EQ(As<float>(Read(*m, "Line.Infeed.SetSpeed")), 1450.0f);
  EXPECT_EQ(As<float>(Read(*m, "Line.Main.SetSpeed")), 1500.0f);
  EXPECT_EQ(As<float>(Read(*m, "Spares[2].SetSpeed")), 1450.0f);
  EXPECT_EQ(As<std::uint16_t>(Read(*m, "Line.Outfeed.FaultCode")), 4660);

  // Nested rows start at their row, also when a row is short.
  EXPECT_EQ(Read(*m, "Pallet[1,2]"), Bytes{1});
  EXPECT_EQ(Read(*m, "Pallet[1,3]"), Bytes{0});
  EXPECT_EQ(Read(*m, "Pallet[2,1]"), Bytes{1});
  EXPECT_EQ(Read(*m, "Pallet[2,2]"), Bytes{0});
  EXPECT_EQ(As<std::int16_t>(Read(*m, "grid[2, 3]")), 12);
  EXPECT_EQ(As<float>(Read(*m, "Heatmap[2,1,4]")), 16.5f);
  EXPECT_EQ(As<std::int16_t>(Read(*m, "RecipeBook[1].StepTemps[1]")), 0);
  EXPECT_EQ(As<std::int16_t>(Read(*m, "Recipe.StepTemps[5]")), 185);

  Bytes name = Read(*m, "Recipe.Name");
  EXPECT_EQ(name.size(), 33u);
  EXPECT_STREQ(reinterpret_cast<const char*>(name.data()), "Shortbread 250g");
}

TEST(SymbolModel, PathsResolveCaseInsensitivelyToCanonicalNames) {
  auto m = simtest::Demo();
  SymbolView v = View(*m, " line . main.SETSPEED ");
  EXPECT_EQ(v.name, "Line.Main.SetSpeed");
  EXPECT_EQ(*v.description, "Speed set point");
  EXPECT_EQ(View(*m, "heatmap[2,3,4]").name, "Heatmap[2,3,4]");
  EXPECT_EQ(View(*m, "Grid[0,0]").address, m->FindTag("Grid")->address);
  EXPECT_EQ(View(*m, "Grid[1,0]").address, m->FindTag("Grid")->address + 8);

  SymbolView out;
  EXPECT_EQ(m->Resolve("Temps[0]", &out), symResInvalidArrayIndex);
  EXPECT_EQ(m->Resolve("Temps[9]", &out), symResInvalidArrayIndex);
  EXPECT_EQ(m->Resolve("Grid[3,0]", &out), symResInvalidArrayIndex);
  for (const char* bad : {"", "Nope", "Line.Nope", "Temps[1", "Temps[1,1]", "Grid[1]", "Line[1]",
                          "CntInt.x", "Temps[1]]", "Line..Speed", "Temps[99999999999]"}) {
    EXPECT_EQ(m->Resolve(bad, &out), symResSymbolNotFound) << bad;
  }
}

TEST(SymbolModel, GlobMatching) {
  using qxsym::sim::GlobMatch;
  EXPECT_TRUE(GlobMatch("cnt*", "CntDint"));
  EXPECT_TRUE(GlobMatch("C?t?int", "CntSint"));
  EXPECT_FALSE(GlobMatch("C?t?int", "CntUsint"));
  EXPECT_TRUE(GlobMatch("*a*b*", "xxAyyB"));
  EXPECT_FALSE(GlobMatch("*a*b", "xxAyyBc"));
  EXPECT_TRUE(GlobMatch("**", ""));
  EXPECT_FALSE(GlobMatch("?", ""));
  auto m = simtest::Demo();
  EXPECT_EQ(m->Match("cnt?int").size(), 4u);  // SINT, UINT, DINT, LINT
  EXPECT_EQ(m->Match("").size(), m->tags().size());
}

struct BadModel {
  const char* json;
  const char* expected;  // part of the message
};

TEST(SymbolModel, InvalidModelsAreRefusedWithFileAndPlace) {
  const BadModel cases[] = {
      {"{\"tags\": [ {\"name\": \"A\" ", "invalid JSON"},
      {"[1]", "expected an object"},
      {"{}", "missing 'tags'"},
      {R"({"tags":[{"name":"A","type":"FOO"}]})", "tags[0] (A).type: unknown type 'FOO'"},
      {R"({"tags":[{"name":"A","type":"DINT","adress":1}]})", "unknown key 'adress'"},
      {R"({"tags":[{"name":"A","type":"DINT"},{"name":"a","type":"INT"}]})", "declared twice"},
      {R"({"tags":[{"name":"A B","type":"DINT"}]})", "not a valid name"},
      {R"({"tags":[{"name":"A","type":"DINT","address":1048576},
                   {"name":"B","type":"INT","address":1048578}]})",
       "tags[1] (B).address: overlaps tag 'A'"},
      {R"({"tags":[{"name":"A","type":"BOOL","address":1048576,"bit":2},
                   {"name":"B","type":"BOOL","address":1048576,"bit":2}]})",
       "overlaps tag 'A'"},
      {R"({"tags":[{"name":"A","type":"BYTE","address":1048576},
                   {"name":"B","type":"BOOL","address":1048576,"bit":0}]})",
       "overlaps tag 'A'"},
      {R"({"tags":[{"name":"A","type":"DINT","address":16}]})", "outside the memory image"},
      {R"({"memory":{"size":4},"tags":[{"name":"A","type":"LREAL"}]})", "does not fit"},
      {R"({"tags":[{"name":"A","type":"INT","bit":1}]})", "only a BOOL"},
      {R"({"tags":[{"name":"A","type":"USINT","value":300}]})", "300 does not fit USINT"},
      {R"({"tags":[{"name":"A","type":"INT","value":1.5}]})", "does not fit INT"},
      {R"({"tags":[{"name":"A","type":"STRING[3]","value":"abcd"}]})", "longer than STRING[3]"},
      {R"({"tags":[{"name":"A","type":"ARRAY[1..2] OF INT","value":[1,2,3]}]})", "too many"},
      {R"({"tags":[{"name":"A","type":"ARRAY[2..1] OF INT"}]})", "empty"},
      {R"({"tags":[{"name":"A","type":"ARRAY[1..2,1..2,1..2,1..2] OF INT"}]})", "one to three"},
      {R"({"tags":[{"name":"A","type":"ARRAY[1..100000,1..100000] OF LREAL"}]})", "too large"},
      {R"({"tags":[{"name":"A","type":"STRING[0]"}]})", "1 to 65534"},
      {R"({"types":[{"name":"S","kind":"STRUCT","members":[{"name":"x","type":"S"}]}],
           "tags":[]})",
       "types[0] (S): the type contains itself"},
      {R"({"types":[{"name":"S","kind":"STRUCT","members":[{"name":"x","type":"INT"}]}],
           "tags":[{"name":"A","type":"S","value":{"y":1}}]})",
       "has no member 'y'"},
      {R"({"types":[{"name":"INT","kind":"STRUCT","members":[]}],"tags":[]})", "basic type"},
      {R"({"types":[{"name":"S","kind":"UNION","members":[]}],"tags":[]})", "kind must be"},
      {R"({"tags":[{"name":"A","type":"REAL","simulate":{"kind":"toggle"}}]})", "toggle needs"},
      {R"({"tags":[{"name":"A","type":"INT"}],"simulate":[{"path":"B","kind":"counter"}]})",
       "simulate[0].path: no symbol 'B'"},
      {R"({"tags":[{"name":"A","type":"ARRAY[1..2] OF INT"}],"variables":["A"]})",
       "variables[0]: a variable is a basic value"},
  };
  for (const BadModel& c : cases) {
    std::string error;
    EXPECT_EQ(SymbolModel::LoadString(c.json, &error, "bad.json"), nullptr) << c.json;
    EXPECT_EQ(error.rfind("bad.json: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << "got: " << error;
  }
  std::string error;
  EXPECT_EQ(SymbolModel::LoadFile("/nonexistent/model.json", &error), nullptr);
  EXPECT_NE(error.find("/nonexistent/model.json"), std::string::npos);
}

TEST(SymbolModel, MemoryImageBounds) {
  auto m = simtest::Demo();
  const std::uint64_t base = m->memory_base(), size = m->memory_size();
  EXPECT_EQ(size, 65536u);
  std::uint8_t buf[16] = {};
  EXPECT_TRUE(m->ReadMemory(base + size - 16, 16, buf));
  EXPECT_FALSE(m->ReadMemory(base + size - 15, 16, buf));
  EXPECT_FALSE(m->ReadMemory(base - 1, 1, buf));
  EXPECT_FALSE(m->ReadMemory(base, static_cast<std::size_t>(-1), buf));
  EXPECT_FALSE(m->WriteMemory(~0ull, 2, buf));

  // A memory write is seen by the symbol that lives there.
  const std::int32_t v = 77;
  ASSERT_TRUE(
      m->WriteMemory(m->FindTag("CntDint")->address, 4, reinterpret_cast<const std::uint8_t*>(&v)));
  EXPECT_EQ(As<std::int32_t>(Read(*m, "CntDint")), 77);
}

TEST(SymbolModel, VariableTableConvertsBetweenWireTypes) {
  using namespace qxsym::sim;
  auto m = simtest::Demo();
  Bytes out;
  // Index 0 is CntDint, -2000000000.
  ASSERT_EQ(m->ReadVariable(0, kVarAsDeclared, &out), symResOk);
  EXPECT_EQ(As<std::int32_t>(out), -2000000000);
  ASSERT_EQ(m->ReadVariable(0, kVarInt16, &out), symResOk);
  EXPECT_EQ(As<std::int16_t>(out), static_cast<std::int16_t>(-2000000000 & 0xFFFF));
  ASSERT_EQ(m->ReadVariable(0, kVarReal64, &out), symResOk);
  EXPECT_EQ(As<double>(out), -2000000000.0);
  ASSERT_EQ(m->ReadVariable(4, kVarString, &out), symResOk);  // Operator
  EXPECT_EQ(std::string(out.begin(), out.end()), std::string("Miller", 7));

  const float f = 123.75f;
  ASSERT_EQ(m->WriteVariable(0, kVarReal32, BytesOf(f).data(), 4), symResOk);
  EXPECT_EQ(As<std::int32_t>(Read(*m, "CntDint")), 123);
  EXPECT_EQ(m->WriteVariable(0, kVarReal32, BytesOf(f).data(), 3), symResInvalidBuffer);
  EXPECT_EQ(m->WriteVariable(7, kVarAsDeclared, out.data(), 4), symResReadOnlyTag);
  EXPECT_EQ(m->ReadVariable(0, kVarString, &out), symResInvalidParameter);
  EXPECT_EQ(m->ReadVariable(0, 42, &out), symResInvalidParameter);
  EXPECT_EQ(m->ReadVariable(9, kVarAsDeclared, &out), symResInvalidParameter);
  EXPECT_EQ(m->variable_count(), 9u);
}

TEST(SymbolModel, NumberConversionsHoldTheirRange) {
  using namespace qxsym::sim;
  auto m = simtest::Demo();
  std::uint8_t b[8] = {};
  StoreNumber(m->FindType("SINT"), Number::Float(1e9), b);
  EXPECT_EQ(static_cast<std::int8_t>(b[0]), 127);
  StoreNumber(m->FindType("USINT"), Number::Float(-5.0), b);
  EXPECT_EQ(b[0], 0);
  StoreNumber(m->FindType("UINT"), Number::Signed(70000), b);  // wraps like a cast
  EXPECT_EQ(b[0] | (b[1] << 8), 70000 - 65536);
  StoreNumber(m->FindType("LINT"), Number::Float(std::nan("")), b);
  EXPECT_EQ(LoadNumber(m->FindType("LINT"), b).i, 0);
  EXPECT_TRUE(NumberFits(m->FindType("ULINT"), Number::Unsigned(~0ull)));
  EXPECT_FALSE(NumberFits(m->FindType("LINT"), Number::Unsigned(~0ull)));
  EXPECT_FALSE(NumberFits(m->FindType("REAL"), Number::Float(1e300)));
}

}  // namespace
