// qxsym-bridge: the tags of controllers published to an MQTT broker as
// Sparkplug B. For now it reads and checks its configuration.
#include <CLI/CLI.hpp>
#include <exception>
#include <iostream>
#include <string>

#include "Config.h"

namespace {

constexpr const char* kDescription =
    "qxsym-bridge: publish the tags of controllers to an MQTT broker as Sparkplug B.";

constexpr const char* kFooter =
    R"(The configuration (YAML) names the broker, the Sparkplug group and node ids,
the store and each controller with its tags; see qxsym-bridge(1).
Exit status 0 on success, 2 for usage errors and for a configuration that
cannot be used (the message names the file, the line and the reason).

Examples:
  qxsym-bridge --check --config /etc/qxsym-bridge/line1.yaml)";

constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{kDescription};
  app.footer(kFooter);
  std::string config_path;
  bool check_only = false;
  app.add_option("--config", config_path, "the configuration file (YAML)")->required();
  app.add_flag("--check", check_only, "check the configuration and exit");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    std::cerr << "qxsym-bridge: " << e.what() << "\n"
              << "Run with --help for more information.\n";
    return kExitUsage;
  }
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
  std::cerr << "qxsym-bridge: running the bridge is not available yet; use --check\n";
  return 1;
}
