// qxsym against a controller whose texts hold control characters and whose
// answers can be bent: the simulator's service and server run in this
// process on loopback, behind a backend that swaps a marker in the model's
// names for control characters on the way out (and back on the way in), and
// can claim that every structure has 4,294,967,295 members.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "CliRunner.h"
#include "ControllerBackend.h"
#include "Server.h"
#include "SymbolMessages.h"
#include "SymbolModel.h"
#include "SymbolService.h"

namespace {

using nlohmann::json;
using qxsym::test::Outcome;
using qxsym::test::RunQxsym;
using Bytes = std::vector<std::uint8_t>;

// Same length, so every length field of the protocol stays right: an escape
// sequence that clears the screen, a line break, a carriage return, the C1
// control CSI in UTF-8 and DEL.
const std::string kMarker = "QXQXQXQXQ";
const std::string kControls = "\x1b[2J\n\r\xc2\x9b\x7f";
static_assert(sizeof "QXQXQXQXQ" == sizeof "\x1b[2J\n\r\xc2\x9b\x7f");

const char kModel[] = R"({
  "name": "texts with control characters",
  "memory": {"base": "0x00100000", "size": 4096},
  "types": [
    {"name": "RecQXQXQXQXQ", "kind": "STRUCT", "members": [
      {"name": "MemQXQXQXQXQ", "type": "INT", "value": 5},
      {"name": "Plain", "type": "STRING[20]", "value": "aQXQXQXQXQb"}]}
  ],
  "tags": [
    {"name": "TagQXQXQXQXQ", "type": "RecQXQXQXQXQ", "description": "DescQXQXQXQXQ"},
    {"name": "Count", "type": "DINT", "value": 3}
  ]
})";

void Swap(Bytes& bytes, const std::string& from_text, const std::string& to) {
  const Bytes from(from_text.begin(), from_text.end());  // compared as bytes, not chars
  auto at = bytes.begin();
  while ((at = std::search(at, bytes.end(), from.begin(), from.end())) != bytes.end()) {
    at = std::copy(to.begin(), to.end(), at);
  }
}

class BendingBackend final : public qxsym::sim::ControllerBackend {
 public:
  explicit BendingBackend(std::shared_ptr<qxsym::sim::SymbolModel> model)
      : model_(model), service_(std::make_shared<qxsym::sim::SymbolService>(model)) {}

  void HandleMessage(const std::uint8_t* request, std::size_t size, Bytes& reply) override {
    Bytes in(request, request + size);
    Swap(in, kControls, kMarker);
    const std::uint16_t code = size >= 2 ? static_cast<std::uint16_t>(in[0] | (in[1] << 8)) : 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++requests_[code];
    }
    service_->Handle(in.data(), in.size(), reply);
    Swap(reply, kMarker, kControls);
    // A reply of code, status 0 and the count.
    if (huge_members && code == qxsym::kCmdTypeGetNumChildren && reply.size() == 8 &&
        reply[2] == 0 && reply[3] == 0) {
      std::fill(reply.begin() + 4, reply.end(), 0xFF);
    }
  }
  bool ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) override {
    return model_->ReadMemory(address, n, out);
  }
  bool WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) override {
    return model_->WriteMemory(address, n, data);
  }
  std::uint8_t ReadVariable(std::uint16_t, std::uint8_t, Bytes&) override {
    return qxsym::sim::kStatusBadCommand;
  }
  std::uint8_t WriteVariable(std::uint16_t, std::uint8_t, const std::uint8_t*,
                             std::size_t) override {
    return qxsym::sim::kStatusBadCommand;
  }

  int requests(std::uint16_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_[code];
  }

  std::atomic<bool> huge_members{false};

 private:
  std::shared_ptr<qxsym::sim::SymbolModel> model_;
  std::shared_ptr<qxsym::sim::SymbolService> service_;
  std::mutex mutex_;
  std::map<std::uint16_t, int> requests_;
};

// Bytes that a terminal would act on: controls other than the line ends
// the tool writes itself, DEL, and C1 controls in UTF-8.
bool HoldsRawControl(const std::string& text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if ((c < 0x20 && c != '\n') || c == 0x7f) return true;
    if (c == 0xc2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0x9f) {
      return true;
    }
  }
  return false;
}

std::size_t Lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

class ControllerTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    auto model = qxsym::sim::SymbolModel::LoadString(kModel, &error);
    ASSERT_TRUE(model) << error;
    backend_ = std::make_shared<BendingBackend>(model);
    server_ = std::make_unique<qxsym::sim::Server>(qxsym::sim::ServerOptions{}, backend_);
    ASSERT_TRUE(server_->Listen(&error)) << error;
    thread_ = std::thread([this] { server_->Run(); });
  }
  void TearDown() override {
    if (server_) server_->Stop();
    if (thread_.joinable()) thread_.join();
  }

  // The bent texts are UTF-8 (C1 controls as two bytes), so the tool is
  // told so; in its default Latin-1 every byte would be one character.
  Outcome Cli(std::vector<std::string> args, bool as_json = false) {
    std::vector<std::string> all{
        "--host",    "127.0.0.1", "--port",     std::to_string(server_->port()),
        "--timeout", "5000",      "--encoding", "utf8"};
    if (as_json) all.push_back("--json");
    all.insert(all.end(), args.begin(), args.end());
    return RunQxsym(all);
  }

  std::shared_ptr<BendingBackend> backend_;
  std::unique_ptr<qxsym::sim::Server> server_;
  std::thread thread_;
};

const std::string kTag = "Tag" + kControls;
const std::string kEscaped = "\\x1B[2J\\x0A\\x0D\\xC2\\x9B\\x7F";

TEST_F(ControllerTextTest, TextOutputEscapesEveryControlCharacter) {
  struct Case {
    std::vector<std::string> args;
    std::size_t lines;     // lines expected on standard output
    std::string expected;  // an escaped text that must appear
  };
  const Case cases[] = {
      {{"ls", "--names"}, 2, "Tag" + kEscaped},
      {{"ls"}, 3, "Desc" + kEscaped},
      {{"type", kTag}, 3, "Mem" + kEscaped},
      {{"read", kTag}, 3, "\"a" + kEscaped + "b\""},
      {{"watch", "--count", "1", kTag}, 2, "  Tag" + kEscaped + ".Mem" + kEscaped + "  5  good\n"},
  };
  for (const Case& c : cases) {
    Outcome o = Cli(c.args);
    EXPECT_EQ(o.status, 0) << c.args[0] << o.err;
    EXPECT_FALSE(HoldsRawControl(o.out)) << c.args[0] << ": " << o.out;
    EXPECT_EQ(Lines(o.out), c.lines) << c.args[0] << ": " << o.out;
    EXPECT_NE(o.out.find(c.expected), std::string::npos) << c.args[0] << ": " << o.out;
  }

  // Error messages and advice name the controller's members escaped too.
  Outcome o = Cli({"write", kTag, R"({"Bogus": 1})"});
  EXPECT_EQ(o.status, 1);
  EXPECT_FALSE(HoldsRawControl(o.err)) << o.err;
  EXPECT_NE(o.err.find("the members are Mem" + kEscaped + ", Plain"), std::string::npos) << o.err;
}

TEST_F(ControllerTextTest, JsonCarriesTheExactTextsEscaped) {
  Outcome names = Cli({"ls", "--names"}, true);
  ASSERT_EQ(names.status, 0) << names.err;
  EXPECT_FALSE(HoldsRawControl(names.out)) << names.out;
  EXPECT_EQ(names.Json(), json({kTag, "Count"}));

  Outcome type = Cli({"type", kTag}, true);
  ASSERT_EQ(type.status, 0) << type.err;
  EXPECT_FALSE(HoldsRawControl(type.out)) << type.out;
  EXPECT_EQ(type.Json()["type"], "Rec" + kControls);
  EXPECT_EQ(type.Json()["members"][0]["name"], "Mem" + kControls);

  Outcome read = Cli({"read", kTag}, true);
  ASSERT_EQ(read.status, 0) << read.err;
  EXPECT_FALSE(HoldsRawControl(read.out)) << read.out;
  EXPECT_EQ(read.Json()[kTag]["Plain"], "a" + kControls + "b") << read.out;
  // watch: one object a line, the path and the text escaped in it.
  Outcome watch = Cli({"watch", "--count", "1", kTag}, true);
  ASSERT_EQ(watch.status, 0) << watch.err;
  EXPECT_FALSE(HoldsRawControl(watch.out)) << watch.out;
  ASSERT_EQ(Lines(watch.out), 2u) << watch.out;
  const json plain = json::parse(watch.out.substr(watch.out.find('\n') + 1));
  EXPECT_EQ(plain["path"], kTag + ".Plain") << watch.out;
  EXPECT_EQ(plain["value"], "a" + kControls + "b") << watch.out;

  Outcome error = Cli({"read", kTag + ".Nope"}, true);
  EXPECT_EQ(error.status, 1);
  EXPECT_FALSE(HoldsRawControl(error.out + error.err)) << error.out << error.err;
  // A tag that fails is null in the document and named on standard error.
  EXPECT_EQ(error.Json(), json({{kTag + ".Nope", nullptr}})) << error.out;
  EXPECT_NE(error.err.find("cannot find 'Tag" + kEscaped + ".Nope'"), std::string::npos)
      << error.err;
}

// A structure claiming 4,294,967,295 members is refused before a single
// member is asked for.
TEST_F(ControllerTextTest, AStructureClaimingBillionsOfMembersIsRefusedAtOnce) {
  backend_->huge_members = true;
  for (const char* command : {"type", "read"}) {
    Outcome o = Cli({command, kTag});
    EXPECT_EQ(o.status, 1) << command;
    EXPECT_NE(o.err.find("claims 4294967295 members"), std::string::npos) << o.err;
  }
  EXPECT_GE(backend_->requests(qxsym::kCmdTypeGetNumChildren), 2);
  EXPECT_EQ(backend_->requests(qxsym::kCmdTypeGetChild), 0);
  EXPECT_EQ(backend_->requests(qxsym::kCmdTypeGetChildName), 0);
}

}  // namespace
