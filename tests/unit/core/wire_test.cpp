// Little-endian writer and reader: layout and refusal to overrun.
#include "Wire.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace qxsym {
namespace {

TEST(WireTest, WritesLittleEndianAndStopsAtCapacity) {
  std::uint8_t buf[16] = {};
  WireWriter w(buf, 15);
  w.U16(0x0102).U32(0x03040506).U64(0x0708090A0B0C0D0EULL);
  ASSERT_TRUE(w.ok());
  EXPECT_EQ(w.size(), 14u);
  const std::uint8_t expected[14] = {0x02, 0x01, 0x06, 0x05, 0x04, 0x03, 0x0E,
                                     0x0D, 0x0C, 0x0B, 0x0A, 0x09, 0x08, 0x07};
  EXPECT_EQ(0, std::memcmp(buf, expected, 14));
  w.U16(0xFFFF);  // one byte left: refused whole
  EXPECT_FALSE(w.ok());
  EXPECT_EQ(w.size(), 14u);
  EXPECT_EQ(buf[14], 0);
  w.U8(1);  // stays failed
  EXPECT_EQ(buf[14], 0);
}

TEST(WireTest, ReaderRefusesToReadPastWhatArrived) {
  const std::uint8_t in[7] = {0x34, 0x12, 0x78, 0x56, 0x34, 0x12, 0xAA};
  WireReader r(in, sizeof in);
  std::uint16_t a = 0;
  std::uint32_t b = 0, c = 0xDEADBEEF;
  ASSERT_TRUE(r.U16(&a));
  ASSERT_TRUE(r.U32(&b));
  EXPECT_EQ(a, 0x1234);
  EXPECT_EQ(b, 0x12345678u);
  EXPECT_FALSE(r.U32(&c));  // only one byte left
  EXPECT_EQ(c, 0xDEADBEEFu);
  EXPECT_FALSE(r.ok());
  std::uint8_t d = 0;
  EXPECT_FALSE(r.U8(&d));  // a failed reader stays failed
  WireReader r2(in, sizeof in);
  EXPECT_EQ(r2.View(8), nullptr);
  EXPECT_FALSE(r2.Skip(1));
}

}  // namespace
}  // namespace qxsym
