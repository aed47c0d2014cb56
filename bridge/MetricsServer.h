// A small HTTP endpoint for operations: GET /metrics (Prometheus text) and
// GET /health. It listens on a loopback address only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>

namespace qxsym::bridge {

class MetricsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class MetricsServer {
 public:
  /// What the endpoint serves, asked for each request (any thread).
  struct Handlers {
    std::function<std::string()> metrics;  ///< the Prometheus text
    std::function<bool()> healthy;         ///< /health: 200 "ok" or 503 "unhealthy"
  };
  /// Listens on @p host (an IPv4 loopback address) and @p port (0: any free
  /// one) and serves on a thread of its own. Throws MetricsError when it
  /// cannot listen or the host is not loopback.
  MetricsServer(const std::string& host, std::uint16_t port, Handlers handlers);
  ~MetricsServer();  ///< stops serving
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  std::uint16_t port() const;  ///< the port listened on

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

/// Builds Prometheus text exposition: HELP and TYPE once per family.
class PrometheusText {
 public:
  /// Starts a family; type is "gauge" or "counter".
  void Family(const std::string& name, const std::string& type, const std::string& help);
  /// One sample of the current family; label values are escaped.
  void Sample(const std::string& name, double value, const std::string& label_name = "",
              const std::string& label_value = "");
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

}  // namespace qxsym::bridge
