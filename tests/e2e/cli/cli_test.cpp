// qxsym run as a program against qxsym-sim on loopback: each command's
// output (JSON compared structurally), writes read back, errors with their
// result code names and exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "CliRunner.h"
#include "SimLauncher.h"

namespace {

using nlohmann::json;
using qxsym::test::Outcome;
using qxsym::test::RunQxsym;

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A loopback port that nothing listens on: bound, then released.
std::uint16_t ClosedPort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// A loopback listener whose connections the system completes but nobody
// answers: a controller that takes the connection and stays silent.
class SilentListener {
 public:
  SilentListener() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentListener() { close(fd_); }
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  int fd() const { return fd_; }
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

// Each line of text parsed as JSON (discarded values for broken ones).
std::vector<json> JsonLines(const std::string& text) {
  std::vector<json> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(json::parse(line, nullptr, false));
  }
  return lines;
}

class CliTest : public ::testing::Test {
 protected:
  void StartSim(const std::vector<std::string>& args = {"--model", QXSYM_DEMO_MODEL}) {
    std::string error;
    ASSERT_TRUE(sim_.Start(args, &error)) << error;
  }
  void SetUp() override { StartSim(); }

  // qxsym against the simulator, connection options first.
  Outcome Cli(std::vector<std::string> args, bool as_json = false) {
    std::vector<std::string> all{"--host",    sim_.host(), "--port", std::to_string(sim_.port()),
                                 "--timeout", "5000"};
    if (as_json) all.push_back("--json");
    all.insert(all.end(), args.begin(), args.end());
    return RunQxsym(all);
  }
  json CliJson(std::vector<std::string> args) {
    Outcome o = Cli(std::move(args), true);
    EXPECT_EQ(o.status, 0) << o.err;
    json doc = o.Json();
    EXPECT_FALSE(doc.is_discarded()) << o.out;
    return doc;
  }

  qxsym::test::SimLauncher sim_;
};

TEST_F(CliTest, InfoAndListingDescribeTheModel) {
  json info = CliJson({"info"});
  EXPECT_EQ(info["version"], "3.0.1.0");
  EXPECT_EQ(info["full_support"], true);
  EXPECT_EQ(info["global_tags"], 32);

  json list = CliJson({"ls"});
  ASSERT_TRUE(list.is_array());
  EXPECT_EQ(list.size(), 32u);
  std::map<std::string, json> by_name;
  for (const json& t : list) by_name[t["name"]] = t;
  EXPECT_EQ(by_name["EStopOk"], json({{"name", "EStopOk"},
                                      {"type", "BOOL"},
                                      {"size", 1},
                                      {"data_size", 1},
                                      {"read_only", true},
                                      {"bit", true},
                                      {"description", "Emergency stop circuit closed"}}));
  EXPECT_EQ(by_name["Temps"]["type"], "ARRAY[1..8] OF REAL");
  EXPECT_EQ(by_name["Temps"]["size"], 32);
  EXPECT_EQ(by_name["Temps"]["data_size"], 4);

  json counters = CliJson({"ls", "--names", "cnt*"});
  EXPECT_EQ(counters, json({"CntSint", "CntUsint", "CntInt", "CntUint", "CntDint", "CntUdint",
                            "CntLint", "CntUlint"}));

  // Text for a pipe: aligned columns and no colour codes.
  Outcome text = Cli({"ls", "Cnt?int"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_EQ(text.out.find('\033'), std::string::npos);
  EXPECT_NE(text.out.find("CntDint  DINT     4  --     32-bit signed counter"), std::string::npos)
      << text.out;
}

TEST_F(CliTest, ReadExpandsStructuresAndArraysIntoNestedValues) {
  json doc = CliJson({"read", "cntint", "CntLint", "CntUlint", "StatusLword", "SerialNumber",
                      "Grid", "Heatmap", "Recipe", "RecipeBook[2].StepTemps", "Pallet[1,2]"});
  json expected = {
      {"cntint", -12345},
      // Beyond 2^53: strings, so that no digit is lost in a JSON reader.
      {"CntLint", "-9000000000000000000"},
      {"CntUlint", "18000000000000000000"},
      {"StatusLword", "1311768467463790320"},
      {"SerialNumber", "QX-2024-000815"},
      {"Grid", {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}}},
      {"Heatmap",
       {{{1.5, 2.5, 3.5, 4.5}, {5.5, 6.5, 7.5, 8.5}, {9.5, 10.5, 11.5, 12.5}},
        {{13.5, 14.5, 15.5, 16.5}, {17.5, 18.5, 19.5, 20.5}, {21.5, 22.5, 23.5, 24.5}}}},
      {"Recipe",
       {{"Name", "Shortbread 250g"},
        {"Id", 42},
        {"OvenTemp", 185.0},
        {"BeltSpeed", 1.25},
        {"DwellTime", 90000},
        {"StepTemps", {120, 150, 170, 185, 185}}}},
      {"RecipeBook[2].StepTemps", {0, 0, 0, 0, 0}},
      {"Pallet[1,2]", true}};
  EXPECT_EQ(doc, expected) << doc.dump(1);

  // The array of structures spells its declared bounds in the member paths.
  Outcome text = Cli({"read", "RecipeBook"});
  ASSERT_EQ(text.status, 0) << text.err;
  EXPECT_NE(text.out.find("RecipeBook\n  [1]\n    Name = \"Shortbread 250g\"\n"), std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  [3]\n    Name = \"Crackers\"\n    Id = 44\n"), std::string::npos);
}

TEST_F(CliTest, WritesParseByTypeAndReadBack) {
  struct Case {
    std::string tag, text;
    json expected;
  };
  const Case cases[] = {
      {"CntInt", "-32768", -32768},
      {"CntUlint", "18446744073709551615", "18446744073709551615"},
      {"CntLint", "-9223372036854775808", "-9223372036854775808"},
      {"StatusWord", "16#00FF", 255},
      {"StatusDword", "0xDEAD_BEEF", 3735928559u},
      {"TotalEnergy", "0.1", 0.1},
      {"Temps[3]", "99.5", 99.5},
      {"Operator", "Smith & Sons", "Smith & Sons"},
      {"DoorClosed", "false", false},
      {"MachineState", " 3 ", 3},
  };
  for (const Case& c : cases) {
    Outcome w = Cli({"write", c.tag, c.text}, true);
    ASSERT_EQ(w.status, 0) << c.tag << ": " << w.err;
    EXPECT_EQ(w.Json(), json({{c.tag, c.expected}})) << c.tag;
  }
  // Read back by a process of its own.
  json doc = CliJson({"read", "CntInt", "CntUlint", "StatusDword", "Operator", "Temps[3]"});
  EXPECT_EQ(doc, json({{"CntInt", -32768},
                       {"CntUlint", "18446744073709551615"},
                       {"StatusDword", 3735928559u},
                       {"Operator", "Smith & Sons"},
                       {"Temps[3]", 99.5}}));
}

TEST_F(CliTest, StructureAndArrayRoundTripAsJson) {
  json recipe = CliJson({"read", "Recipe"})["Recipe"];
  recipe["Name"] = "Gingerbread";
  recipe["Id"] = 77;
  recipe["StepTemps"] = {100, 110, 120, 130, 140};
  recipe["OvenTemp"] = 171.25;
  Outcome w = Cli({"write", "Recipe", recipe.dump()}, true);
  ASSERT_EQ(w.status, 0) << w.err;
  EXPECT_EQ(w.Json()["Recipe"], recipe);
  EXPECT_EQ(CliJson({"read", "Recipe"})["Recipe"], recipe);

  // Members not named keep their values; arrays may come nested or flat.
  ASSERT_EQ(Cli({"write", "Line.Main", R"({"setspeed": 1200})"}).status, 0);
  json main = CliJson({"read", "Line.Main"})["Line.Main"];
  EXPECT_EQ(main["SetSpeed"], 1200.0);
  EXPECT_EQ(main["Enable"], true);
  ASSERT_EQ(Cli({"write", "Grid", "[[0,1,2,3],[4,5,6,7],[8,9,10,11]]"}).status, 0);
  ASSERT_EQ(Cli({"write", "Pallet", json(std::vector<int>(24, 1)).dump()}).status, 0);
  json both = CliJson({"read", "Grid", "Pallet[4,6]"});
  EXPECT_EQ(both["Grid"], json({{0, 1, 2, 3}, {4, 5, 6, 7}, {8, 9, 10, 11}}));
  EXPECT_EQ(both["Pallet[4,6]"], true);
}

TEST_F(CliTest, ErrorsNameTheResultCodeAndFail) {
  struct Case {
    std::vector<std::string> args;
    std::string code, detail;
  };
  const Case cases[] = {
      {{"read", "NoSuchTag"}, "symResSymbolNotFound", "'NoSuchTag'"},
      {{"write", "CntInt", "40000"}, "symResInvalidParameter", "INT takes -32768 to 32767"},
      {{"write", "CntUsint", "-1"}, "symResInvalidParameter", "USINT takes 0 to 255"},
      {{"write", "CntDint", "12abc"}, "symResInvalidParameter", "not a number"},
      {{"write", "OvenPower", "1e39"}, "symResInvalidParameter", "out of range"},
      {{"write", "SerialNumber", "x"}, "symResReadOnlyTag", "read-only"},
      {{"write", "Recipe", R"({"Bogus": 1})"}, "symResSymbolNotFound", "no member 'Bogus'"},
      {{"write", "Grid", "[1, 2]"}, "symResInvalidParameter", "list of 12 elements"},
      {{"write", "Operator", std::string(81, 'x')}, "symResInvalidParameter", "at most 80"},
      {{"read", "Temps[9]"}, "symResInvalidArrayIndex", "Temps[9]"},
  };
  for (const Case& c : cases) {
    Outcome o = Cli(c.args);
    EXPECT_EQ(o.status, 1) << c.args[1];
    EXPECT_NE(o.err.find(c.code), std::string::npos) << o.err;
    EXPECT_NE(o.err.find(c.detail), std::string::npos) << o.err;
    EXPECT_TRUE(o.out.empty()) << o.out;
  }
  // The value stayed as it was.
  EXPECT_EQ(CliJson({"read", "CntInt"})["CntInt"], -12345);

  // An unreachable port; with --json the error is also a document.
  Outcome o =
      RunQxsym({"--port", std::to_string(ClosedPort()), "--timeout", "2000", "--json", "info"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("symResInvalidAddress"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("--port"), std::string::npos) << o.err;
  EXPECT_EQ(o.Json()["error"]["name"], "symResInvalidAddress");

  Outcome no_port = RunQxsym({"info"});
  EXPECT_NE(no_port.status, 0);
}

// A controller that accepts and never answers is named as such; one that
// closes the connection at once is not.
TEST_F(CliTest, SilentControllerIsReportedAsNotAnswering) {
  SilentListener silent;
  Outcome o =
      RunQxsym({"--port", std::to_string(silent.port()), "--timeout", "200", "--json", "info"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("the controller does not answer: symResSocketError"), std::string::npos)
      << o.err;
  EXPECT_EQ(o.Json()["error"]["name"], "symResSocketError");

  SilentListener closing;
  std::thread closer([&] {
    const int c = accept(closing.fd(), nullptr, nullptr);
    if (c >= 0) close(c);
  });
  o = RunQxsym({"--port", std::to_string(closing.port()), "--timeout", "5000", "info"});
  closer.join();
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err.find("does not answer"), std::string::npos) << o.err;
}

TEST_F(CliTest, WatchReportsSimulatedChanges) {
  Outcome o = Cli({"watch", "--interval", "150", "--count", "4", "CntDint", "Operator"}, true);
  ASSERT_EQ(o.status, 0) << o.err;
  std::vector<json> lines = JsonLines(o.out);
  ASSERT_GE(lines.size(), 3u) << o.out;
  // The first poll tells everything, later ones only the counter, each
  // with the value told before.
  std::vector<std::int64_t> counts;
  std::size_t operators = 0;
  for (const json& line : lines) {
    ASSERT_TRUE(line.is_object()) << o.out;
    EXPECT_EQ(line["status"], "good");
    if (line["path"] == "Operator") {
      ++operators;
      EXPECT_EQ(line["value"], "Miller");
      continue;
    }
    ASSERT_EQ(line["path"], "CntDint");
    if (!counts.empty()) {
      EXPECT_EQ(line["previous"], counts.back());
    }
    counts.push_back(line["value"].get<std::int64_t>());
  }
  EXPECT_EQ(operators, 1u);
  EXPECT_TRUE(lines[0]["previous"].is_null());
  EXPECT_GE(counts.size(), 2u);
}

// A controller that goes away mid-watch: every line stays a whole JSON
// object, the values go stale, the exit status tells, and standard error
// names the code.
TEST_F(CliTest, WatchOutputStaysOneDocumentWhenTheControllerGoes) {
  ASSERT_EQ(sim_.Stop(), 0);
  StartSim({"--model", QXSYM_DEMO_MODEL, "--close-after", "40"});
  Outcome o = Cli({"watch", "--interval", "5", "--count", "1000", "CntDint"}, true);
  EXPECT_EQ(o.status, 1);
  std::vector<json> lines = JsonLines(o.out);
  ASSERT_GE(lines.size(), 2u) << o.out;
  for (const json& line : lines) EXPECT_TRUE(line.is_object()) << o.out;
  EXPECT_EQ(lines.back()["status"], "stale") << o.out;
  EXPECT_EQ(lines.back()["value"], lines[lines.size() - 2]["value"]) << o.out;
  EXPECT_NE(o.err.find("symRes"), std::string::npos) << o.err;
}

TEST_F(CliTest, TableDownloadEqualsTheModelFile) {
  std::string file = ::testing::TempDir() + "qxsym_cli_table.bin";
  std::remove(file.c_str());
  json done = CliJson({"table", file});
  EXPECT_EQ(ReadFile(file), ReadFile(QXSYM_DEMO_MODEL));
  EXPECT_EQ(done["bytes"], ReadFile(QXSYM_DEMO_MODEL).size());

  Outcome again = Cli({"table", file});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.err.find("symResFileAlreadyExists"), std::string::npos);
  EXPECT_NE(again.err.find("--force"), std::string::npos);
  EXPECT_EQ(Cli({"table", "--force", file}).status, 0);
  std::remove(file.c_str());
}

// Without --force nothing is written through a symbolic link, dangling or
// not, and no download folder is left behind.
TEST_F(CliTest, TableNeverWritesThroughASymbolicLink) {
  const std::string dir = ::testing::TempDir() + "qxsym_cli_links";
  ASSERT_EQ(std::system(("rm -rf " + dir + " && mkdir -p " + dir).c_str()), 0);
  const std::string dangling = dir + "/dangling", absent = dir + "/absent";
  const std::string to_file = dir + "/to_file", kept = dir + "/kept";
  ASSERT_EQ(symlink(absent.c_str(), dangling.c_str()), 0);
  { std::ofstream(kept) << "keep me"; }
  ASSERT_EQ(symlink(kept.c_str(), to_file.c_str()), 0);

  for (const std::string& link : {dangling, to_file}) {
    Outcome o = Cli({"table", link});
    EXPECT_EQ(o.status, 1) << link;
    EXPECT_NE(o.err.find("symResFileAlreadyExists"), std::string::npos) << o.err;
    struct stat st {};
    EXPECT_EQ(lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
  }
  struct stat st {};
  EXPECT_NE(lstat(absent.c_str(), &st), 0) << "created through the dangling link";
  EXPECT_EQ(ReadFile(kept), "keep me");

  // A new name gets the whole table, and only the names made here remain.
  const std::string fresh = dir + "/fresh.bin";
  EXPECT_EQ(Cli({"table", fresh}).status, 0);
  EXPECT_EQ(ReadFile(fresh), ReadFile(QXSYM_DEMO_MODEL));
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, std::set<std::string>({"dangling", "to_file", "kept", "fresh.bin"}));
  std::filesystem::remove_all(dir);
}

// Names longer than the library sends whole are refused, not cut to name
// another tag; a name of exactly the longest length still works.
TEST_F(CliTest, NamesTooLongToSendAreRefused) {
  const std::string longest(259, 'A');
  const std::string model = ::testing::TempDir() + "qxsym_cli_long.json";
  {
    json doc = {{"name", "long names"},
                {"memory", {{"base", "0x00100000"}, {"size", 4096}}},
                {"tags", {{{"name", longest}, {"type", "INT"}, {"value", 7}}}}};
    std::ofstream(model) << doc.dump();
  }
  ASSERT_EQ(sim_.Stop(), 0);
  StartSim({"--model", model});
  std::remove(model.c_str());

  const std::string too_long = longest + "_NOT_A_TAG";
  const std::vector<std::vector<std::string>> refused = {
      {"write", too_long, "99"}, {"read", too_long},
      {"type", too_long},        {"watch", "--count", "1", too_long},
      {"ls", too_long},          {"ls", "--names", too_long + "*"},
      {"read", longest + "X"}};
  for (const auto& args : refused) {
    Outcome o = Cli(args);
    EXPECT_EQ(o.status, 1) << args[0];
    EXPECT_NE(o.err.find("symResInvalidParameter"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("too long"), std::string::npos) << o.err;
    EXPECT_NE(o.err.find("at most 259 bytes"), std::string::npos) << o.err;
  }
  EXPECT_EQ(CliJson({"read", longest})[longest], 7);
  EXPECT_EQ(CliJson({"write", longest, "8"})[longest], 8);
  EXPECT_EQ(CliJson({"ls", "--names", longest}), json({longest}));
}

TEST_F(CliTest, TypeAndBenchReport) {
  json type = CliJson({"type", "Spares"});
  EXPECT_EQ(type["type"], "ARRAY[1..2] OF MOTOR");
  EXPECT_EQ(type["dims"], json({2}));
  EXPECT_EQ(type["lower_bounds"], json({1}));
  EXPECT_EQ(type["element"]["type"], "MOTOR");
  ASSERT_EQ(type["element"]["members"].size(), 9u);
  EXPECT_EQ(type["element"]["members"][3], json({{"type", "REAL"},
                                                 {"size", 4},
                                                 {"properties", {"Basic", "Numeric", "Signed"}},
                                                 {"name", "SetSpeed"}}));

  json bench = CliJson({"bench", "--count", "3", "--max-group", "10", "CntDint"});
  EXPECT_EQ(bench["tag"], "CntDint");
  ASSERT_EQ(bench["results"].size(), 3u);
  EXPECT_EQ(bench["results"][0]["test"], "single read");
  EXPECT_EQ(bench["results"][2]["values_per_read"], 10);
  EXPECT_GT(bench["results"][2]["values_per_s"].get<double>(), 0);
}

// bench looks its tag up again for every group member: as the session's
// encoding spells it, like the single read. The controller holds the UTF-8
// bytes of "Zähler"; read as Latin-1 they are the name "ZÃ¤hler".
TEST_F(CliTest, BenchFindsANonAsciiTagInTheSessionEncoding) {
  const std::string model = ::testing::TempDir() + "qxsym_cli_bench_text.json";
  {
    json doc = {{"name", "one counter"},
                {"memory", {{"base", "0x00100000"}, {"size", 4096}}},
                {"tags", {{{"name", "Z\xC3\xA4hler"}, {"type", "DINT"}, {"value", 7}}}}};
    std::ofstream(model) << doc.dump();
  }
  ASSERT_EQ(sim_.Stop(), 0);
  StartSim({"--model", model});
  std::remove(model.c_str());
  const std::string as_latin1 = "Z\xC3\x83\xC2\xA4hler";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"bench", "--count", "2", "--max-group", "10", as_latin1},
        std::vector<std::string>{"bench", "--count", "2", "--max-group", "10"}}) {
    json bench = CliJson(args);
    EXPECT_EQ(bench["tag"], as_latin1);
    ASSERT_EQ(bench["results"].size(), 3u) << bench.dump();
    EXPECT_EQ(bench["results"][2]["values_per_read"], 10);
  }
  Outcome utf8 = Cli({"--encoding", "utf8", "--json", "bench", "--count", "2", "--max-group", "10",
                      "Z\xC3\xA4hler"});
  EXPECT_EQ(utf8.status, 0) << utf8.err;
}

TEST_F(CliTest, EveryCommandHasHelpWithExamples) {
  for (const char* command : {"info", "ls", "read", "write", "type", "watch", "table", "bench"}) {
    Outcome o = RunQxsym({command, "--help"});
    EXPECT_EQ(o.status, 0) << command;
    EXPECT_NE(o.out.find("Examples:\n  qxsym"), std::string::npos) << command << o.out;
  }
  EXPECT_NE(RunQxsym({"--help"}).out.find("QXSYM_PORT"), std::string::npos);
}

// A listing longer than one reply holds (500) is still complete.
TEST_F(CliTest, ListsEveryTagOfALargeModel) {
  std::string model = ::testing::TempDir() + "qxsym_cli_5000.json";
  std::string command = std::string(QXSYM_GENMODEL_PATH) + " --tags 5000 -o " + model;
  ASSERT_EQ(std::system(command.c_str()), 0);
  ASSERT_EQ(sim_.Stop(), 0);
  StartSim({"--model", model});
  json names = CliJson({"ls", "--names"});
  std::remove(model.c_str());
  ASSERT_TRUE(names.is_array());
  std::set<std::string> unique(names.begin(), names.end());
  EXPECT_EQ(names.size(), 5000u);
  EXPECT_EQ(unique.size(), 5000u);
  EXPECT_TRUE(unique.count("Area00_Line00_Motor000"));
  EXPECT_TRUE(unique.count("Area04_Line19_Count999"));
  // A filter that alone matches more than 500.
  EXPECT_EQ(CliJson({"ls", "--names", "Area01_*"}).size(), 1000u);
}

}  // namespace
