// Starts Debian's mosquitto broker on a loopback port for a benchmark, with
// a configuration file of its own, and stops it again (on the same port).
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

namespace qxsym::bench {

class BrokerLauncher {
 public:
  explicit BrokerLauncher(std::string dir) : dir_(std::move(dir)) {}
  ~BrokerLauncher() { Stop(); }
  BrokerLauncher(const BrokerLauncher&) = delete;
  BrokerLauncher& operator=(const BrokerLauncher&) = delete;

  /// Starts on a free port the first time, on the same port after; false
  /// with *error when it does not accept connections within 10 s.
  bool Start(std::string* error);
  void Stop();
  std::uint16_t port() const { return port_; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

/// A free TCP port on 127.0.0.1 (bound and let go).
std::uint16_t FreeLoopbackPort();
/// Whether something accepts connections on 127.0.0.1:port.
bool Accepts(std::uint16_t port);

}  // namespace qxsym::bench
