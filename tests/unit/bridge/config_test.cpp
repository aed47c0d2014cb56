// Reading the bridge's configuration: a full file, then each kind of bad
// input refused with the line it is on.
#include <Config.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace qxsym::bridge {
namespace {

namespace fs = std::filesystem;

// Line numbers below count from this text's first line.
const char* const kGood = R"(broker:
  host: broker.local
  port: 8883
  username: bridge
  password_file: secret.txt
  tls: { ca: ca.pem }
sparkplug: { group: Plant1, node: Line1Bridge }
store: { path: line1.db, max_mb: 64 }
controllers:
  - device: Oven1
    host: 127.0.0.1
    port: 7000
    tags: ["Line*", "Temps", "Recipe"]
    interval: 100ms
    deadband: 0.1
    writable: ["Recipe.Id", "MachineState"]
  - device: Press2
    host: 127.0.0.1
    port: 7001
    tags: [Speed]
)";

class BridgeConfigTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qxsym-bridge-config-" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
    std::ofstream(dir_ / "secret.txt") << "pw\n";
    std::ofstream(dir_ / "ca.pem") << "cert\n";
  }
  void TearDown() override { fs::remove_all(dir_); }

  BridgeConfig Parse(const std::string& text) {
    return ParseConfig(text, "bridge.yaml", dir_.string());
  }

  // Replaces the first occurrence of @p from in the good file with @p to and
  // expects a refusal on @p line whose message holds @p reason.
  void ExpectRefused(const std::string& from, const std::string& to, int line,
                     const std::string& reason) {
    std::string text = kGood;
    const auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    ExpectRefusedText(text, line, reason);
  }

  void ExpectRefusedText(const std::string& text, int line, const std::string& reason) {
    try {
      Parse(text);
      ADD_FAILURE() << "accepted, expected: " << reason;
    } catch (const ConfigError& e) {
      EXPECT_EQ(e.line(), line) << e.what();
      EXPECT_NE(std::string(e.what()).find(reason), std::string::npos) << e.what();
      if (line > 0) {
        const std::string prefix = "bridge.yaml:" + std::to_string(line) + ":";
        EXPECT_EQ(std::string(e.what()).rfind(prefix, 0), 0u) << e.what();
      }
    }
  }

  fs::path dir_;
};

TEST_F(BridgeConfigTest, GoodFileIsReadWhole) {
  const BridgeConfig c = Parse(kGood);
  EXPECT_EQ(c.broker.host, "broker.local");
  EXPECT_EQ(c.broker.port, 8883);
  EXPECT_EQ(c.broker.client_id, "Line1Bridge");  // defaults to the node id
  EXPECT_EQ(c.broker.username, "bridge");
  EXPECT_EQ(c.broker.password_file, (dir_ / "secret.txt").string());
  EXPECT_TRUE(c.broker.tls.enabled);
  EXPECT_EQ(c.broker.tls.ca, (dir_ / "ca.pem").string());
  EXPECT_EQ(c.sparkplug.group, "Plant1");
  EXPECT_EQ(c.sparkplug.node, "Line1Bridge");
  EXPECT_TRUE(c.store.enabled);
  EXPECT_EQ(c.store.path, (dir_ / "line1.db").string());
  EXPECT_EQ(c.store.max_mb, 64u);
  ASSERT_EQ(c.controllers.size(), 2u);
  const ControllerConfig& oven = c.controllers[0];
  EXPECT_EQ(oven.device, "Oven1");
  EXPECT_EQ(oven.port, 7000);
  EXPECT_EQ(oven.tags, (std::vector<std::string>{"Line*", "Temps", "Recipe"}));
  EXPECT_EQ(oven.interval, std::chrono::milliseconds(100));
  EXPECT_DOUBLE_EQ(oven.deadband, 0.1);
  EXPECT_EQ(oven.writable, (std::vector<std::string>{"Recipe.Id", "MachineState"}));
  EXPECT_EQ(oven.line, 10);
  const ControllerConfig& press = c.controllers[1];
  EXPECT_EQ(press.interval, std::chrono::seconds(1));
  EXPECT_EQ(press.deadband, 0.0);
  EXPECT_TRUE(press.writable.empty());
  EXPECT_EQ(press.line, 17);
}

TEST_F(BridgeConfigTest, LoadResolvesPathsFromTheFilesFolder) {
  std::ofstream(dir_ / "bridge.yaml") << kGood;
  const BridgeConfig c = LoadConfig((dir_ / "bridge.yaml").string());
  EXPECT_EQ(c.broker.password_file, (dir_ / "secret.txt").string());
}

TEST_F(BridgeConfigTest, NumbersOutOfRangeAreRefused) {
  ExpectRefused("port: 7000", "port: 70000", 12,
                "controllers[0].port: 70000 is not a TCP port (1..65535)");
  ExpectRefused("port: 7001", "port: 0", 19, "controllers[1].port: 0 is not a TCP port");
  ExpectRefused("port: 8883", "port: -1", 3, "broker.port: -1 is not a TCP port");
  ExpectRefused("port: 8883", "port: http", 3, "broker.port: http is not a TCP port");
  ExpectRefused("max_mb: 64", "max_mb: 0", 8, "store.max_mb: 0 is not a size");
  ExpectRefused("max_mb: 64", "max_mb: 1048577", 8, "store.max_mb: 1048577 is not a size");
  ExpectRefused("deadband: 0.1", "deadband: -0.5", 15, "controllers[0].deadband: -0.5 is not");
  ExpectRefused("deadband: 0.1", "deadband: inf", 15, "is not a finite number");
  ExpectRefused("deadband: 0.1", "deadband: nan", 15, "is not a finite number");
  ExpectRefused("deadband: 0.1", "deadband: 0.1x", 15, "is not a finite number");
}

TEST_F(BridgeConfigTest, IntervalsNeedAUnitAndARange) {
  ExpectRefused("interval: 100ms", "interval: 100", 14, "'100' is not an interval");
  ExpectRefused("interval: 100ms", "interval: 1m", 14, "'1m' is not an interval");
  ExpectRefused("interval: 100ms", "interval: 9ms", 14, "9ms is out of range");
  ExpectRefused("interval: 100ms", "interval: 86401s", 14, "86401s is out of range");
  ExpectRefused("interval: 100ms", "interval: 99999999999s", 14, "is not an interval");
  EXPECT_EQ(Parse(std::string(kGood).replace(std::string(kGood).find("100ms"), 5, "86400s"))
                .controllers[0]
                .interval,
            std::chrono::hours(24));
}

TEST_F(BridgeConfigTest, MetricsAndHeartbeatAreOffUnlessGiven) {
  const BridgeConfig c = Parse(kGood);
  EXPECT_FALSE(c.metrics.enabled);
  EXPECT_EQ(c.controllers[0].heartbeat.count(), 0);
  EXPECT_EQ(c.controllers[1].heartbeat.count(), 0);

  const BridgeConfig on = Parse(std::string(kGood) + "metrics: {}\n");
  EXPECT_TRUE(on.metrics.enabled);
  EXPECT_EQ(on.metrics.host, "127.0.0.1");
  EXPECT_EQ(on.metrics.port, 0);  // any free port

  const BridgeConfig given =
      Parse(std::string(kGood) + "metrics: { host: 127.0.0.53, port: 65535 }\n");
  EXPECT_EQ(given.metrics.host, "127.0.0.53");
  EXPECT_EQ(given.metrics.port, 65535);
  EXPECT_EQ(Parse(std::string(kGood) + "metrics: { port: 0 }\n").metrics.port, 0);
}

TEST_F(BridgeConfigTest, MetricsListenOnLoopbackOnly) {
  const std::string good = kGood;
  const auto refused = [&](const std::string& section, const std::string& reason) {
    ExpectRefusedText(good + "metrics: " + section + "\n", 21, reason);
  };
  refused("{ host: 0.0.0.0 }", "metrics.host: '0.0.0.0' is not a loopback IPv4 address");
  refused("{ host: 192.168.1.5 }", "is not a loopback IPv4 address");
  refused("{ host: localhost }", "'localhost' is not a loopback IPv4 address");
  refused("{ host: '::1' }", "is not a loopback IPv4 address");
  refused("{ host: 127.1 }", "is not a loopback IPv4 address");
  refused("{ port: 65536 }", "metrics.port: 65536 is not a TCP port (0..65535)");
  refused("{ port: -1 }", "metrics.port: -1 is not a TCP port");
  refused("{ port: '' }", "metrics.port: must not be empty");
  refused("{ path: /metrics }", "metrics.path: unknown key (expected one of: host, port)");
  refused("9100", "metrics: expected a mapping");
  // A section on lines of its own is refused on the line of the bad value.
  ExpectRefusedText(good + "metrics:\n  port: 9100\n  host: 10.0.0.1\n", 23,
                    "metrics.host: '10.0.0.1'");
}

TEST_F(BridgeConfigTest, HeartbeatIsAnIntervalOrNone) {
  const auto with = [](const std::string& value) {
    std::string text = kGood;
    text.replace(text.find("    deadband: 0.1\n"), 18,
                 "    deadband: 0.1\n    heartbeat: " + value + "\n");
    return text;
  };
  EXPECT_EQ(Parse(with("10s")).controllers[0].heartbeat, std::chrono::seconds(10));
  EXPECT_EQ(Parse(with("250ms")).controllers[0].heartbeat, std::chrono::milliseconds(250));
  EXPECT_EQ(Parse(with("0s")).controllers[0].heartbeat.count(), 0);
  EXPECT_EQ(Parse(with("86400s")).controllers[0].heartbeat, std::chrono::hours(24));
  EXPECT_EQ(Parse(with("10s")).controllers[1].line, 18);  // the lines below moved down
  ExpectRefusedText(with("9ms"), 16,
                    "controllers[0].heartbeat: 9ms is out of range (0 or 10ms..86400s)");
  ExpectRefusedText(with("86401s"), 16, "86401s is out of range");
  ExpectRefusedText(with("10"), 16, "controllers[0].heartbeat: '10' is not an interval");
  ExpectRefusedText(with("1h"), 16, "'1h' is not an interval");
  ExpectRefusedText(with("-5s"), 16, "'-5s' is not an interval");
  ExpectRefusedText(with("[1s]"), 16, "expected a single value");
  // The poll interval itself still may not be 0.
  ExpectRefused("interval: 100ms", "interval: 0ms", 14, "0ms is out of range (10ms..86400s)");
}

TEST_F(BridgeConfigTest, KeysMustBeKnownOnceAndPresent) {
  ExpectRefused("  port: 8883", "  prot: 8883", 3, "broker.prot: unknown key");
  ExpectRefused("    deadband: 0.1", "    deadband: 0.1\n    deadband: 0.2", 16,
                "controllers[0].deadband: given twice");
  ExpectRefused("store:", "stor:", 8, "stor: unknown key");
  ExpectRefused("    host: 127.0.0.1\n    port: 7001", "    port: 7001", 17,
                "controllers[1].host: is required");
  ExpectRefused("sparkplug: { group: Plant1, node: Line1Bridge }", "sparkplug: { group: Plant1 }",
                7, "sparkplug.node: is required");
  ExpectRefused("    tags: [Speed]", "    tags: [Speed]\n    tls: {}", 21,
                "controllers[1].tls: unknown key");
}

TEST_F(BridgeConfigTest, IdsAndNamesAreChecked) {
  ExpectRefused("device: Oven1", "device: Oven/1", 10, "'Oven/1' is not a valid Sparkplug id");
  ExpectRefused("device: Press2", "device: Oven1", 17,
                "'Oven1' is already the device of controllers[0] (line 10)");
  ExpectRefused("group: Plant1", "group: 'Plant#1'", 7, "sparkplug.group: 'Plant#1' is not");
  ExpectRefused("node: Line1Bridge", "node: Line+", 7, "sparkplug.node");
  ExpectRefused("device: Oven1", "device: ''", 10, "controllers[0].device: must not be empty");
  ExpectRefused("device: Oven1", "device: \"Ov\\ten\"", 10, "contains a control character");
  ExpectRefused("device: Oven1", "device:", 10, "controllers[0].device: needs a value");
  EXPECT_FALSE(IsSparkplugId(std::string(kMaxIdLength + 1, 'a')));
  EXPECT_TRUE(IsSparkplugId(std::string(kMaxIdLength, 'a')));
}

TEST_F(BridgeConfigTest, TagListsAreChecked) {
  ExpectRefused("tags: [Speed]", "tags: []", 20, "controllers[1].tags: needs at least one");
  ExpectRefused("tags: [Speed]", "tags: Speed", 20, "expected a list of tag names");
  ExpectRefused("tags: [Speed]", "tags: [Speed, '']", 20, "controllers[1].tags[1]: must not be");
  ExpectRefused("writable: [\"Recipe.Id\", \"MachineState\"]", "writable: [{a: 1}]", 16,
                "controllers[0].writable[0]: expected a single value");
}

TEST_F(BridgeConfigTest, FilesNamedMustExist) {
  ExpectRefused("secret.txt", "missing.txt", 5, "broker.password_file: '");
  ExpectRefused("ca: ca.pem", "ca: .", 6, "broker.tls.ca: '");
  ExpectRefused("  username: bridge\n", "", 4, "broker.password_file: needs broker.username");
}

TEST_F(BridgeConfigTest, ShapeAndSyntaxErrorsNameTheirPlace) {
  ExpectRefusedText("", 0, "holds no configuration");
  ExpectRefusedText("- a\n- b\n", 1, "expected a mapping");
  // An unclosed list is noticed where the file ends.
  ExpectRefused("tags: [Speed]", "tags: [Speed", 21, "not valid YAML");
  const std::string good = kGood;
  ExpectRefusedText(good.substr(0, good.find("controllers:")) + "controllers: []\n", 9,
                    "needs at least one controller");
  try {
    Parse("broker: {host: a\nsparkplug: x\n");
    ADD_FAILURE();
  } catch (const ConfigError& e) {
    // A syntax error also names the column where the reader stopped.
    EXPECT_EQ(std::string(e.what()).find("bridge.yaml:2:"), 0u) << e.what();
  }
}

TEST_F(BridgeConfigTest, SizesAreBounded) {
  std::string many = std::string(kGood).substr(0, std::string(kGood).find("controllers:"));
  many += "controllers:\n";
  for (std::size_t i = 0; i <= kMaxControllers; ++i) {
    many += "  - {device: D" + std::to_string(i) + ", host: h, port: 1, tags: [a]}\n";
  }
  ExpectRefusedText(many, 10, "more than 1000 controllers");

  // Nesting deep enough to exhaust a recursive reader is refused, not followed.
  ExpectRefusedText("broker: " + std::string(100000, '[') + std::string(100000, ']') + "\n", 1,
                    "not valid YAML");

  std::string big = kGood;
  big += "#" + std::string(kMaxConfigBytes, 'x') + "\n";
  ExpectRefusedText(big, 0, "larger than 1 MiB");
  std::ofstream(dir_ / "big.yaml") << big;
  EXPECT_THROW(LoadConfig((dir_ / "big.yaml").string()), ConfigError);
  EXPECT_THROW(LoadConfig((dir_ / "absent.yaml").string()), ConfigError);
  EXPECT_THROW(LoadConfig(dir_.string()), ConfigError);
}

}  // namespace
}  // namespace qxsym::bridge
