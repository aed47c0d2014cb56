// Every leaf case of the shared vector table, through the leaf codec.
#include <gtest/gtest.h>

#include <iterator>
#include <set>

#include "LeafCodec.h"
#include "vectors.h"

namespace qxsym::client {
namespace {

using vectors::Json;

// The error a refused case expects: its result name and the pieces its
// message must contain.
void ExpectRefusal(const Json& c, bool ok, const CodecError& err) {
  ASSERT_FALSE(ok) << "accepted, the table wants " << c.at("error").get<std::string>();
  EXPECT_EQ(vectors::ResultName(err.code), c.at("error").get<std::string>()) << err.message;
  for (const Json& piece : c.value("message", Json::array())) {
    EXPECT_NE(err.message.find(piece.get<std::string>()), std::string::npos)
        << "the message '" << err.message << "' lacks '" << piece.get<std::string>() << "'";
  }
  std::string check;
  EXPECT_TRUE(TextFromUtf8(err.message, Encoding::kUtf8, &check, nullptr))
      << "the message is not valid UTF-8";
}

std::uint32_t SizeOf(const Json& c, std::uint32_t tyvar) {
  if (c.contains("size")) return c.at("size").get<std::uint32_t>();
  static const std::uint32_t kWidths[] = {0, 1, 1, 1, 1, 2, 2, 2, 0, 4, 4, 4, 8, 8, 8, 4, 8};
  EXPECT_LT(tyvar, std::size(kWidths)) << "a case of " << TyVarName(tyvar) << " needs a size";
  return tyvar < std::size(kWidths) ? kWidths[tyvar] : 0;
}

void RunDecode(const Json& c, std::uint32_t tyvar, Encoding encoding) {
  const std::vector<std::uint8_t> bytes = vectors::FromHex(c.at("bytes"));
  if (c.contains("size") && c.at("op") == "both") {
    EXPECT_EQ(bytes.size(), c.at("size").get<std::size_t>()) << "the table's bytes and size differ";
  }
  LeafValue value;
  value.kind = ValueKind::kNone;
  CodecError err;
  bool ok = DecodeLeaf(tyvar, bytes.data(), bytes.size(), encoding, &value, &err);
  if (c.contains("error")) return ExpectRefusal(c, ok, err);
  ASSERT_TRUE(ok) << err.message;
  EXPECT_TRUE(vectors::SameValue(value, c.at("value")));
  if (c.contains("shown")) {
    EXPECT_EQ(FormatLeafText(value), c.at("shown").get<std::string>());
  }
}

void RunEncode(const Json& c, std::uint32_t tyvar, Encoding encoding) {
  LeafValue value = vectors::ValueOf(c.at("value"));
  std::vector<std::uint8_t> out;
  CodecError err;
  bool ok = EncodeLeaf(tyvar, value, SizeOf(c, tyvar), encoding, &out, &err);
  if (c.contains("error")) return ExpectRefusal(c, ok, err);
  ASSERT_TRUE(ok) << err.message;
  EXPECT_EQ(vectors::ToHex(out), c.at("bytes").get<std::string>());
}

void RunParse(const Json& c, std::uint32_t tyvar, Encoding encoding) {
  LeafValue value;
  CodecError err;
  std::vector<std::uint8_t> out;
  bool ok = ParseLeafText(tyvar, c.at("input").get<std::string>(), &value, &err) &&
            EncodeLeaf(tyvar, value, SizeOf(c, tyvar), encoding, &out, &err);
  if (c.contains("error")) return ExpectRefusal(c, ok, err);
  ASSERT_TRUE(ok) << err.message;
  EXPECT_EQ(vectors::ToHex(out), c.at("bytes").get<std::string>());
}

void RunCase(const Json& c) {
  const std::string op = c.at("op");
  const std::uint32_t tyvar = vectors::TyVarOf(c.at("type"));
  const Encoding encoding = vectors::EncodingOf(c);
  if (op == "decode") {
    vectors::CheckKeys(c,
                       {"op", "type", "encoding", "bytes", "value", "shown", "error", "message"});
    RunDecode(c, tyvar, encoding);
  } else if (op == "encode") {
    vectors::CheckKeys(c, {"op", "type", "encoding", "size", "value", "bytes", "error", "message"});
    RunEncode(c, tyvar, encoding);
  } else if (op == "both") {
    vectors::CheckKeys(c, {"op", "type", "encoding", "size", "bytes", "value", "shown"});
    RunDecode(c, tyvar, encoding);
    RunEncode(c, tyvar, encoding);
  } else if (op == "parse") {
    vectors::CheckKeys(c, {"op", "type", "encoding", "size", "input", "bytes", "error", "message"});
    RunParse(c, tyvar, encoding);
  } else {
    ADD_FAILURE() << "unknown op '" << op << "'";
  }
}

class LeafVectors : public testing::TestWithParam<vectors::Group> {};

TEST_P(LeafVectors, EveryCaseHolds) {
  const Json& cases = *GetParam().cases;
  ASSERT_FALSE(cases.empty());
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i) + ": " + cases[i].dump());
    RunCase(cases[i]);
  }
}

INSTANTIATE_TEST_SUITE_P(Table, LeafVectors, testing::ValuesIn(vectors::GroupsOf("leaf")),
                         vectors::GroupTestName);

// A table that failed to load would leave the suite above without a case.
TEST(LeafVectorTable, LoadsWithEveryBasicTypeCovered) {
  ASSERT_TRUE(vectors::Table().is_object()) << "tests/vectors/values.json does not parse";
  EXPECT_EQ(vectors::Table().at("format"), 1);
  std::set<std::uint32_t> covered;
  for (const vectors::Group& g : vectors::GroupsOf("leaf")) {
    for (const Json& c : *g.cases) covered.insert(vectors::TyVarOf(c.at("type")));
  }
  for (std::uint32_t tyvar = 1; tyvar <= 17; ++tyvar) {
    if (tyvar == 8) continue;
    EXPECT_TRUE(covered.count(tyvar)) << TyVarName(tyvar) << " has no case";
  }
}

}  // namespace
}  // namespace qxsym::client
