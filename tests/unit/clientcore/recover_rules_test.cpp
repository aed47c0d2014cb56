// The rules a session follows after a lost connection or a program change:
// when it tries to open again, what counts as the same layout, and what
// the program's fingerprint notices.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "Backoff.h"
#include "Fingerprint.h"
#include "Layout.h"

namespace qxsym::client {
namespace {

using std::chrono::milliseconds;
using Clock = Backoff::Clock;

TEST(Backoff, StepsDoubleFromTheLossUpToTheCeilingAndStartOverAfterALoss) {
  Backoff b;
  ASSERT_TRUE(b.Set(100, 700));
  const Clock::time_point t0 = Clock::time_point() + std::chrono::hours(1);
  b.Lost(t0);
  EXPECT_FALSE(b.Due(t0 + milliseconds(99)));
  EXPECT_TRUE(b.Due(t0 + milliseconds(100)));
  // Failed attempts, each late by 5 ms: 200, 400, then the ceiling of 700.
  Clock::time_point t = t0 + milliseconds(105);
  const int waits[] = {200, 400, 700, 700};
  for (int w : waits) {
    b.Failed(t);
    EXPECT_EQ(b.next(), t + milliseconds(w));
    t = b.next() + milliseconds(5);
  }
  // A later loss begins again with the first step.
  b.Lost(t);
  EXPECT_EQ(b.next(), t + milliseconds(100));
}

TEST(Backoff, StepsOutOfRangeAreRefusedAndZeroTurnsItOff) {
  Backoff b;
  EXPECT_FALSE(b.on());
  EXPECT_FALSE(b.Set(500, 100));  // a ceiling below the first step
  EXPECT_FALSE(b.Set(Backoff::kLongestMs + 1, 0));
  EXPECT_FALSE(b.Set(10, Backoff::kLongestMs + 1));
  EXPECT_FALSE(b.on());  // a refused setting changes nothing
  ASSERT_TRUE(b.Set(10, 0));
  EXPECT_EQ(b.ceiling(), milliseconds(Backoff::kDefaultMaxMs));
  ASSERT_TRUE(b.Set(8000, 0));  // a first step above the default ceiling is its own
  EXPECT_EQ(b.ceiling(), milliseconds(8000));
  ASSERT_TRUE(b.Set(0, 12345));
  EXPECT_FALSE(b.on());
}

Layout OneLeaf(std::uint32_t tyvar, std::uint32_t offset) {
  Layout l;
  l.path = "Count";
  l.type_name = "DINT";
  l.size = 4;
  l.value_count = 1;
  Leaf leaf;
  leaf.path = "Count";
  leaf.offset = offset;
  leaf.size = 4;
  leaf.element_size = 4;
  leaf.tyvar = tyvar;
  l.leaves.push_back(leaf);
  return l;
}

TEST(SameLayout, ATypeOrOffsetChangeUnderTheSameNamesIsAnotherLayout) {
  const Layout a = OneLeaf(7, 0);
  EXPECT_TRUE(SameLayout(a, OneLeaf(7, 0)));
  // Same paths and counts, so a comparison by names alone would pass both.
  EXPECT_FALSE(SameLayout(a, OneLeaf(9, 0)));
  EXPECT_FALSE(SameLayout(a, OneLeaf(7, 4)));
  Layout renamed = OneLeaf(7, 0);
  renamed.type_name = "MY_DINT";
  EXPECT_FALSE(SameLayout(a, renamed));
}

std::string WriteTable(const std::vector<std::uint8_t>& bytes) {
  static int n = 0;
  const std::string path = ::testing::TempDir() + "qxsym_fp_" + std::to_string(++n) + ".bin";
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return path;
}

TEST(Fingerprint, TheTagCountAndBothEndsOfALargeTableAreSeen) {
  std::vector<std::uint8_t> table(3 * kEdgeBytes, 0x5A);
  std::uint64_t base = 0;
  std::uint64_t other = 0;
  const std::string first = WriteTable(table);
  ASSERT_TRUE(HashTableFile(first, 10, &base));
  ASSERT_TRUE(HashTableFile(first, 11, &other));
  EXPECT_NE(base, other);
  table.back() = 0x00;  // the last byte, beyond the head
  const std::string tail = WriteTable(table);
  ASSERT_TRUE(HashTableFile(tail, 10, &other));
  EXPECT_NE(base, other);
  table.push_back(0x5A);  // one byte longer
  const std::string longer = WriteTable(table);
  ASSERT_TRUE(HashTableFile(longer, 10, &other));
  EXPECT_NE(base, other);
  // A table shorter than one end is hashed whole, once.
  const std::vector<std::uint8_t> small(100, 1);
  std::uint64_t s = 0;
  const std::string short_table = WriteTable(small);
  ASSERT_TRUE(HashTableFile(short_table, 1, &s));
  EXPECT_EQ(s, HashProgram(1, small.size(), small, {}));
  EXPECT_FALSE(HashTableFile(::testing::TempDir() + "qxsym_fp_missing.bin", 1, &s));
  for (const std::string& p : {first, tail, longer, short_table}) std::remove(p.c_str());
}

}  // namespace
}  // namespace qxsym::client
