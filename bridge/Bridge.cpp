// Assembles the bridge and keeps its parts in step across reloads.
#include "Bridge.h"

#include <fstream>
#include <map>

#include "Log.h"

namespace qxsym::bridge {

namespace {

bool SameController(const ControllerConfig& a, const ControllerConfig& b) {
  return a.device == b.device && a.host == b.host && a.port == b.port && a.tags == b.tags &&
         a.interval == b.interval && a.deadband == b.deadband && a.heartbeat == b.heartbeat &&
         a.writable == b.writable && a.attributes == b.attributes;
}

// Everything but the controllers: a change here restarts the bridge.
bool SameNode(const BridgeConfig& a, const BridgeConfig& b) {
  const BrokerConfig &x = a.broker, &y = b.broker;
  return x.host == y.host && x.port == y.port && x.client_id == y.client_id &&
         x.username == y.username && x.password_file == y.password_file &&
         x.tls.enabled == y.tls.enabled && x.tls.ca == y.tls.ca &&
         a.sparkplug.group == b.sparkplug.group && a.sparkplug.node == b.sparkplug.node &&
         a.store.enabled == b.store.enabled && a.store.path == b.store.path &&
         a.store.max_mb == b.store.max_mb && a.metrics.enabled == b.metrics.enabled &&
         a.metrics.host == b.metrics.host && a.metrics.port == b.metrics.port;
}

}  // namespace

std::string ReadPassword(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string line;
  if (!in || !std::getline(in, line)) {
    throw ConfigError(path + ": cannot read the password file", 0);
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

Bridge::Bridge(BridgeConfig config) : config_(std::move(config)) {
  OpenPublisher();
  if (config_.metrics.enabled) {
    MetricsServer::Handlers handlers;
    handlers.metrics = [this] { return MetricsText(); };
    handlers.healthy = [this] { return Healthy(); };
    metrics_ = std::make_unique<MetricsServer>(config_.metrics.host, config_.metrics.port,
                                               std::move(handlers));
    Log(LogLevel::kInfo, "bridge",
        "metrics on http://" + config_.metrics.host + ":" + std::to_string(metrics_->port()) +
            "/metrics");
  }
}

Bridge::~Bridge() {
  metrics_.reset();
  Stop();
}

void Bridge::OpenPublisher() {
  const std::string password = config_.broker.password_file.empty()
                                   ? std::string()
                                   : ReadPassword(config_.broker.password_file);
  auto births = [this] {
    std::vector<std::pair<std::string, Payload>> out;
    std::lock_guard<std::mutex> lock(devices_mu_);
    for (const auto& d : devices_) {
      Payload p;
      if (d->Birth(&p)) out.emplace_back(d->name(), std::move(p));
    }
    return out;
  };
  auto command = [this](const std::string& device, Payload payload) {
    std::lock_guard<std::mutex> lock(devices_mu_);
    for (const auto& d : devices_) {
      if (d->name() == device) return d->Command(std::move(payload));
    }
    Log(LogLevel::kWarn, "broker", "DCMD refused: no device '" + device + "'");
  };
  publisher_ = std::make_unique<Publisher>(config_.broker, password, config_.sparkplug,
                                           config_.store, births, command);
}

void Bridge::StartDevice(const ControllerConfig& controller) {
  auto emit = [this](MessageType type, const std::string& device, Payload payload) {
    publisher_->Submit(type, device, std::move(payload));
  };
  auto device = std::make_unique<Device>(controller, emit);
  device->Start();
  std::lock_guard<std::mutex> lock(devices_mu_);
  devices_.push_back(std::move(device));
}

void Bridge::Start() {
  publisher_->Start();
  for (const ControllerConfig& c : config_.controllers) StartDevice(c);
  Log(LogLevel::kInfo, "bridge",
      "serving " + std::to_string(config_.controllers.size()) + " controllers as " +
          config_.sparkplug.group + "/" + config_.sparkplug.node);
}

void Bridge::Stop() {
  std::vector<std::unique_ptr<Device>> devices;
  {
    std::lock_guard<std::mutex> lock(devices_mu_);
    devices.swap(devices_);
  }
  for (auto& d : devices) d->Stop();
  if (publisher_) publisher_->Stop();
}

void Bridge::Reload(BridgeConfig config) {
  if (!SameNode(config_, config)) {
    Log(LogLevel::kInfo, "bridge", "broker, node, store or metrics changed: starting over");
    Stop();
    metrics_.reset();
    publisher_.reset();
    BridgeConfig old = std::move(config_);
    config_ = std::move(config);
    try {
      OpenPublisher();
    } catch (const std::exception& e) {
      Log(LogLevel::kError, "bridge", std::string(e.what()) + "; keeping the old configuration");
      config_ = std::move(old);
      OpenPublisher();
    }
    if (config_.metrics.enabled) {
      MetricsServer::Handlers handlers{[this] { return MetricsText(); },
                                       [this] { return Healthy(); }};
      metrics_ = std::make_unique<MetricsServer>(config_.metrics.host, config_.metrics.port,
                                                 std::move(handlers));
    }
    Start();
    return;
  }
  std::map<std::string, const ControllerConfig*> wanted;
  for (const ControllerConfig& c : config.controllers) wanted[c.device] = &c;
  std::vector<std::unique_ptr<Device>> gone;
  {
    std::lock_guard<std::mutex> lock(devices_mu_);
    for (auto it = devices_.begin(); it != devices_.end();) {
      auto w = wanted.find((*it)->name());
      if (w != wanted.end() && SameController((*it)->config(), *w->second)) {
        wanted.erase(w);  // unchanged: keeps running
        ++it;
      } else {
        gone.push_back(std::move(*it));
        it = devices_.erase(it);
      }
    }
  }
  for (auto& d : gone) d->Stop();
  for (const ControllerConfig& c : config.controllers) {
    if (wanted.count(c.device)) StartDevice(c);
  }
  Log(LogLevel::kInfo, "bridge",
      "configuration reloaded: " + std::to_string(gone.size()) + " controllers stopped, " +
          std::to_string(wanted.size()) + " started");
  config_ = std::move(config);
}

bool Bridge::Healthy() const { return publisher_ && publisher_->stats().connected; }

std::uint16_t Bridge::metrics_port() const { return metrics_ ? metrics_->port() : 0; }

std::string Bridge::MetricsText() const {
  std::vector<std::pair<std::string, DeviceStats>> devices;
  {
    std::lock_guard<std::mutex> lock(devices_mu_);
    for (const auto& d : devices_) devices.emplace_back(d->name(), d->stats());
  }
  PrometheusText t;
  auto family = [&](const char* name, const char* type, const char* help, auto field) {
    t.Family(name, type, help);
    for (const auto& [device, s] : devices) t.Sample(name, field(s), "device", device);
  };
  family("qxsym_bridge_controller_connected", "gauge", "1 while the controller answers",
         [](const DeviceStats& s) { return s.connected ? 1.0 : 0.0; });
  family("qxsym_bridge_controller_polls_total", "counter", "Polls completed",
         [](const DeviceStats& s) { return static_cast<double>(s.polls); });
  family("qxsym_bridge_controller_overruns_total", "counter",
         "Polls that ended after the next tick",
         [](const DeviceStats& s) { return static_cast<double>(s.overruns); });
  family("qxsym_bridge_controller_changes_total", "counter", "Leaf values told",
         [](const DeviceStats& s) { return static_cast<double>(s.changes); });
  family("qxsym_bridge_controller_data_values_total", "counter", "Values sent in DDATA",
         [](const DeviceStats& s) { return static_cast<double>(s.data_metrics); });
  family("qxsym_bridge_controller_metrics", "gauge", "Metrics of the device's birth",
         [](const DeviceStats& s) { return static_cast<double>(s.metrics); });
  const PublisherStats p = publisher_ ? publisher_->stats() : PublisherStats{};
  t.Family("qxsym_bridge_broker_connected", "gauge", "1 while the broker is connected");
  t.Sample("qxsym_bridge_broker_connected", p.connected ? 1 : 0);
  t.Family("qxsym_bridge_messages_published_total", "counter", "Messages the broker took");
  t.Sample("qxsym_bridge_messages_published_total", static_cast<double>(p.published));
  t.Family("qxsym_bridge_store_messages", "gauge", "Data messages waiting in the store");
  t.Sample("qxsym_bridge_store_messages", static_cast<double>(p.stored));
  t.Family("qxsym_bridge_store_dropped_total", "counter", "Data messages dropped for room");
  t.Sample("qxsym_bridge_store_dropped_total", static_cast<double>(p.dropped));
  return t.str();
}

}  // namespace qxsym::bridge
