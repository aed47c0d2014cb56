// Live values: what one scan does to each kind of simulated symbol, and a
// background scan that starts and stops cleanly.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "LiveScan.h"
#include "SimTestUtil.h"

namespace {

using qxsym::sim::LiveScan;
using qxsym::sim::SymbolModel;
using simtest::As;
using simtest::Bytes;

Bytes Read(const SymbolModel& m, const char* path) {
  qxsym::sim::SymbolView v;
  EXPECT_EQ(m.Resolve(path, &v), symResOk);
  const std::uint32_t origin[3] = {0, 0, 0};
  Bytes out;
  m.ReadValue(v, origin, &out);
  return out;
}

TEST(LiveScan, EachKindOfLiveValue) {
  auto m = simtest::Demo();
  LiveScan scan(m, std::chrono::milliseconds(100));
  scan.ScanOnce(5.0);
  EXPECT_EQ(As<std::int8_t>(Read(*m, "CntSint")), -99);
  EXPECT_EQ(As<std::int32_t>(Read(*m, "CntDint")), -2000000000 + 10);
  EXPECT_EQ(As<std::uint32_t>(Read(*m, "Line.PartsToday")), 1235u);
  EXPECT_NEAR(As<double>(Read(*m, "TotalEnergy")), 123456.790, 1e-9);
  // Sines at a quarter of their period; read-only symbols move as well.
  EXPECT_FLOAT_EQ(As<float>(Read(*m, "OvenPower")), 45.0f);
  EXPECT_FLOAT_EQ(As<float>(Read(*m, "Line.Main.Speed")), 1500.0f - 5.0f * 0.70710677f);
  // The toggle flips every period and leaves its neighbour bits alone.
  EXPECT_EQ(Read(*m, "Heartbeat"), Bytes{1});
  scan.ScanOnce(6.5);
  EXPECT_EQ(Read(*m, "Heartbeat"), Bytes{0});
  EXPECT_EQ(Read(*m, "EStopOk"), Bytes{1});
  EXPECT_EQ(Read(*m, "DoorClosed"), Bytes{1});
  // Integer counters wrap at their width.
  for (int i = 0; i < 54; ++i) scan.ScanOnce(7.0);
  EXPECT_EQ(As<std::uint8_t>(Read(*m, "CntUsint")), 0);
  EXPECT_EQ(scan.scans(), 56u);
}

TEST(LiveScan, StartsAndStops) {
  auto m = simtest::Demo();
  LiveScan scan(m, std::chrono::milliseconds(1));
  EXPECT_FALSE(scan.running());
  scan.Start();
  scan.Start();
  EXPECT_TRUE(scan.running());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (scan.scans() < 3 && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::yield();
  }
  EXPECT_GE(scan.scans(), 3u);
  scan.Stop();
  const auto after = scan.scans();
  EXPECT_FALSE(scan.running());
  EXPECT_EQ(scan.scans(), after);
  scan.Stop();
  scan.Start();  // and again; the destructor stops it
}

}  // namespace
