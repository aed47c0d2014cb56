// The running bridge: the broker's publisher, one Device per controller,
// and the metrics endpoint, started, reloaded and stopped together.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Config.h"
#include "Device.h"
#include "MetricsServer.h"
#include "Publisher.h"

namespace qxsym::bridge {

/// The first line of a password file, without its line end. Throws
/// ConfigError naming the file when it cannot be read.
std::string ReadPassword(const std::string& path);

class Bridge {
 public:
  /// Opens the store and the metrics endpoint; nothing connects yet.
  /// Throws StoreError, MetricsError or ConfigError (the password file).
  explicit Bridge(BridgeConfig config);
  ~Bridge();
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  void Start();
  /// Devices first (their deaths go out), then the node.
  void Stop();
  /// Takes a new configuration: controllers added, removed or changed are
  /// started, stopped or restarted; other changes restart the whole bridge.
  void Reload(BridgeConfig config);

  std::string MetricsText() const;
  bool Healthy() const;
  /// The metrics endpoint's port; 0 without one.
  std::uint16_t metrics_port() const;

 private:
  void StartDevice(const ControllerConfig& controller);
  void OpenPublisher();

  BridgeConfig config_;
  std::unique_ptr<Publisher> publisher_;
  mutable std::mutex devices_mu_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::unique_ptr<MetricsServer> metrics_;
};

}  // namespace qxsym::bridge
