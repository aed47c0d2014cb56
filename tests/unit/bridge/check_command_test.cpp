// qxsym-bridge --check: exit 0 for a usable file, 2 with the file and line
// on standard error for one that is not, and for usage errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error together
};

Outcome RunBridge(const std::string& args) {
  Outcome run;
  const std::string command = std::string("'") + QXSYM_BRIDGE_EXE + "' " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.output.append(buffer, n);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class CheckCommandTest : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qxsym-bridge-check-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    std::ofstream(dir_ / name) << text;
    return (dir_ / name).string();
  }

  fs::path dir_;
};

const char* const kFile = R"(broker: { host: 127.0.0.1 }
sparkplug: { group: Plant1, node: Line1Bridge }
controllers:
  - device: Oven1
    host: 127.0.0.1
    port: PORT
    tags: ["Line*"]
)";

std::string WithPort(const std::string& port) {
  std::string text = kFile;
  text.replace(text.find("PORT"), 4, port);
  return text;
}

TEST_F(CheckCommandTest, GoodFileExitsZero) {
  const Outcome run = RunBridge("--check --config '" + Write("good.yaml", WithPort("7000")) + "'");
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_NE(run.output.find("1 controller"), std::string::npos) << run.output;
}

TEST_F(CheckCommandTest, BadFileExitsTwoNamingTheLine) {
  const std::string path = Write("bad.yaml", WithPort("70000"));
  const Outcome run = RunBridge("--check --config '" + path + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.output.find(path + ":6: controllers[0].port: 70000 is not a TCP port"),
            std::string::npos)
      << run.output;
}

TEST_F(CheckCommandTest, UsageErrorsExitTwoAndHelpZero) {
  EXPECT_EQ(RunBridge("--check").status, 2);
  EXPECT_EQ(RunBridge("--frobnicate").status, 2);
  EXPECT_EQ(RunBridge("--check --config '" + (dir_ / "absent.yaml").string() + "'").status, 2);
  const Outcome help = RunBridge("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.output.find("--config"), std::string::npos);
}

}  // namespace
