// The symbol cache's file format: what is written reads back as the same
// types, and damaged, truncated, foreign or oversized input reads as no
// file, never more than the walk limits allow.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "SymbolCache.h"

namespace qxsym::client {
namespace {

constexpr std::uint64_t kPrint = 0x1234abcd5678ef00ull;

// The trailing hash made right again after bytes were changed, so that a
// check behind it is reached.
std::string Rehash(std::string bytes) {
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i + 8 < bytes.size(); ++i) {
    h ^= static_cast<unsigned char>(bytes[i]);
    h *= 1099511628211ull;
  }
  for (int k = 0; k < 8; ++k) bytes[bytes.size() - 8 + k] = static_cast<char>(h >> (8 * k));
  return bytes;
}

void Put32(std::string* bytes, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) (*bytes)[at + k] = static_cast<char>(v >> (8 * k));
}

// A REAL, an array of 3 REALs from 1, and a record of both.
class CacheFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto real = std::make_unique<TypeNode>();
    real->name = "REAL";
    real->size = 4;
    real->tyvar = QXSymTyVarReal;
    auto array = std::make_unique<TypeNode>();
    array->name = "ARRAY[1..3] OF REAL";
    array->kind = TypeNode::Kind::kArray;
    array->size = 12;
    array->properties = QXSymTypeIsArray;
    array->dims = {3};
    array->lower = {1};
    array->element = real.get();
    array->stride = 4;
    array->count = 3;
    auto record = std::make_unique<TypeNode>();
    record->name = "PAIR";
    record->kind = TypeNode::Kind::kRecord;
    record->size = 16;
    record->properties = QXSymTypeIsStruct;
    record->members = {{"Gain", 0, real.get()}, {"Curve", 4, array.get()}};
    catalog_.Adopt(std::move(record));
    catalog_.Adopt(std::move(array));
    catalog_.Adopt(std::move(real));
    bytes_ = EncodeCache(catalog_, kPrint);
  }
  std::unique_ptr<TypeCatalog> Decode(const std::string& bytes) {
    return DecodeCache(bytes, kPrint, WalkLimits());
  }

  TypeCatalog catalog_;
  std::string bytes_;
};

TEST_F(CacheFileTest, TypesReadBackWithTheirReferences) {
  auto back = Decode(bytes_);
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(back->size(), 3u);
  const TypeNode& pair = *back->nodes().at("PAIR");
  ASSERT_EQ(pair.members.size(), 2u);
  EXPECT_EQ(pair.members[1].name, "Curve");
  EXPECT_EQ(pair.members[1].offset, 4u);
  const TypeNode& curve = *pair.members[1].type;
  EXPECT_EQ(&curve, back->nodes().at("ARRAY[1..3] OF REAL").get());
  EXPECT_EQ(curve.lower, std::vector<std::int64_t>{1});
  EXPECT_EQ(curve.count, 3u);
  EXPECT_EQ(curve.element, pair.members[0].type);
  EXPECT_EQ(curve.element->tyvar, static_cast<std::uint32_t>(QXSymTyVarReal));
  // Written again, the same bytes: two writers of one program agree.
  EXPECT_EQ(EncodeCache(*back, kPrint), bytes_);
}

TEST_F(CacheFileTest, DamagedOrForeignBytesReadAsNoFile) {
  EXPECT_EQ(DecodeCache(bytes_, kPrint + 1, WalkLimits()), nullptr);
  for (std::size_t n = 0; n < bytes_.size(); ++n) {
    EXPECT_EQ(Decode(bytes_.substr(0, n)), nullptr) << n;
    // Cut short with a hash of its own: the types end early.
    if (n + 8 != bytes_.size()) {
      EXPECT_EQ(Decode(Rehash(bytes_.substr(0, n) + std::string(8, '\0'))), nullptr) << n;
    }
  }
  for (std::size_t i = 0; i < bytes_.size(); ++i) {
    std::string flipped = bytes_;
    flipped[i] ^= 0x40;
    EXPECT_EQ(Decode(flipped), nullptr) << i;
  }
  std::string version = bytes_;
  Put32(&version, 8, kCacheVersion + 1);
  EXPECT_EQ(Decode(Rehash(version)), nullptr);
  EXPECT_EQ(Decode(std::string(64, '\0')), nullptr);
}

TEST_F(CacheFileTest, CountsBeyondTheBytesOrTheLimitsAreRefused) {
  // The type count lies after magic, version and fingerprint.
  ASSERT_EQ(Rehash(bytes_), bytes_);
  std::string huge = bytes_;
  Put32(&huge, 20, 0xFFFFFFFFu);
  EXPECT_EQ(Decode(Rehash(huge)), nullptr);
  WalkLimits few;
  few.max_nodes = 2;
  EXPECT_EQ(DecodeCache(bytes_, kPrint, few), nullptr);
  few = WalkLimits();
  few.max_children = 1;
  EXPECT_EQ(DecodeCache(bytes_, kPrint, few), nullptr);
  // A member count the rest of the file cannot hold, rehashed.
  const std::size_t pair = bytes_.rfind("PAIR");
  std::string members = bytes_;
  Put32(&members, pair + 4 + 13, 60000);
  EXPECT_EQ(Decode(Rehash(members)), nullptr);
  // A reference to a type not read yet (itself).
  std::string self = bytes_;
  Put32(&self, bytes_.size() - 12, 2);
  EXPECT_EQ(Decode(Rehash(self)), nullptr);
}

TEST(CacheFiles, StoreWritesOneFilePerControllerAndLoadReadsIt) {
  const std::string dir = ::testing::TempDir() + "qxsym_cachefile_" + std::to_string(getpid());
  std::filesystem::remove_all(dir);
  TypeCatalog catalog;
  auto dint = std::make_unique<TypeNode>();
  dint->name = "DINT";
  dint->size = 4;
  catalog.Adopt(std::move(dint));
  ASSERT_TRUE(StoreCache(dir, "aaaa", 1, catalog));
  ASSERT_TRUE(StoreCache(dir, "bbbb", 1, catalog));
  ASSERT_TRUE(StoreCache(dir, "aaaa", 2, catalog));
  EXPECT_EQ(LoadCache(dir, "aaaa", 1, WalkLimits()), nullptr);
  ASSERT_NE(LoadCache(dir, "aaaa", 2, WalkLimits()), nullptr);
  ASSERT_NE(LoadCache(dir, "bbbb", 1, WalkLimits()), nullptr);
  std::size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir)) files += e.is_regular_file();
  EXPECT_EQ(files, 2u);
  // Above the bound the file is not even read.
  std::filesystem::resize_file(std::filesystem::path(dir) / CacheFileName("bbbb", 1),
                               kMaxCacheBytes + 1);
  EXPECT_EQ(LoadCache(dir, "bbbb", 1, WalkLimits()), nullptr);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace qxsym::client
