// Reading the shared vector table (tests/vectors/values.json): its cases,
// and its typed values as the leaf codec's values.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "LeafCodec.h"

namespace qxsym::client::vectors {

using Json = nlohmann::ordered_json;

// The whole table, read once.
const Json& Table();

// One group of cases of a section ("leaf" or "tag"), for TEST_P.
struct Group {
  std::string section;
  std::string name;
  const Json* cases = nullptr;
};
std::vector<Group> GroupsOf(const char* section);
// How gtest shows a group: its section and name.
void PrintTo(const Group& group, std::ostream* os);
// A test name made of the group's name: letters and digits only.
std::string GroupTestName(const testing::TestParamInfo<Group>& info);

// The basic type a case names: an IEC name as TyVarName spells it, or a number.
std::uint32_t TyVarOf(const Json& type);
Encoding EncodingOf(const Json& c);
std::vector<std::uint8_t> FromHex(const std::string& hex);
std::string ToHex(const std::vector<std::uint8_t>& bytes);

// A typed value of the table ({"signed": "-5"}, {"float": "nan"}, ...).
LeafValue ValueOf(const Json& typed);
// Whether a decoded value is the table's value: same kind, same value
// (floats bit for bit as doubles, so -0 differs from 0; any NaN is "nan").
testing::AssertionResult SameValue(const LeafValue& actual, const Json& expected);

// The name of a result code as the table writes it ("symResInvalidParameter").
std::string ResultName(QXSymResult code);
// Whether a table result name is one of the 50 result names.
bool IsResultName(const std::string& name);

// Fails the test for a key the case's op does not know, so a typing error in
// the table shows instead of quietly skipping a check.
void CheckKeys(const Json& c, std::initializer_list<const char*> allowed);

}  // namespace qxsym::client::vectors
