// qxsym-bridge: the tags of controllers published to an MQTT broker as
// Sparkplug B. main parses the command line, checks the configuration and
// waits for signals; the Bridge does the work.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <memory>
#include <string>

#include "Bridge.h"
#include "Config.h"
#include "Log.h"

namespace {

constexpr const char* kDescription =
    "qxsym-bridge: publish the tags of controllers to an MQTT broker as Sparkplug B.";

constexpr const char* kFooter =
    R"(The configuration (YAML) names the broker, the Sparkplug group and node ids,
the store and each controller with its tags; see qxsym-bridge(1).
Exit status 0 on success, 2 for usage errors and for a configuration that
cannot be used (the message names the file, the line and the reason).

Signals: SIGHUP reloads the configuration (a file that cannot be used is
logged and the running one kept); SIGTERM and SIGINT end the bridge cleanly.

Examples:
  qxsym-bridge --check --config /etc/qxsym-bridge/line1.yaml
  qxsym-bridge --config /etc/qxsym-bridge/line1.yaml --log-level debug)";

constexpr int kExitUsage = 2;

// Serves until SIGTERM or SIGINT; SIGHUP reloads. The signals are blocked
// in every thread and taken here, one at a time.
int Serve(const std::string& config_path, qxsym::bridge::BridgeConfig config,
          const sigset_t& signals) {
  using namespace qxsym::bridge;
  std::unique_ptr<Bridge> bridge;
  try {
    bridge = std::make_unique<Bridge>(std::move(config));
  } catch (const std::exception& e) {
    std::cerr << "qxsym-bridge: " << e.what() << "\n";
    return 1;
  }
  bridge->Start();
  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0) continue;
    if (sig != SIGHUP) break;
    try {
      bridge->Reload(LoadConfig(config_path));
    } catch (const std::exception& e) {
      Log(LogLevel::kError, "bridge",
          std::string("reload refused, the running configuration stays: ") + e.what());
    }
  }
  Log(LogLevel::kInfo, "bridge", "stopping");
  bridge->Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription};
  app.footer(kFooter);
  std::string config_path;
  bool check_only = false;
  app.add_option("--config", config_path, "the configuration file (YAML)")->required();
  app.add_flag("--check", check_only, "check the configuration and exit");
  std::string log_level = "info";
  app.add_option("--log-level", log_level, "error, warn, info or debug")->capture_default_str();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    std::cerr << "qxsym-bridge: " << e.what() << "\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  }
  qxsym::bridge::LogLevel level;
  if (!qxsym::bridge::ParseLogLevel(log_level, &level)) {
    std::cerr << "qxsym-bridge: --log-level: '" << log_level
              << "' is not one of error, warn, info, debug\n";
    return kExitUsage;
  }
  qxsym::bridge::SetLogLevel(level);
  qxsym::bridge::BridgeConfig config;
  try {
    config = qxsym::bridge::LoadConfig(config_path);
  } catch (const qxsym::bridge::ConfigError& e) {
    std::cerr << "qxsym-bridge: " << e.what() << "\n";
    return kExitUsage;
  } catch (const std::exception& e) {
    std::cerr << "qxsym-bridge: " << config_path << ": " << e.what() << "\n";
    return 1;
  }
  if (check_only) {
    std::cout << config_path << ": configuration OK (" << config.controllers.size()
              << (config.controllers.size() == 1 ? " controller" : " controllers") << ")\n";
    return 0;
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGHUP);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
  return Serve(config_path, std::move(config), signals);
}
