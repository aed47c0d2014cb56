// Starts the simulator program qxsym-sim for a test and stops it afterwards.
// Start runs it with the given arguments (and --port 0 unless a port is
// given), reads its first output line "listening on HOST:PORT" and records
// the address. Stop sends SIGTERM and waits for the exit; the destructor
// stops a server that is still running.
#pragma once

#include <QXSymbols.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace qxsym::test {

class SimLauncher {
 public:
  SimLauncher() = default;
  explicit SimLauncher(std::string binary) : binary_(std::move(binary)) {}
  ~SimLauncher();
  SimLauncher(const SimLauncher&) = delete;
  SimLauncher& operator=(const SimLauncher&) = delete;

  // The program used when none is given: $QXSYM_SIM when set, else the
  // qxsym-sim built with the tests.
  static std::string DefaultBinary();

  // False, with a message in *error, when the program does not start or
  // does not announce its address within startup_timeout_ms.
  bool Start(const std::vector<std::string>& args = {}, std::string* error = nullptr,
             int startup_timeout_ms = 10000);
  // Sends SIGTERM and waits up to timeout_ms (then SIGKILL). Returns the exit
  // code, 128 + signal when it was killed, or -1 when nothing was running.
  int Stop(int timeout_ms = 10000);
  // Drops the process without a clean stop (a controller that vanishes).
  void Kill();

  // Standard error of the next Start goes to this file (created or
  // truncated) instead of the test's own; "" restores the test's.
  void set_stderr_file(std::string path) { stderr_file_ = std::move(path); }

  bool running() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& host() const { return host_; }
  std::uint16_t port() const { return port_; }
  // The address a client opens to reach the running program over TCP.
  QXSymServerAddress Address(std::uint16_t timeout_ms) const;

 private:
  int Wait(int timeout_ms);
  bool ReadAddress(int timeout_ms, const std::function<bool(const std::string&)>& fail);

  std::string binary_ = DefaultBinary();
  std::string stderr_file_;
  pid_t pid_ = -1;
  int stdout_fd_ = -1;
  std::string host_;
  std::uint16_t port_ = 0;
};

}  // namespace qxsym::test
