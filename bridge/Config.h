// The bridge's configuration: one YAML file read into plain structs and
// checked whole before anything connects.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qxsym::bridge {

/// Limits on what a configuration may hold.
constexpr std::uintmax_t kMaxConfigBytes = 1024 * 1024;
constexpr std::size_t kMaxControllers = 1000;
constexpr std::size_t kMaxPatterns = 10000;
constexpr std::size_t kMaxIdLength = 256;
constexpr std::chrono::milliseconds kMinInterval{10};
constexpr std::chrono::milliseconds kMaxInterval{24 * 60 * 60 * 1000};
constexpr std::uint32_t kMaxStoreMb = 1048576;
constexpr std::size_t kMaxAttributes = 64;
constexpr std::size_t kMaxAttributeName = 259;

/// A configuration that cannot be used. what() is the whole message,
/// `FILE:LINE: KEY: REASON`; a YAML syntax error also names the column.
class ConfigError : public std::runtime_error {
 public:
  ConfigError(const std::string& message, int line) : std::runtime_error(message), line_(line) {}
  /// The 1-based line the error is on; 0 when it concerns the whole file.
  int line() const { return line_; }

 private:
  int line_;
};

struct TlsConfig {
  bool enabled = false;
  std::string ca;  ///< CA certificate file, resolved against the file's folder
};

struct BrokerConfig {
  std::string host;
  std::uint16_t port = 1883;
  std::string client_id;  ///< defaults to the Sparkplug node id
  std::string username;
  std::string password_file;  ///< resolved against the file's folder
  TlsConfig tls;
};

struct SparkplugConfig {
  std::string group;
  std::string node;
};

struct StoreConfig {
  bool enabled = false;
  std::string path;  ///< resolved against the file's folder
  std::uint32_t max_mb = 512;
};

/// The operations endpoint (GET /metrics, GET /health), off unless given.
struct MetricsConfig {
  bool enabled = false;
  std::string host = "127.0.0.1";  ///< a loopback IPv4 address
  std::uint16_t port = 0;          ///< 0: any free port
};

struct ControllerConfig {
  std::string device;
  std::string host;
  std::uint16_t port = 0;
  std::vector<std::string> tags;  ///< tag names or filters ('*', '?')
  std::chrono::milliseconds interval{1000};
  double deadband = 0.0;
  std::chrono::milliseconds heartbeat{0};  ///< every value again this often; 0: never
  std::vector<std::string> writable;       ///< names or filters a command may write
  /// Attributes of each leaf offered as metric properties, by name (they
  /// cannot be listed; each is one request per leaf when subscribing).
  std::vector<std::string> attributes{"unit", "min", "max"};
  int line = 0;  ///< where the entry starts, for later messages
};

struct BridgeConfig {
  BrokerConfig broker;
  SparkplugConfig sparkplug;
  StoreConfig store;
  MetricsConfig metrics;
  std::vector<ControllerConfig> controllers;
};

/// Reads and checks the configuration file at @p path. Relative paths in it
/// are taken from the file's folder. Throws ConfigError.
BridgeConfig LoadConfig(const std::string& path);

/// Checks configuration text. @p file_name is used in messages; relative
/// paths are taken from @p base_dir. Throws ConfigError.
BridgeConfig ParseConfig(const std::string& text, const std::string& file_name,
                         const std::string& base_dir);

/// Whether @p id can be a Sparkplug group, node or device id: 1 to
/// kMaxIdLength bytes, none of '/', '+', '#' or a control character.
bool IsSparkplugId(const std::string& id);

/// Whether @p host is an IPv4 address in 127.0.0.0/8, written as four
/// decimal numbers.
bool IsLoopbackIPv4(const std::string& host);

/// Reads an interval such as "100ms" or "2s"; false when it is not one.
bool ParseInterval(const std::string& text, std::chrono::milliseconds* out);

}  // namespace qxsym::bridge
