// A change of program under open workspaces: what becomes of the references
// issued before, which values a tag keeps, that requests racing with the
// swap see one model whole, and that the live scan follows the new model.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "LiveScan.h"
#include "SimTestUtil.h"

namespace {

using qxsym::sim::LiveScan;
using qxsym::sim::SymbolModel;
using qxsym::sim::SymbolService;
using simtest::As;
using simtest::Bytes;
using simtest::BytesOf;
using simtest::Client;
using simtest::RefAt;
using simtest::Status;
using simtest::SymRef;
using simtest::U32At;

std::shared_ptr<SymbolModel> Load(const std::string& json) {
  std::string error;
  auto model = SymbolModel::LoadString(json, &error);
  EXPECT_NE(model, nullptr) << error;
  return model;
}

// The first program and the one downloaded after it: Speed survives, Mode
// changes its type, Gone vanishes, Recipe's type grows a member, Added is
// new, and the bit tag Ready moves to a byte of its own.
const char* const kBefore = R"({ "name": "before",
  "types": [ { "name": "RECIPE", "kind": "STRUCT",
               "members": [ { "name": "Id", "type": "DINT" } ] } ],
  "tags": [
    { "name": "Speed", "type": "REAL", "value": 1.5 },
    { "name": "Mode", "type": "INT", "value": 3 },
    { "name": "Gone", "type": "DINT", "value": 9 },
    { "name": "Recipe", "type": "RECIPE", "value": { "Id": 4 } },
    { "name": "Ready", "type": "BOOL", "address": "0x00100040", "bit": 5 },
    { "name": "Count", "type": "DINT", "simulate": { "kind": "counter", "step": 1 } } ] })";

const char* const kAfter = R"({ "name": "after",
  "types": [ { "name": "RECIPE", "kind": "STRUCT",
               "members": [ { "name": "Id", "type": "DINT" },
                            { "name": "Temp", "type": "REAL" } ] } ],
  "tags": [
    { "name": "Added", "type": "DINT", "value": 77 },
    { "name": "Mode", "type": "LREAL", "value": 2.25 },
    { "name": "speed", "type": "real", "value": 8.0 },
    { "name": "Recipe", "type": "RECIPE", "value": { "Id": 5 } },
    { "name": "Ready", "type": "BOOL" },
    { "name": "Count", "type": "DINT", "value": 100,
      "simulate": { "kind": "counter", "step": 10 } } ] })";

class Reload : public ::testing::Test {
 protected:
  std::shared_ptr<SymbolModel> before = Load(kBefore);
  std::shared_ptr<SymbolModel> after = Load(kAfter);
  SymbolService service{before};
  Client c{service};
};

TEST_F(Reload, EveryReferenceIssuedBeforeIsUnknownAndTheWorkspacesStay) {
  Client other(service);
  const SymRef speed = c.Tag("Speed");
  const SymRef mode = c.Tag("Mode");
  const SymRef type = RefAt(c.Call(c.Obj(70, speed)), 4);
  const SymRef group = RefAt(c.Call(c.Ws(100)), 4);
  ASSERT_EQ(Status(c.Call(c.Obj(102, group).Ref(speed))), symResOk);
  const SymRef elsewhere = other.Tag("Gone");

  service.Reload(after);
  EXPECT_EQ(service.object_count(), 0u);
  EXPECT_EQ(Status(c.Call(c.Ws(6))), symResOk);
  EXPECT_EQ(Status(other.Call(other.Ws(6))), symResOk);
  // Values, facts, close, type queries and groups alike.
  for (const SymRef& tag : {speed, mode}) {
    EXPECT_EQ(Status(c.Call(c.Obj(40, tag))), symResInvalidHandle);
    EXPECT_EQ(Status(c.Call(c.Obj(41, tag).U16(4).Raw(BytesOf(1.0f).data(), 4))),
              symResInvalidHandle);
    EXPECT_EQ(Status(c.Call(c.Obj(18, tag))), symResInvalidHandle);
    EXPECT_EQ(Status(c.Call(c.Obj(70, tag))), symResInvalidHandle);
    EXPECT_EQ(Status(c.Call(c.Obj(11, tag))), symResInvalidHandle);
  }
  EXPECT_EQ(Status(other.Call(other.Obj(40, elsewhere))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(81, type))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(104, group).U32(4))), symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(105, group).U32(4).Raw(BytesOf(1.0f).data(), 4))),
            symResInvalidHandle);
  EXPECT_EQ(Status(c.Call(c.Obj(101, group))), symResInvalidHandle);

  // New references never take an old id, and an old tag cannot join a new
  // group; the type of the same name is a new object.
  const SymRef again = c.Tag("Speed");
  for (const SymRef& old : {speed, mode, type, group, elsewhere}) EXPECT_NE(again.w0, old.w0);
  EXPECT_GT(again.w0, group.w0);
  const SymRef fresh_group = RefAt(c.Call(c.Ws(100)), 4);
  EXPECT_EQ(Status(c.Call(c.Obj(102, fresh_group).Ref(speed))), symResInvalidGroupTag);
  EXPECT_EQ(Status(c.Call(c.Obj(102, fresh_group).Ref(again))), symResOk);
  const SymRef new_type = RefAt(c.Call(c.Obj(70, again)), 4);
  EXPECT_NE(new_type.w0, type.w0);
  EXPECT_EQ(c.Text(81, new_type), "REAL");
}

TEST_F(Reload, LookupsAndTheSymbolTableAreTheNewProgramsOwn) {
  EXPECT_EQ(U32At(c.Call(c.Ws(8)), 4), before->source_bytes().size());
  service.Reload(after);
  EXPECT_EQ(U32At(c.Call(c.Ws(8)), 4), after->source_bytes().size());
  Bytes table = c.Call(c.Ws(9).U32(U32At(c.Call(c.Ws(8)), 4)));
  EXPECT_EQ(std::string(table.end() - static_cast<long>(after->source_bytes().size()), table.end()),
            after->source_bytes());
  EXPECT_EQ(U32At(c.Call(c.Ws(12)), 4), 6u);
  EXPECT_EQ(U32At(c.Call(c.Obj(20, c.Tag("Recipe"))), 4), 8u);
  // The memory and variable commands reach the new model too.
  EXPECT_EQ(service.program(), after);
}

TEST_F(Reload, TagsThatSurviveKeepTheirValuesTheOthersTakeTheFiles) {
  ASSERT_EQ(Status(c.Call(c.Obj(41, c.Tag("Speed")).U16(4).Raw(BytesOf(42.5f).data(), 4))),
            symResOk);
  ASSERT_EQ(Status(c.Call(c.Obj(41, c.Tag("Ready")).U16(1).U8(1))), symResOk);
  ASSERT_EQ(Status(c.Call(c.Obj(41, c.Tag("Recipe.Id")).U16(4).Raw(BytesOf(6).data(), 4))),
            symResOk);
  ASSERT_EQ(Status(c.Call(c.Obj(41, c.Tag("Count")).U16(4).Raw(BytesOf(55).data(), 4))), symResOk);

  // Speed and Count match (names and type names compared without case);
  // Ready moves from a bit to a byte of its own and keeps its state.
  EXPECT_EQ(service.Reload(after), 3u);
  EXPECT_EQ(As<float>(c.Value(c.Tag("Speed"))), 42.5f);
  EXPECT_EQ(c.Value(c.Tag("Ready")), Bytes{1});
  EXPECT_EQ(As<std::int32_t>(c.Value(c.Tag("Count"))), 55);
  // A type that changed, or kept its name but not its size, starts afresh.
  EXPECT_EQ(As<double>(c.Value(c.Tag("Mode"))), 2.25);
  EXPECT_EQ(As<std::int32_t>(c.Value(c.Tag("Recipe.Id"))), 5);
  EXPECT_EQ(As<std::int32_t>(c.Value(c.Tag("Added"))), 77);

  // And back: the bit tag takes the byte's state into its bit only.
  auto again = Load(kBefore);
  EXPECT_EQ(service.Reload(again), 3u);
  EXPECT_EQ(c.Value(c.Tag("Ready")), Bytes{1});
  std::uint8_t byte = 0;
  ASSERT_TRUE(again->ReadMemory(again->FindTag("Ready")->address, 1, &byte));
  EXPECT_EQ(byte, 1u << 5);
}

// Requests from several sessions run while the program changes back and
// forth. A tag's lookup and its value come from one model each time: a
// request that mixed a view of one model with the memory of the other would
// read the wrong size or value, or memory that is gone.
TEST_F(Reload, RequestsRacingWithTheSwapSeeOneModelWhole) {
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<int> reads{0};
  std::atomic<int> calls{0};
  std::vector<std::thread> clients;
  for (int i = 0; i < 3; ++i) {
    clients.emplace_back([&] {
      Client mine(service);
      while (!stop) {
        Bytes found = mine.Call(mine.Ws(10).Text("Mode"));
        ++calls;
        if (Status(found) != symResOk) {
          ++bad;
          continue;
        }
        const std::uint32_t size = U32At(found, 16);
        Bytes value = mine.Call(mine.Obj(40, RefAt(found, 4)));
        ++calls;
        if (Status(value) == symResInvalidHandle) continue;  // a reload came between
        ++reads;
        const Bytes data(value.begin() + 6, value.end());
        const bool as_int = size == 2 && As<std::int16_t>(data) == 3;
        const bool as_real = size == 8 && As<double>(data) == 2.25;
        if (Status(value) != symResOk || (!as_int && !as_real)) ++bad;
        mine.Call(mine.Obj(11, RefAt(found, 4)));
      }
    });
  }
  // Each reload lets a few requests through before the next one.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (int i = 0; i < 150 && std::chrono::steady_clock::now() < until; ++i) {
    const int before_reload = calls;
    service.Reload(i % 2 == 0 ? after : before);
    while (calls < before_reload + 4 && std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
  }
  stop = true;
  for (std::thread& t : clients) t.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GE(reads.load(), 20);
}

TEST_F(Reload, TheLiveScanMovesToTheNewModel) {
  LiveScan scan(before, std::chrono::milliseconds(100));
  scan.ScanOnce(0.0);
  service.Reload(after);
  scan.SetModel(after);
  scan.ScanOnce(0.1);
  // Count kept 1 from its scan on the earlier model and steps by 10 now.
  EXPECT_EQ(As<std::int32_t>(c.Value(c.Tag("Count"))), 11);
  std::vector<std::uint8_t> old_count(4);
  ASSERT_TRUE(before->ReadMemory(before->FindTag("Count")->address, 4, old_count.data()));
  EXPECT_EQ(As<std::int32_t>(old_count), 1);
}

}  // namespace
