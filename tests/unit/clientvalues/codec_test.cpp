// Rules of the leaf codec that the shared table cannot hold: texts that are
// not valid UTF-8 on the way in, properties over every byte and every float,
// and what a refusal leaves behind.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <set>

#include "LeafCodec.h"

namespace qxsym::client {
namespace {

std::vector<std::uint8_t> Encode(std::uint32_t tyvar, const LeafValue& v, std::uint32_t size,
                                 Encoding e = Encoding::kLatin1) {
  std::vector<std::uint8_t> out;
  CodecError err;
  EXPECT_TRUE(EncodeLeaf(tyvar, v, size, e, &out, &err)) << err.message;
  return out;
}

LeafValue Text(std::string text) {
  LeafValue v;
  v.kind = ValueKind::kText;
  v.text = std::move(text);
  return v;
}

TEST(LeafText, TextThatIsNotUtf8IsRefusedInEveryEncoding) {
  const char* broken[] = {"\xC3",    "a\xFF", "\xED\xA0\x80", "\xC0\xAF", "\xF4\x90\x80\x80",
                          "\xE2\x82"};
  for (Encoding e : {Encoding::kLatin1, Encoding::kUtf8, Encoding::kWindows1252}) {
    for (const char* text : broken) {
      std::vector<std::uint8_t> out = {1, 2, 3};
      CodecError err;
      EXPECT_FALSE(EncodeLeaf(QXSymTyVarString, Text(text), 16, e, &out, &err)) << text;
      EXPECT_EQ(err.code, symResInvalidParameter);
      EXPECT_NE(err.message.find("not valid UTF-8"), std::string::npos) << err.message;
      EXPECT_EQ(out, (std::vector<std::uint8_t>{1, 2, 3})) << "a refusal changed the output";
    }
  }
}

// Every byte reads as one character and writes back as itself, so any
// stored text survives a read and a write in the 8-bit encodings.
TEST(LeafText, EveryByteRoundTripsInTheEightBitEncodings) {
  for (Encoding e : {Encoding::kLatin1, Encoding::kWindows1252}) {
    std::set<std::string> seen;
    for (int b = 1; b < 256; ++b) {
      const std::string byte(1, static_cast<char>(b));
      const std::string utf8 = TextToUtf8(byte, e);
      EXPECT_TRUE(seen.insert(utf8).second) << "two bytes read as the same character: " << b;
      std::string back;
      ASSERT_TRUE(TextFromUtf8(utf8, e, &back, nullptr)) << b;
      EXPECT_EQ(back, byte) << "byte " << b;
    }
  }
}

// The C1 controls that Windows-1252 gives other characters are refused on
// the way in; the five it leaves undefined are kept.
TEST(LeafText, Windows1252RefusesTheC1ControlsItReplaces) {
  int accepted = 0;
  for (char32_t cp = 0x80; cp < 0xA0; ++cp) {
    std::string utf8 = {static_cast<char>(0xC2), static_cast<char>(cp & 0xBF)};
    accepted += TextFromUtf8(utf8, Encoding::kWindows1252, nullptr, nullptr) ? 1 : 0;
  }
  EXPECT_EQ(accepted, 5);
}

// Whatever the controller holds, a UTF-8 read gives valid UTF-8, and bytes
// that already were valid UTF-8 pass unchanged.
TEST(LeafText, AnyBytesReadAsValidUtf8) {
  std::mt19937 random(25);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes(1 + random() % 12, '\0');
    for (char& c : bytes) c = static_cast<char>(random() % 256);
    const std::string utf8 = TextToUtf8(bytes, Encoding::kUtf8);
    std::string back;
    ASSERT_TRUE(TextFromUtf8(utf8, Encoding::kUtf8, &back, nullptr));
    if (TextFromUtf8(bytes, Encoding::kUtf8, nullptr, nullptr)) {
      EXPECT_EQ(utf8, bytes) << "valid UTF-8 was changed";
    }
  }
}

TEST(LeafDecode, TextEndsAtTheSizeGivenEvenWithoutAZero) {
  const std::uint8_t data[] = {'a', 'b', 'c', 'd', 'e', 'f'};
  LeafValue v;
  ASSERT_TRUE(DecodeLeaf(QXSymTyVarString, data, 4, Encoding::kLatin1, &v, nullptr));
  EXPECT_EQ(v.text, "abcd");
}

TEST(LeafDecode, MissingPointersAreRefused) {
  LeafValue v;
  CodecError err;
  EXPECT_FALSE(DecodeLeaf(QXSymTyVarDInt, nullptr, 4, Encoding::kLatin1, &v, &err));
  EXPECT_EQ(err.code, symResInvalidParameter);
  const std::uint8_t data[4] = {};
  EXPECT_FALSE(DecodeLeaf(QXSymTyVarDInt, data, 4, Encoding::kLatin1, nullptr, nullptr));
  std::vector<std::uint8_t> out;
  EXPECT_FALSE(EncodeLeaf(QXSymTyVarDInt, v, 4, Encoding::kLatin1, nullptr, &err));
}

// Every finite REAL read and written back gives the same bits: the double a
// REAL reads as (its shortest text) never drifts to a neighbour.
TEST(LeafFloat, EveryFiniteRealRoundTripsBitForBit) {
  for (std::uint64_t bits64 = 0; bits64 < 0x100000000ull; bits64 += 0x10001ull * 7) {
    const auto bits = static_cast<std::uint32_t>(bits64);
    float f;
    std::memcpy(&f, &bits, 4);
    if (!std::isfinite(f)) continue;
    std::uint8_t data[4];
    std::memcpy(data, &bits, 4);
    LeafValue v;
    ASSERT_TRUE(DecodeLeaf(QXSymTyVarReal, data, 4, Encoding::kLatin1, &v, nullptr));
    std::vector<std::uint8_t> out = Encode(QXSymTyVarReal, v, 4);
    ASSERT_EQ(std::memcmp(out.data(), data, 4), 0) << std::hex << bits;
  }
}

// What FormatLeafText shows, ParseLeafText reads back as the same value.
TEST(LeafText, ShownValuesParseBackToTheSameBytes) {
  struct Case {
    std::uint32_t tyvar;
    std::vector<std::uint8_t> bytes;
  } cases[] = {
      {QXSymTyVarBool, {1}},
      {QXSymTyVarSInt, {0x80}},
      {QXSymTyVarLInt, {0, 0, 0, 0, 0, 0, 0, 0x80}},
      {QXSymTyVarULInt, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {QXSymTyVarLWord, {0xF0, 0xDE, 0xBC, 0x9A, 0x78, 0x56, 0x34, 0x12}},
      {QXSymTyVarReal, {0xCD, 0xCC, 0xCC, 0x3D}},
      {QXSymTyVarReal, {0x01, 0, 0, 0}},
      {QXSymTyVarReal, {0, 0, 0, 0x80}},
      {QXSymTyVarReal, {0, 0, 0x80, 0xFF}},
      {QXSymTyVarLReal, {0x9A, 0x99, 0x99, 0x99, 0x99, 0x99, 0xB9, 0x3F}},
      {QXSymTyVarLReal, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xEF, 0x7F}},
      {QXSymTyVarLReal, {0, 0, 0, 0, 0, 0, 0xF8, 0x7F}},
      {QXSymTyVarPointer, {0xDE, 0xAD, 0xBE, 0xEF}},
  };
  for (const Case& c : cases) {
    LeafValue v, parsed;
    auto size = static_cast<std::uint32_t>(c.bytes.size());
    ASSERT_TRUE(DecodeLeaf(c.tyvar, c.bytes.data(), size, Encoding::kLatin1, &v, nullptr));
    CodecError err;
    const std::string shown = FormatLeafText(v);
    ASSERT_TRUE(ParseLeafText(c.tyvar, shown, &parsed, &err)) << shown << ": " << err.message;
    EXPECT_EQ(Encode(c.tyvar, parsed, size), c.bytes) << TyVarName(c.tyvar) << " " << shown;
  }
}

TEST(LeafEncode, ValuesFillExactlyTheSizeAndARefusalLeavesTheOutputAlone) {
  LeafValue v = Text("ab");
  EXPECT_EQ(Encode(QXSymTyVarString, v, 6), (std::vector<std::uint8_t>{'a', 'b', 0, 0, 0, 0}));
  std::vector<std::uint8_t> out = {9};
  CodecError err;
  LeafValue big;
  big.kind = ValueKind::kSigned;
  big.i = 1 << 20;
  EXPECT_FALSE(EncodeLeaf(QXSymTyVarInt, big, 2, Encoding::kLatin1, &out, &err));
  EXPECT_EQ(out, std::vector<std::uint8_t>{9});
  EXPECT_FALSE(EncodeLeaf(QXSymTyVarInt, big, 2, Encoding::kLatin1, &out, nullptr));
}

TEST(LeafText, LongValuesAreCutInMessagesAtACharacterBoundary) {
  std::string text;
  for (int i = 0; i < 100; ++i) text += "\xC3\xAB";  // ë
  CodecError err;
  std::vector<std::uint8_t> out;
  ASSERT_FALSE(EncodeLeaf(QXSymTyVarString, Text(text), 11, Encoding::kUtf8, &out, &err));
  EXPECT_LT(err.message.size(), 140u) << err.message;
  EXPECT_NE(err.message.find("200 bytes in UTF-8"), std::string::npos) << err.message;
  EXPECT_TRUE(TextFromUtf8(err.message, Encoding::kUtf8, nullptr, nullptr));
}

}  // namespace
}  // namespace qxsym::client

namespace qxsym::client {
namespace {

TEST(LeafNames, EncodingsAreKnownByTheirUsualNamesAndNoOthers) {
  struct Case {
    const char* name;
    Encoding encoding;
  } known[] = {{"latin1", Encoding::kLatin1},
               {"Latin-1", Encoding::kLatin1},
               {"ISO-8859-1", Encoding::kLatin1},
               {"utf8", Encoding::kUtf8},
               {"UTF-8", Encoding::kUtf8},
               {"windows1252", Encoding::kWindows1252},
               {"Windows-1252", Encoding::kWindows1252},
               {"CP1252", Encoding::kWindows1252}};
  for (const Case& c : known) {
    Encoding e = Encoding::kLatin1;
    if (c.encoding == Encoding::kLatin1) e = Encoding::kUtf8;
    ASSERT_TRUE(EncodingNamed(c.name, &e)) << c.name;
    EXPECT_EQ(e, c.encoding) << c.name;
    Encoding back;
    ASSERT_TRUE(EncodingNamed(EncodingKey(e), &back));
    EXPECT_EQ(back, e);
  }
  Encoding untouched = Encoding::kUtf8;
  for (const char* name : {"", "ascii", "utf16", "latin2", "1252", "utf-8 "}) {
    EXPECT_FALSE(EncodingNamed(name, &untouched)) << name;
  }
  EXPECT_EQ(untouched, Encoding::kUtf8);
}

}  // namespace
}  // namespace qxsym::client

namespace qxsym::client {
namespace {

// Typed text of any shape is either read as a value that EncodeLeaf then
// judges, or refused with a message; never anything else.
TEST(LeafParse, AnyTextIsReadOrRefusedWithAMessage) {
  static const char kAlphabet[] = "0123456789abcdefxXeE#_+-. INTREALSDWOBYnaf\xC3\xAB";
  const std::uint32_t types[] = {QXSymTyVarBool,  QXSymTyVarSInt, QXSymTyVarUDInt,
                                 QXSymTyVarULInt, QXSymTyVarLInt, QXSymTyVarReal,
                                 QXSymTyVarLReal, QXSymTyVarWord, QXSymTyVarPointer};
  std::mt19937 random(2026);
  for (int round = 0; round < 20000; ++round) {
    std::string text(random() % 14, ' ');
    for (char& c : text) c = kAlphabet[random() % (sizeof kAlphabet - 1)];
    const std::uint32_t tyvar = types[random() % std::size(types)];
    LeafValue v;
    CodecError err;
    if (!ParseLeafText(tyvar, text, &v, &err)) {
      EXPECT_EQ(err.code, symResInvalidParameter) << text;
      EXPECT_FALSE(err.message.empty()) << text;
      continue;
    }
    // The leaf's kind; an integer leaf takes a number of either sign,
    // which EncodeLeaf then judges.
    const bool integer =
        KindOf(tyvar) == ValueKind::kSigned || KindOf(tyvar) == ValueKind::kUnsigned;
    EXPECT_TRUE(v.kind == KindOf(tyvar) ||
                (integer && (v.kind == ValueKind::kSigned || v.kind == ValueKind::kUnsigned)))
        << text;
    std::vector<std::uint8_t> out;
    const std::uint32_t size = WidthOf(tyvar) != 0 ? WidthOf(tyvar) : 4;
    if (!EncodeLeaf(tyvar, v, size, Encoding::kLatin1, &out, &err)) {
      EXPECT_FALSE(err.message.empty()) << text;
    }
  }
}

}  // namespace
}  // namespace qxsym::client
