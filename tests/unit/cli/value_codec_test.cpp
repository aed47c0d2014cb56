// Parsing of values typed by a user (range checks at every width) and their
// formatting for output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Session.h"
#include "ValueCodec.h"

namespace qxsym::cli {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
    for (const char* ok : {c.min, c.max}) {
      Bytes bytes = EncodeText(c.tyvar, ok, 8);
      EXPECT_EQ(DecodeText(c.tyvar, bytes.data(), bytes.size()).substr(0, std::strlen(ok)), ok)
          << TyVarName(c.tyvar) << " " << ok;
    }
    for (const char* bad : {c.below, c.above, "99999999999999999999999"}) {
      try {
        EncodeText(c.tyvar, bad, 8);
        ADD_FAILURE() << TyVarName(c.tyvar) << " took " << bad;
      } catch (const CliError& e) {
        EXPECT_EQ(e.code(), symResInvalidParameter);
        EXPECT_NE(std::string(e.what()).find("out of range"), std::string::npos) << e.what();
      }
    }
  }
}

TEST(ValueCodecTest, IntegerSpellings) {
  EXPECT_EQ(EncodeText(QXSymTyVarInt, "-2", 2), Bytes({0xFE, 0xFF}));
  EXPECT_EQ(EncodeText(QXSymTyVarDWord, "16#DEAD_BEEF", 4), Bytes({0xEF, 0xBE, 0xAD, 0xDE}));
  EXPECT_EQ(EncodeText(QXSymTyVarWord, "0x00ff", 2), Bytes({0xFF, 0x00}));
  EXPECT_EQ(EncodeText(QXSymTyVarUDInt, " +1_000 ", 4), Bytes({0xE8, 0x03, 0, 0}));
  // The tag's size, not the type's width, sizes the value.
  EXPECT_EQ(EncodeText(QXSymTyVarSInt, "-1", 2), Bytes({0xFF, 0x00}));
  for (const char* bad : {"", "-", "1.5", "1e3", "_1", "1_", "1__0", "16#", "0x1G", "12abc"}) {
    EXPECT_THROW(EncodeText(QXSymTyVarDInt, bad, 4), CliError) << bad;
  }
  EXPECT_THROW(EncodeText(QXSymTyVarDInt, "1", 2), CliError);  // tag smaller than the type
}

TEST(ValueCodecTest, BooleansRealsAndTexts) {
  for (const char* t : {"TRUE", "true", "1", " True "}) {
    EXPECT_EQ(EncodeText(QXSymTyVarBool, t, 1), Bytes({1})) << t;
  }
  EXPECT_EQ(EncodeText(QXSymTyVarBool, "FALSE", 1), Bytes({0}));
  EXPECT_THROW(EncodeText(QXSymTyVarBool, "yes", 1), CliError);

  EXPECT_NO_THROW(EncodeText(QXSymTyVarReal, "3.4e38", 4));
  EXPECT_THROW(EncodeText(QXSymTyVarReal, "3.5e38", 4), CliError);
  EXPECT_THROW(EncodeText(QXSymTyVarLReal, "1e309", 8), CliError);
  EXPECT_THROW(EncodeText(QXSymTyVarReal, "0x1p3", 4), CliError);
  EXPECT_THROW(EncodeText(QXSymTyVarReal, "1.5 kg", 4), CliError);
  Bytes tenth = EncodeText(QXSymTyVarReal, "0.1", 4);
  EXPECT_EQ(DecodeJson(QXSymTyVarReal, tenth.data(), 4), Json(0.1));  // not 0.100000001
  EXPECT_EQ(DecodeText(QXSymTyVarReal, tenth.data(), 4), "0.1");
  Bytes nan = EncodeText(QXSymTyVarLReal, "nan", 8);
  EXPECT_EQ(DecodeJson(QXSymTyVarLReal, nan.data(), 8), Json("NaN"));

  // STRING[4] holds four characters and its terminator.
  EXPECT_EQ(EncodeText(QXSymTyVarString, "ab", 5), Bytes({'a', 'b', 0, 0, 0}));
  EXPECT_NO_THROW(EncodeText(QXSymTyVarString, "abcd", 5));
  EXPECT_THROW(EncodeText(QXSymTyVarString, "abcde", 5), CliError);
  Bytes unterminated = {'a', 'b', 'c'};
  EXPECT_EQ(DecodeJson(QXSymTyVarString, unterminated.data(), 3), Json("abc"));
  EXPECT_EQ(DecodeText(QXSymTyVarString, unterminated.data(), 3), "\"abc\"");
}

TEST(ValueCodecTest, SixtyFourBitValuesBeyondDoublePrecisionBecomeStrings) {
  auto json_of = [](QXSymTyVar t, const char* text) {
    Bytes b = EncodeText(t, text, 8);
    return DecodeJson(t, b.data(), 8);
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
  EXPECT_THROW(EncodeJson(QXSymTyVarInt, Json(3.5), 2), CliError);
  EXPECT_THROW(EncodeJson(QXSymTyVarInt, Json(true), 2), CliError);
  EXPECT_THROW(EncodeJson(QXSymTyVarString, Json(5), 10), CliError);
  EXPECT_THROW(EncodeJson(QXSymTyVarReal, Json::array(), 4), CliError);
}

}  // namespace
}  // namespace qxsym::cli
