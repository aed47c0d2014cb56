#include "vectors.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "ResultInfo.h"

namespace qxsym::client::vectors {

const Json& Table() {
  static const Json table = [] {
    std::ifstream in(QXSYM_VECTORS_DIR "/values.json");
    if (!in) return Json();
    return Json::parse(in, nullptr, /*allow_exceptions=*/false);
  }();
  return table;
}

std::vector<Group> GroupsOf(const char* section) {
  std::vector<Group> out;
  const Json& table = Table();
  if (!table.is_object() || !table.contains(section)) return out;
  for (const Json& g : table.at(section)) out.push_back({section, g.at("group"), &g.at("cases")});
  return out;
}

void PrintTo(const Group& group, std::ostream* os) {
  *os << group.section << " group '" << group.name << "'";
}

std::string GroupTestName(const testing::TestParamInfo<Group>& info) {
  std::string out;
  bool upper = true;
  for (char c : info.param.name) {
    bool alnum = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alnum) {
      upper = true;
      continue;
    }
    out += upper && c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    upper = false;
  }
  return out + "_" + std::to_string(info.index);
}

std::uint32_t TyVarOf(const Json& type) {
  if (type.is_number_unsigned()) return type.get<std::uint32_t>();
  const std::string name = type.get<std::string>();
  for (std::uint32_t tyvar = 0; tyvar <= 20; ++tyvar) {
    if (TyVarName(tyvar) == name) return tyvar;
  }
  ADD_FAILURE() << "the table names an unknown type '" << name << "'";
  return 0;
}

Encoding EncodingOf(const Json& c) {
  const std::string name = c.value("encoding", "latin1");
  if (name == "utf8") return Encoding::kUtf8;
  if (name == "windows1252") return Encoding::kWindows1252;
  if (name != "latin1") ADD_FAILURE() << "unknown encoding '" << name << "'";
  return Encoding::kLatin1;
}

std::vector<std::uint8_t> FromHex(const std::string& hex) {
  std::vector<std::uint8_t> out;
  if (hex.size() % 2 != 0) ADD_FAILURE() << "odd hex text '" << hex << "'";
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::string ToHex(const std::vector<std::uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (std::uint8_t b : bytes) {
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
  }
  return out;
}

namespace {

double FloatOf(const Json& v) {
  if (v.is_number()) return v.get<double>();
  const std::string s = v.get<std::string>();
  if (s == "inf") return std::numeric_limits<double>::infinity();
  if (s == "-inf") return -std::numeric_limits<double>::infinity();
  if (s == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (s == "-0") return -0.0;
  ADD_FAILURE() << "unknown float '" << s << "'";
  return 0;
}

}  // namespace

LeafValue ValueOf(const Json& typed) {
  LeafValue v;
  if (!typed.is_object() || typed.size() != 1) {
    ADD_FAILURE() << "a value has exactly one kind: " << typed.dump();
    return v;
  }
  const std::string kind = typed.begin().key();
  const Json& x = typed.begin().value();
  if (kind == "bool") {
    v.kind = ValueKind::kBool;
    v.b = x.get<bool>();
  } else if (kind == "signed") {
    v.kind = ValueKind::kSigned;
    v.i = std::stoll(x.get<std::string>());
  } else if (kind == "unsigned") {
    v.kind = ValueKind::kUnsigned;
    v.u = std::stoull(x.get<std::string>());
  } else if (kind == "float") {
    v.kind = ValueKind::kFloat;
    v.f = FloatOf(x);
  } else if (kind == "text") {
    v.kind = ValueKind::kText;
    v.text = x.get<std::string>();
  } else if (kind == "bytes") {
    v.kind = ValueKind::kBytes;
    v.bytes = FromHex(x.get<std::string>());
  } else {
    ADD_FAILURE() << "unknown value kind '" << kind << "'";
  }
  return v;
}

testing::AssertionResult SameValue(const LeafValue& actual, const Json& expected) {
  LeafValue want = ValueOf(expected);
  if (actual.kind != want.kind) {
    return testing::AssertionFailure()
           << "kind " << static_cast<int>(actual.kind) << " (" << FormatLeafText(actual)
           << "), the table wants " << expected.dump();
  }
  bool same = false;
  switch (want.kind) {
    case ValueKind::kBool:
      same = actual.b == want.b;
      break;
    case ValueKind::kSigned:
      same = actual.i == want.i;
      break;
    case ValueKind::kUnsigned:
      same = actual.u == want.u;
      break;
    case ValueKind::kFloat:
      same = std::isnan(want.f) ? std::isnan(actual.f)
                                : std::memcmp(&actual.f, &want.f, sizeof(double)) == 0;
      break;
    case ValueKind::kText:
      same = actual.text == want.text;
      break;
    default:
      same = actual.bytes == want.bytes;
  }
  if (same) return testing::AssertionSuccess();
  return testing::AssertionFailure()
         << "got " << FormatLeafText(actual) << ", the table wants " << expected.dump();
}

std::string ResultName(QXSymResult code) { return InfoOf(code).name; }

bool IsResultName(const std::string& name) {
  for (std::int32_t code = 0; code <= symResProtocolError; ++code) {
    if (name == InfoOf(code).name) return true;
  }
  return false;
}

void CheckKeys(const Json& c, std::initializer_list<const char*> allowed) {
  for (auto it = c.begin(); it != c.end(); ++it) {
    bool known = false;
    for (const char* a : allowed) known = known || it.key() == a;
    EXPECT_TRUE(known) << "unknown key '" << it.key() << "' in " << c.dump();
  }
}

}  // namespace qxsym::client::vectors
