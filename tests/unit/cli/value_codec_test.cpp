// Values typed by a user on their way to the controller (the core's parsing
// and range checks at every width, as the tool's write uses them), their
// JSON and text for output, and JSON values given for a leaf.
#include <LeafCodec.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "LeafJson.h"

namespace qxsym::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;
using client::Encoding;
using client::LeafValue;

// Text as `qxsym write` takes it, into `size` bytes; empty with the
// refusal's message in *why.
Bytes Encode(std::uint32_t tyvar, const char* text, std::uint32_t size,
             std::string* why = nullptr) {
  LeafValue v;
  client::CodecError err;
  Bytes out;
  if (!client::ParseLeafText(tyvar, text, &v, &err) ||
      !client::EncodeLeaf(tyvar, v, size, Encoding::kLatin1, &out, &err)) {
    if (why) *why = err.message;
    return {};
  }
  return out;
}

LeafValue Decode(std::uint32_t tyvar, const Bytes& bytes) {
  LeafValue v;
  client::CodecError err;
  EXPECT_TRUE(client::DecodeLeaf(tyvar, bytes.data(), bytes.size(), Encoding::kLatin1, &v, &err))
      << err.message;
  return v;
}

Bytes EncodeJson(std::uint32_t tyvar, const Json& value, std::uint32_t size) {
  LeafValue v;
  client::CodecError err;
  Bytes out;
  if (!JsonLeaf(tyvar, value, &v, &err) ||
      !client::EncodeLeaf(tyvar, v, size, Encoding::kLatin1, &out, &err)) {
    return {};
  }
  return out;
}

TEST(ValueCodecTest, IntegerLimitsAreAcceptedAndOneBeyondRefused) {
  struct Case {
    QXSymTyVar tyvar;
    const char *min, *max, *below, *above;
  };
  const Case cases[] = {
      {QXSymTyVarSInt, "-128", "127", "-129", "128"},
      {QXSymTyVarUSInt, "0", "255", "-1", "256"},
      {QXSymTyVarInt, "-32768", "32767", "-32769", "32768"},
      {QXSymTyVarWord, "0", "65535", "-1", "65536"},
      {QXSymTyVarDInt, "-2147483648", "2147483647", "-2147483649", "2147483648"},
      {QXSymTyVarUDInt, "0", "4294967295", "-1", "4294967296"},
      {QXSymTyVarLInt, "-9223372036854775808", "9223372036854775807", "-9223372036854775809",
       "9223372036854775808"},
      {QXSymTyVarULInt, "0", "18446744073709551615", "-1", "18446744073709551616"},
  };
  for (const Case& c : cases) {
    const std::uint32_t width = client::WidthOf(c.tyvar);
    for (const char* ok : {c.min, c.max}) {
      Bytes bytes = Encode(c.tyvar, ok, width);
      ASSERT_EQ(bytes.size(), width) << ok;
      EXPECT_EQ(LeafDisplay(Decode(c.tyvar, bytes)), ok) << client::TyVarName(c.tyvar);
    }
    for (const char* bad : {c.below, c.above, "99999999999999999999999"}) {
      std::string why;
      EXPECT_TRUE(Encode(c.tyvar, bad, width, &why).empty())
          << client::TyVarName(c.tyvar) << " took " << bad;
      EXPECT_NE(why.find("out of range"), std::string::npos) << why;
    }
  }
}

TEST(ValueCodecTest, IntegerSpellings) {
  EXPECT_EQ(Encode(QXSymTyVarInt, "-2", 2), Bytes({0xFE, 0xFF}));
  EXPECT_EQ(Encode(QXSymTyVarDWord, "16#DEAD_BEEF", 4), Bytes({0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(Encode(QXSymTyVarByte, "2#1010_0101", 1), Bytes({0xA5}));
  EXPECT_EQ(Encode(QXSymTyVarWord, "8#777", 2), Bytes({0xFF, 0x01}));
  EXPECT_EQ(Encode(QXSymTyVarWord, "0x00ff", 2), Bytes({0xFF, 0x00}));
  EXPECT_EQ(Encode(QXSymTyVarUDInt, "1_000", 4), Bytes({0xE8, 0x03, 0, 0}));
  for (const char* bad : {"", "-", "1.5", "_1", "1_", "1__0", "16#", "0x1G", "12abc", "2#102"}) {
    EXPECT_TRUE(Encode(QXSymTyVarDInt, bad, 4).empty()) << bad;
  }
  EXPECT_TRUE(Encode(QXSymTyVarDInt, "1", 2).empty());  // tag smaller than the type
}

TEST(ValueCodecTest, BooleansRealsAndTexts) {
  for (const char* t : {"TRUE", "true", "1"}) {
    EXPECT_EQ(Encode(QXSymTyVarBool, t, 1), Bytes({1})) << t;
  }
  EXPECT_EQ(Encode(QXSymTyVarBool, "FALSE", 1), Bytes({0}));
  EXPECT_TRUE(Encode(QXSymTyVarBool, "yes", 1).empty());

  EXPECT_FALSE(Encode(QXSymTyVarReal, "3.4e38", 4).empty());
  EXPECT_TRUE(Encode(QXSymTyVarReal, "3.5e38", 4).empty());
  EXPECT_TRUE(Encode(QXSymTyVarReal, "1e39", 4).empty());  // never infinity
  EXPECT_TRUE(Encode(QXSymTyVarLReal, "1e309", 8).empty());
  EXPECT_TRUE(Encode(QXSymTyVarReal, "1.5 kg", 4).empty());
  Bytes tenth = Encode(QXSymTyVarReal, "0.1", 4);
  EXPECT_EQ(LeafJson(Decode(QXSymTyVarReal, tenth)), Json(0.1));  // not 0.100000001
  EXPECT_EQ(LeafDisplay(Decode(QXSymTyVarReal, tenth)), "0.1");
  Bytes nan = Encode(QXSymTyVarLReal, "nan", 8);
  EXPECT_EQ(LeafJson(Decode(QXSymTyVarLReal, nan)), Json("NaN"));
  EXPECT_EQ(LeafJson(Decode(QXSymTyVarLReal, Encode(QXSymTyVarLReal, "-inf", 8))),
            Json("-Infinity"));

  // STRING[4] holds four characters and its terminator.
  EXPECT_EQ(Encode(QXSymTyVarString, "ab", 5), Bytes({'a', 'b', 0, 0, 0}));
  EXPECT_FALSE(Encode(QXSymTyVarString, "abcd", 5).empty());
  EXPECT_TRUE(Encode(QXSymTyVarString, "abcde", 5).empty());
  Bytes unterminated = {'a', 'b', 'c'};
  EXPECT_EQ(LeafJson(Decode(QXSymTyVarString, unterminated)), Json("abc"));
  EXPECT_EQ(LeafDisplay(Decode(QXSymTyVarString, unterminated)), "\"abc\"");
  // Latin-1 by default: one byte per character, shown in UTF-8.
  EXPECT_EQ(Encode(QXSymTyVarString, "Zo\xC3\xAB", 4), Bytes({'Z', 'o', 0xEB, 0}));
  EXPECT_EQ(LeafJson(Decode(QXSymTyVarString, {'Z', 'o', 0xEB, 0})), Json("Zo\xC3\xAB"));
}

TEST(ValueCodecTest, SixtyFourBitValuesBeyondDoublePrecisionBecomeStrings) {
  auto json_of = [](QXSymTyVar t, const char* text) {
    return LeafJson(Decode(t, Encode(t, text, 8)));
  };
  EXPECT_EQ(json_of(QXSymTyVarLInt, "9007199254740992"), Json(9007199254740992LL));
  EXPECT_EQ(json_of(QXSymTyVarLInt, "9007199254740993"), Json("9007199254740993"));
  EXPECT_EQ(json_of(QXSymTyVarLInt, "-9007199254740992"), Json(-9007199254740992LL));
  EXPECT_EQ(json_of(QXSymTyVarLInt, "-9007199254740993"), Json("-9007199254740993"));
  EXPECT_EQ(json_of(QXSymTyVarLWord, "18446744073709551615"), Json("18446744073709551615"));
  EXPECT_EQ(json_of(QXSymTyVarULInt, "9007199254740992"), Json(9007199254740992ULL));
}

TEST(ValueCodecTest, JsonValuesFollowTheType) {
  EXPECT_EQ(EncodeJson(QXSymTyVarInt, Json(3.0), 2), Bytes({3, 0}));
  EXPECT_EQ(EncodeJson(QXSymTyVarInt, Json("16#10"), 2), Bytes({16, 0}));
  EXPECT_EQ(EncodeJson(QXSymTyVarBool, Json(true), 1), Bytes({1}));
  EXPECT_EQ(EncodeJson(QXSymTyVarULInt, Json("18446744073709551615"), 8), Bytes(8, 0xFF));
  EXPECT_EQ(EncodeJson(QXSymTyVarReal, Json(1e39), 4), Bytes());
  EXPECT_EQ(EncodeJson(QXSymTyVarInt, Json(3.5), 2), Bytes());
  EXPECT_EQ(EncodeJson(QXSymTyVarInt, Json(true), 2), Bytes());
  EXPECT_EQ(EncodeJson(QXSymTyVarString, Json(5), 10), Bytes());
  EXPECT_EQ(EncodeJson(QXSymTyVarReal, Json::array(), 4), Bytes());
  EXPECT_EQ(EncodeJson(QXSymTyVarReal, Json(), 4), Bytes());
}

}  // namespace
}  // namespace qxsym::cli
