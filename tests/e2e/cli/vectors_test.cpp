// The shared value vectors (tests/vectors/values.json), tag-level cases, run
// through qxsym against qxsym-sim serving tests/vectors/model.json: reads
// as `watch --count 1` (every value by its leaf path), sets of tags as one
// `read`, writes as one `write` of TAG VALUE pairs, layouts as
// `type --leaves`. The bytes a write leaves
// are read through the library itself, not through the tool.
#include <QXSymbols.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "CliRunner.h"
#include "SimLauncher.h"

namespace {

using Json = nlohmann::ordered_json;
using qxsym::test::Outcome;
using qxsym::test::RunQxsym;

Json LoadVectors() {
  std::ifstream in(QXSYM_VECTORS_DIR "/values.json");
  return Json::parse(in, nullptr, false);
}

// A typed value of the table as the text a person gives qxsym write; false
// for bytes, which the tool takes for no type.
bool TypedText(const Json& typed, std::string* text) {
  const std::string kind = typed.begin().key();
  const Json& v = typed.begin().value();
  if (kind == "bool") {
    *text = v.get<bool>() ? "TRUE" : "FALSE";
  } else if (kind == "signed" || kind == "unsigned" || kind == "text") {
    *text = v.get<std::string>();
  } else if (kind == "float") {
    *text = v.is_string() ? v.get<std::string>() : v.dump();
  } else {
    return false;
  }
  return true;
}

// What qxsym prints in JSON for a typed value of the table.
bool Matches(const Json& typed, const Json& got) {
  const std::string kind = typed.begin().key();
  const Json& v = typed.begin().value();
  if (kind == "bool") return got == v;
  if (kind == "text") return got == v;
  if (kind == "signed" || kind == "unsigned") {
    return got.is_string() ? got == v : got.is_number() && got.dump() == v.get<std::string>();
  }
  if (kind == "float") {
    if (v.is_string()) {
      const std::string s = v.get<std::string>();
      if (s == "nan") return got == "NaN";
      if (s == "inf") return got == "Infinity";
      if (s == "-inf") return got == "-Infinity";
      return got.is_number() && got.get<double>() == 0 && std::signbit(got.get<double>());
    }
    return got.is_number() && got.get<double>() == v.get<double>();
  }
  return got.is_string() && got.get<std::string>() == "0x" + v.get<std::string>();
}

// Every value of a nested read in order.
void Flatten(const Json& j, std::vector<Json>* out) {
  if (j.is_structured()) {
    for (const Json& part : j) Flatten(part, out);
  } else {
    out->push_back(j);
  }
}

class VectorsTest : public ::testing::Test {
 protected:
  void Start(bool short_reply) {
    std::vector<std::string> args{"--model", QXSYM_VECTORS_DIR "/model.json"};
    if (short_reply) args.push_back("--short-reply");
    std::string error;
    ASSERT_TRUE(sim_.Start(args, &error)) << error;
  }

  Outcome Cli(const Json& c, std::vector<std::string> args) {
    std::vector<std::string> all{
        "--port",     std::to_string(sim_.port()),  "--timeout", "3000", "--json",
        "--encoding", c.value("encoding", "latin1")};
    all.insert(all.end(), args.begin(), args.end());
    return RunQxsym(all);
  }

  // The tag's bytes as the controller holds them: the whole tag, or for an
  // array (whose value calls move one element) its first element.
  std::string RawHex(const std::string& path) {
    QXSymServerAddress address{};
    address.protocol = symProtGDB_TCP;
    std::snprintf(address.ip, sizeof address.ip, "%s", sim_.host().c_str());
    address.port = sim_.port();
    QXSymWorkspaceHandle ws = 0;
    QXSymTagHandle tag = 0;
    std::uint32_t size = 0;
    std::string hex;
    if (QXSym_Init() == symResOk && QXSym_OpenWorkspace(0, &address, &ws) == symResOk &&
        QXSym_GetGlobalTag(ws, path.c_str(), &tag) == symResOk &&
        QXSym_GetTagDataSize(tag, &size) == symResOk) {
      std::vector<std::uint8_t> bytes(size);
      if (QXSym_GetTagValue_Ptr(tag, bytes.data(), size) == symResOk) {
        char two[3];
        for (std::uint8_t b : bytes) {
          std::snprintf(two, sizeof two, "%02X", b);
          hex += two;
        }
      }
    }
    if (tag != 0) QXSym_CloseTag(tag);
    if (ws != 0) QXSym_CloseWorkspace(ws);
    return hex;
  }

  void ExpectError(const Json& c, const Outcome& o, const std::string& where) {
    EXPECT_EQ(o.status, 1) << where << o.err;
    EXPECT_NE(o.err.find(c["error"].get<std::string>()), std::string::npos) << where << o.err;
    for (const Json& piece : c.value("message", Json::array())) {
      EXPECT_NE(o.err.find(piece.get<std::string>()), std::string::npos) << where << o.err;
    }
  }

  // The leaves a read of path gives, each checked against `leaves`; all of
  // them, in order, when `whole`.
  void ExpectLeaves(const Json& c, const std::string& path, const Json& leaves, bool whole,
                    const std::string& where) {
    Outcome o = Cli(c, {"watch", "--count", "1", path});
    ASSERT_EQ(o.status, 0) << where << o.err;
    // One JSON line per leaf value of the first poll, in the layout's order.
    Json got = Json::object();
    std::istringstream lines(o.out);
    for (std::string line; std::getline(lines, line);) {
      const Json change = Json::parse(line, nullptr, false);
      ASSERT_TRUE(change.is_object() && change["status"] == "good") << where << o.out;
      got[change["path"].get<std::string>()] = change["value"];
    }
    if (whole) {
      std::vector<std::string> want, have;
      for (const auto& [k, v] : leaves.items()) want.push_back(k);
      for (const auto& [k, v] : got.items()) have.push_back(k);
      EXPECT_EQ(have, want) << where;
    }
    for (const auto& [leaf, typed] : leaves.items()) {
      ASSERT_TRUE(got.contains(leaf)) << where << ": no " << leaf << " in " << got.dump();
      EXPECT_TRUE(Matches(typed, got[leaf]))
          << where << ": " << leaf << " " << got[leaf].dump() << " vs " << typed.dump();
    }
  }

  void Read(const Json& c, const std::string& where) {
    const std::string path = c["path"];
    if (c.contains("error")) return ExpectError(c, Cli(c, {"read", path}), where);
    ExpectLeaves(c, path, c["leaves"], true, where);
  }

  void ReadSet(const Json& c, const std::string& where) {
    std::vector<std::string> args{"read"};
    for (const Json& p : c["paths"]) args.push_back(p);
    Outcome o = Cli(c, args);
    const Json doc = Json::parse(o.out, nullptr, false);
    ASSERT_TRUE(doc.is_object()) << where << o.out;
    bool any_error = false;
    for (std::size_t i = 0; i < c["paths"].size(); ++i) {
      const std::string path = c["paths"][i];
      const Json& want = c["results"][i];
      if (want.contains("error")) {
        any_error = true;
        EXPECT_TRUE(doc[path].is_null()) << where << path;
        EXPECT_NE(o.err.find(want["error"].get<std::string>()), std::string::npos) << o.err;
        continue;
      }
      std::vector<Json> values;
      Flatten(doc[path], &values);
      ASSERT_EQ(values.size(), want["leaves"].size()) << where << path;
      std::size_t k = 0;
      for (const auto& [leaf, typed] : want["leaves"].items()) {
        EXPECT_TRUE(Matches(typed, values[k++])) << where << leaf;
      }
    }
    EXPECT_EQ(o.status, any_error ? 1 : 0) << where;
  }

  // False when the case cannot be said on qxsym's command line.
  bool Write(const Json& c, const std::string& where) {
    std::vector<std::string> args{"write"};
    for (const auto& [leaf, typed] : c["value"].items()) {
      std::string text;
      if (!TypedText(typed, &text)) return false;
      args.push_back(leaf);
      args.push_back(text);
    }
    Outcome o = Cli(c, args);
    if (c.contains("error")) {
      ExpectError(c, o, where);
    } else {
      EXPECT_EQ(o.status, 0) << where << o.err;
    }
    if (c.contains("raw")) {
      const std::string raw = RawHex(c["path"]);
      EXPECT_EQ(raw, c["raw"].get<std::string>().substr(0, raw.size())) << where;
      EXPECT_FALSE(raw.empty()) << where;
    }
    if (c.contains("then")) ExpectLeaves(c, c.value("read", c["path"]), c["then"], false, where);
    return true;
  }

  // The leaves `type --leaves` lists, in order, and the declared bounds
  // `type` gives an array.
  void Layout(const Json& c, const std::string& where) {
    const std::string path = c["path"];
    Outcome o = Cli(c, {"type", "--leaves", path});
    ASSERT_EQ(o.status, 0) << where << o.err;
    const Json doc = Json::parse(o.out, nullptr, false);
    ASSERT_TRUE(doc.is_object() && doc["leaves"].is_array()) << where << o.out;
    Json want = Json::array();
    for (const Json& leaf : c["leaves"]) {
      want.push_back({{"path", leaf["path"]},
                      {"offset", leaf["offset"]},
                      {"size", leaf["size"]},
                      {"type", leaf["type"]}});
    }
    EXPECT_EQ(doc["leaves"], want) << where;
    if (!c.contains("bounds")) return;
    o = Cli(c, {"type", path});
    const Json type = Json::parse(o.out, nullptr, false);
    ASSERT_TRUE(type.is_object()) << where << o.out;
    Json bounds = Json::array();
    for (std::size_t d = 0; d < type["dims"].size(); ++d) {
      const std::int64_t lower = type["lower_bounds"][d];
      bounds.push_back({lower, lower + type["dims"][d].get<std::int64_t>() - 1});
    }
    EXPECT_EQ(bounds, c["bounds"]) << where;
  }

  qxsym::test::SimLauncher sim_;
};

TEST_F(VectorsTest, TagCasesThroughTheTool) {
  const Json vectors = LoadVectors();
  ASSERT_EQ(vectors["format"], 1);
  int run = 0, skipped = 0;
  for (bool faults : {false, true}) {
    Start(faults);
    for (const Json& group : vectors["tag"]) {
      for (std::size_t i = 0; i < group["cases"].size(); ++i) {
        const Json& c = group["cases"][i];
        if (c.contains("fault") != faults) continue;
        const std::string where = group["group"].get<std::string>() + " #" + std::to_string(i);
        const std::string op = c["op"];
        if (op == "read") {
          Read(c, where);
        } else if (op == "read_set") {
          ReadSet(c, where);
        } else if (op == "layout") {
          Layout(c, where);
        } else if (op != "write" || !Write(c, where)) {
          ++skipped;  // a value the command line cannot say
          continue;
        }
        ++run;
      }
    }
    ASSERT_EQ(sim_.Stop(), 0);
  }
  EXPECT_GE(run, 80);
  std::printf("%d tag cases run through qxsym, %d not expressible on its command line\n", run,
              skipped);
}

// Against the demo model: a text beyond ASCII stored as one byte per
// character (Latin-1) and read back the same, a REAL beyond its range
// refused with the value left as it was, and an array labelled by its
// declared indices 1..8.
class DemoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim_.Start({"--model", QXSYM_DEMO_MODEL}, &error)) << error;
  }
  Outcome Cli(std::vector<std::string> args) {
    std::vector<std::string> all{"--port", std::to_string(sim_.port()), "--timeout", "3000"};
    all.insert(all.end(), args.begin(), args.end());
    return RunQxsym(all);
  }
  qxsym::test::SimLauncher sim_;
};

TEST_F(DemoTest, TextRangeAndDeclaredIndicesAsEveryFrontEndShowsThem) {
  Outcome w = Cli({"--json", "write", "Operator", "Zo\xC3\xAB"});
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(Json::parse(w.out)["Operator"], "Zo\xC3\xAB");
  // Three bytes at the controller, not the four of UTF-8.
  Outcome utf8 = Cli({"--json", "--encoding", "utf8", "read", "Operator"});
  EXPECT_EQ(utf8.status, 0);
  EXPECT_EQ(Json::parse(utf8.out)["Operator"], "Zo\xEF\xBF\xBD") << utf8.out;

  const Json before = Json::parse(Cli({"--json", "read", "Line.Speed"}).out);
  Outcome big = Cli({"write", "Line.Speed", "1e39"});
  EXPECT_EQ(big.status, 1);
  EXPECT_NE(big.err.find("symResInvalidParameter"), std::string::npos) << big.err;
  EXPECT_NE(big.err.find("REAL takes"), std::string::npos) << big.err;
  EXPECT_EQ(Json::parse(Cli({"--json", "read", "Line.Speed"}).out), before);

  Outcome temps = Cli({"read", "Temps"});
  ASSERT_EQ(temps.status, 0) << temps.err;
  EXPECT_EQ(temps.out.find("[0]"), std::string::npos) << temps.out;
  EXPECT_NE(temps.out.find("\n  [1] = "), std::string::npos) << temps.out;
  EXPECT_NE(temps.out.find("\n  [8] = "), std::string::npos) << temps.out;
  EXPECT_EQ(Cli({"read", "Temps[0]"}).status, 1);
  EXPECT_EQ(Cli({"read", "Temps[8]"}).status, 0);
  const Json type = Json::parse(Cli({"--json", "type", "Temps"}).out);
  EXPECT_EQ(type["lower_bounds"], Json({1}));
}

// read of several tags: each failing tag on standard error, the others
// printed, exit status 1.
TEST_F(DemoTest, ReadReportsEachFailingTagAndPrintsTheOthers) {
  Outcome o = Cli({"read", "CntInt", "NoSuchTag", "Temps[9]", "Operator"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.out.find("CntInt = -12345"), std::string::npos) << o.out;
  EXPECT_NE(o.out.find("Operator = \"Miller\""), std::string::npos) << o.out;
  EXPECT_NE(o.err.find("'NoSuchTag': symResSymbolNotFound"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("'Temps[9]': symResInvalidArrayIndex"), std::string::npos) << o.err;
}

TEST_F(DemoTest, TableToStandardOutputCsvWatchAndUsageErrors) {
  Outcome table = Cli({"table", "-"});
  ASSERT_EQ(table.status, 0) << table.err;
  std::ifstream in(QXSYM_DEMO_MODEL, std::ios::binary);
  EXPECT_EQ(table.out, std::string(std::istreambuf_iterator<char>(in), {}));

  Outcome csv = Cli({"watch", "--csv", "--count", "2", "--interval", "50", "Operator", "Pallet"});
  ASSERT_EQ(csv.status, 0) << csv.err;
  std::istringstream rows(csv.out);
  std::string header, first, second;
  std::getline(rows, header);
  std::getline(rows, first);
  std::getline(rows, second);
  EXPECT_EQ(header, "time,path,value,previous,status");
  EXPECT_EQ(first.substr(first.find(',')), ",Operator,Miller,,good") << csv.out;
  // Labels of two dimensions hold a comma, so they are quoted.
  EXPECT_EQ(second.substr(second.find(',')), ",\"Pallet[1,1]\",TRUE,,good") << csv.out;
  EXPECT_NE(csv.out.find(",\"Pallet[4,6]\",FALSE,,good\n"), std::string::npos) << csv.out;

  for (const std::vector<std::string>& args : {std::vector<std::string>{"frobnicate"},
                                               {"ls", "--bogus"},
                                               {"ls", "--connections", "9"},
                                               {"--encoding", "ebcdic", "info"},
                                               {"write", "CntInt"}}) {
    Outcome o = Cli(args);
    EXPECT_EQ(o.status, 2) << args[0] << o.err;
    EXPECT_NE(o.err.find("qxsym: error:"), std::string::npos) << o.err;
  }
  EXPECT_NE(Cli({"frobnicate"}).err.find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(Cli({"--json", "ls", "--names", "--connections", "4", "Cnt*"}).status, 0);
}

}  // namespace
