// Reads the bridge's YAML configuration. Every value is checked here, once,
// so that the rest of the bridge can take the structs as they are; each
// refusal names the file, the line, the key and the reason.
#include "Config.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <yaml-cpp/yaml.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <set>
#include <sstream>
#include <system_error>

namespace qxsym::bridge {

namespace fs = std::filesystem;

namespace {

bool HasControl(const std::string& text) {
  for (unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

int LineOf(const YAML::Node& node) {
  const int line = node.Mark().line;
  return line < 0 ? 0 : line + 1;
}

// Walks one parsed document; a member per file so messages can name it.
class Reader {
 public:
  Reader(std::string file_name, std::string base_dir)
      : file_(std::move(file_name)), base_(std::move(base_dir)) {}

  BridgeConfig Read(const YAML::Node& root);

 private:
  [[noreturn]] void Fail(const YAML::Node& at, const std::string& key,
                         const std::string& reason) const {
    // An empty value's position is where the next token starts; the key's
    // own line is the one the user wants to see.
    const auto key_line = key_lines_.find(key);
    const int line = at.IsNull() && key_line != key_lines_.end() ? key_line->second : LineOf(at);
    std::string message = file_ + ":";
    if (line > 0) message += std::to_string(line) + ":";
    message += " " + (key.empty() ? std::string() : key + ": ") + reason;
    throw ConfigError(message, line);
  }

  std::map<std::string, YAML::Node> Members(const YAML::Node& node, const std::string& key,
                                            std::initializer_list<const char*> allowed) const;
  void Require(const std::map<std::string, YAML::Node>& members, const YAML::Node& map,
               const std::string& key, std::initializer_list<const char*> names) const;
  std::string Text(const YAML::Node& node, const std::string& key) const;
  std::string Id(const YAML::Node& node, const std::string& key) const;
  std::string Host(const YAML::Node& node, const std::string& key) const;
  std::uint16_t Port(const YAML::Node& node, const std::string& key, long min = 1) const;
  std::string ExistingFile(const YAML::Node& node, const std::string& key) const;
  std::vector<std::string> Patterns(const YAML::Node& node, const std::string& key) const;

  void ReadBroker(const YAML::Node& node, BrokerConfig* out) const;
  void ReadTls(const YAML::Node& node, TlsConfig* out) const;
  void ReadSparkplug(const YAML::Node& node, SparkplugConfig* out) const;
  void ReadStore(const YAML::Node& node, StoreConfig* out) const;
  void ReadMetrics(const YAML::Node& node, MetricsConfig* out) const;
  std::chrono::milliseconds Interval(const YAML::Node& node, const std::string& key,
                                     std::chrono::milliseconds min) const;
  void ReadControllers(const YAML::Node& node, std::vector<ControllerConfig>* out) const;
  ControllerConfig ReadController(const YAML::Node& node, const std::string& key) const;
  void ReadTiming(const std::map<std::string, YAML::Node>& members, const std::string& key,
                  ControllerConfig* out) const;

  std::string file_;
  std::string base_;
  mutable std::map<std::string, int> key_lines_;  // each key read so far, by its path
};

// The members of a map by name, refusing a key that is not allowed or that
// comes twice (the YAML reader would silently keep one of them).
std::map<std::string, YAML::Node> Reader::Members(
    const YAML::Node& node, const std::string& key,
    std::initializer_list<const char*> allowed) const {
  if (!node.IsMap()) Fail(node, key, "expected a mapping of keys to values");
  std::map<std::string, YAML::Node> members;
  for (const auto& item : node) {
    const std::string prefix = key.empty() ? std::string() : key + ".";
    if (!item.first.IsScalar()) Fail(item.first, key, "a key must be a plain name");
    const std::string name = item.first.Scalar();
    bool known = false;
    for (const char* a : allowed) known = known || name == a;
    if (!known) {
      std::string list;
      for (const char* a : allowed) list += (list.empty() ? "" : ", ") + std::string(a);
      Fail(item.first, prefix + name, "unknown key (expected one of: " + list + ")");
    }
    if (members.count(name)) Fail(item.first, prefix + name, "given twice");
    key_lines_[prefix + name] = LineOf(item.first);
    members.emplace(name, item.second);
  }
  return members;
}

void Reader::Require(const std::map<std::string, YAML::Node>& members, const YAML::Node& map,
                     const std::string& key, std::initializer_list<const char*> names) const {
  for (const char* name : names) {
    if (!members.count(name)) {
      Fail(map, key.empty() ? std::string(name) : key + "." + name, "is required");
    }
  }
}

std::string Reader::Text(const YAML::Node& node, const std::string& key) const {
  if (node.IsNull()) Fail(node, key, "needs a value");
  if (!node.IsScalar()) Fail(node, key, "expected a single value, not a list or mapping");
  const std::string& text = node.Scalar();
  if (text.empty()) Fail(node, key, "must not be empty");
  if (HasControl(text)) Fail(node, key, "contains a control character");
  return text;
}

std::string Reader::Id(const YAML::Node& node, const std::string& key) const {
  const std::string id = Text(node, key);
  if (!IsSparkplugId(id)) {
    Fail(node, key,
         "'" + id + "' is not a valid Sparkplug id (1 to " + std::to_string(kMaxIdLength) +
             " bytes, no '/', '+' or '#')");
  }
  return id;
}

std::string Reader::Host(const YAML::Node& node, const std::string& key) const {
  const std::string host = Text(node, key);
  if (host.size() > 253 || host.find(' ') != std::string::npos) {
    Fail(node, key, "'" + host + "' is not a host name or address");
  }
  return host;
}

std::uint16_t Reader::Port(const YAML::Node& node, const std::string& key, long min) const {
  const std::string text = Text(node, key);
  const bool digits = text.size() <= 6 && text.find_first_not_of("0123456789") == std::string::npos;
  const long value = digits ? std::strtol(text.c_str(), nullptr, 10) : -1;
  if (value < min || value > 65535) {
    Fail(node, key, text + " is not a TCP port (" + std::to_string(min) + "..65535)");
  }
  return static_cast<std::uint16_t>(value);
}

// A file the bridge opens later: it must be there now, so that a typo is
// caught before anything connects rather than at the first reconnect.
std::string Reader::ExistingFile(const YAML::Node& node, const std::string& key) const {
  const std::string text = Text(node, key);
  fs::path path(text);
  if (path.is_relative() && !base_.empty()) path = fs::path(base_) / path;
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) Fail(node, key, "'" + path.string() + "' does not exist");
  if (!fs::is_regular_file(status)) Fail(node, key, "'" + path.string() + "' is not a file");
  return path.string();
}

std::vector<std::string> Reader::Patterns(const YAML::Node& node, const std::string& key) const {
  if (!node.IsSequence()) Fail(node, key, "expected a list of tag names or filters");
  if (node.size() > kMaxPatterns) {
    Fail(node, key, "more than " + std::to_string(kMaxPatterns) + " entries");
  }
  std::vector<std::string> patterns;
  for (std::size_t i = 0; i < node.size(); ++i) {
    patterns.push_back(Text(node[i], key + "[" + std::to_string(i) + "]"));
  }
  return patterns;
}

void Reader::ReadTls(const YAML::Node& node, TlsConfig* out) const {
  const auto m = Members(node, "broker.tls", {"ca"});
  Require(m, node, "broker.tls", {"ca"});
  out->enabled = true;
  out->ca = ExistingFile(m.at("ca"), "broker.tls.ca");
}

void Reader::ReadBroker(const YAML::Node& node, BrokerConfig* out) const {
  const auto m =
      Members(node, "broker", {"host", "port", "client_id", "username", "password_file", "tls"});
  Require(m, node, "broker", {"host"});
  out->host = Host(m.at("host"), "broker.host");
  if (m.count("port")) out->port = Port(m.at("port"), "broker.port");
  if (m.count("client_id")) {
    out->client_id = Text(m.at("client_id"), "broker.client_id");
    if (out->client_id.size() > kMaxIdLength) {
      Fail(m.at("client_id"), "broker.client_id",
           "longer than " + std::to_string(kMaxIdLength) + " bytes");
    }
  }
  if (m.count("username")) out->username = Text(m.at("username"), "broker.username");
  if (m.count("password_file")) {
    if (!m.count("username")) {
      Fail(m.at("password_file"), "broker.password_file", "needs broker.username");
    }
    out->password_file = ExistingFile(m.at("password_file"), "broker.password_file");
  }
  if (m.count("tls")) ReadTls(m.at("tls"), &out->tls);
}

void Reader::ReadSparkplug(const YAML::Node& node, SparkplugConfig* out) const {
  const auto m = Members(node, "sparkplug", {"group", "node"});
  Require(m, node, "sparkplug", {"group", "node"});
  out->group = Id(m.at("group"), "sparkplug.group");
  out->node = Id(m.at("node"), "sparkplug.node");
}

void Reader::ReadStore(const YAML::Node& node, StoreConfig* out) const {
  const auto m = Members(node, "store", {"path", "max_mb"});
  Require(m, node, "store", {"path"});
  out->enabled = true;
  fs::path path(Text(m.at("path"), "store.path"));
  if (path.is_relative() && !base_.empty()) path = fs::path(base_) / path;
  out->path = path.string();
  if (m.count("max_mb")) {
    const YAML::Node& v = m.at("max_mb");
    const std::string text = Text(v, "store.max_mb");
    const bool digits =
        text.size() <= 8 && text.find_first_not_of("0123456789") == std::string::npos;
    const long mb = digits ? std::strtol(text.c_str(), nullptr, 10) : 0;
    if (mb < 1 || mb > static_cast<long>(kMaxStoreMb)) {
      Fail(v, "store.max_mb",
           text + " is not a size in MiB (1.." + std::to_string(kMaxStoreMb) + ")");
    }
    out->max_mb = static_cast<std::uint32_t>(mb);
  }
}

// The endpoint is for a scraper on this host: listening elsewhere would
// publish the plant's state to the network, so only loopback is accepted.
void Reader::ReadMetrics(const YAML::Node& node, MetricsConfig* out) const {
  const auto m = Members(node, "metrics", {"host", "port"});
  out->enabled = true;
  if (m.count("host")) {
    out->host = Text(m.at("host"), "metrics.host");
    if (!IsLoopbackIPv4(out->host)) {
      Fail(m.at("host"), "metrics.host",
           "'" + out->host + "' is not a loopback IPv4 address (127.0.0.0/8)");
    }
  }
  if (m.count("port")) out->port = Port(m.at("port"), "metrics.port", 0);
}

// An interval of @p min to kMaxInterval; a heartbeat may also be 0 (none).
std::chrono::milliseconds Reader::Interval(const YAML::Node& node, const std::string& key,
                                           std::chrono::milliseconds min) const {
  const std::string text = Text(node, key);
  std::chrono::milliseconds value{0};
  if (!ParseInterval(text, &value)) {
    Fail(node, key, "'" + text + "' is not an interval (a whole number and ms or s)");
  }
  const bool none_allowed = min.count() == 0;
  if ((value < kMinInterval && !(none_allowed && value.count() == 0)) || value > kMaxInterval) {
    Fail(node, key, text + " is out of range (" + (none_allowed ? "0 or " : "") + "10ms..86400s)");
  }
  return value;
}

void Reader::ReadTiming(const std::map<std::string, YAML::Node>& m, const std::string& key,
                        ControllerConfig* out) const {
  if (m.count("interval")) {
    out->interval = Interval(m.at("interval"), key + ".interval", kMinInterval);
  }
  if (m.count("heartbeat")) {
    out->heartbeat = Interval(m.at("heartbeat"), key + ".heartbeat", std::chrono::milliseconds(0));
  }
  if (m.count("deadband")) {
    const YAML::Node& v = m.at("deadband");
    const std::string text = Text(v, key + ".deadband");
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(value) || value < 0) {
      Fail(v, key + ".deadband", text + " is not a finite number >= 0");
    }
    out->deadband = value;
  }
}

ControllerConfig Reader::ReadController(const YAML::Node& node, const std::string& key) const {
  const auto m = Members(node, key,
                         {"device", "host", "port", "tags", "interval", "deadband", "heartbeat",
                          "writable", "attributes"});
  Require(m, node, key, {"device", "host", "port", "tags"});
  ControllerConfig c;
  c.line = LineOf(node);
  c.device = Id(m.at("device"), key + ".device");
  c.host = Host(m.at("host"), key + ".host");
  c.port = Port(m.at("port"), key + ".port");
  c.tags = Patterns(m.at("tags"), key + ".tags");
  if (c.tags.empty()) Fail(m.at("tags"), key + ".tags", "needs at least one tag name or filter");
  ReadTiming(m, key, &c);
  if (m.count("writable")) c.writable = Patterns(m.at("writable"), key + ".writable");
  if (m.count("attributes")) {
    c.attributes = Patterns(m.at("attributes"), key + ".attributes");
    if (c.attributes.size() > kMaxAttributes) {
      Fail(m.at("attributes"), key + ".attributes",
           "more than " + std::to_string(kMaxAttributes) + " attribute names");
    }
    for (std::size_t i = 0; i < c.attributes.size(); ++i) {
      if (c.attributes[i].size() > kMaxAttributeName) {
        Fail(m.at("attributes")[i], key + ".attributes[" + std::to_string(i) + "]",
             "longer than " + std::to_string(kMaxAttributeName) + " bytes");
      }
    }
  }
  return c;
}

void Reader::ReadControllers(const YAML::Node& node, std::vector<ControllerConfig>* out) const {
  if (!node.IsSequence()) Fail(node, "controllers", "expected a list of controllers");
  if (node.size() == 0) Fail(node, "controllers", "needs at least one controller");
  if (node.size() > kMaxControllers) {
    Fail(node, "controllers", "more than " + std::to_string(kMaxControllers) + " controllers");
  }
  std::map<std::string, std::size_t> devices;
  for (std::size_t i = 0; i < node.size(); ++i) {
    const std::string key = "controllers[" + std::to_string(i) + "]";
    ControllerConfig c = ReadController(node[i], key);
    const auto seen = devices.emplace(c.device, i);
    if (!seen.second) {
      const ControllerConfig& first = (*out)[seen.first->second];
      Fail(node[i]["device"], key + ".device",
           "'" + c.device + "' is already the device of controllers[" +
               std::to_string(seen.first->second) + "] (line " + std::to_string(first.line) + ")");
    }
    out->push_back(std::move(c));
  }
}

BridgeConfig Reader::Read(const YAML::Node& root) {
  if (!root.IsDefined() || root.IsNull()) Fail(root, "", "the file holds no configuration");
  const auto m = Members(root, "", {"broker", "sparkplug", "store", "metrics", "controllers"});
  Require(m, root, "", {"broker", "sparkplug", "controllers"});
  BridgeConfig config;
  ReadBroker(m.at("broker"), &config.broker);
  ReadSparkplug(m.at("sparkplug"), &config.sparkplug);
  if (config.broker.client_id.empty()) config.broker.client_id = config.sparkplug.node;
  if (m.count("store")) ReadStore(m.at("store"), &config.store);
  if (m.count("metrics")) ReadMetrics(m.at("metrics"), &config.metrics);
  ReadControllers(m.at("controllers"), &config.controllers);
  return config;
}

}  // namespace

bool IsSparkplugId(const std::string& id) {
  if (id.empty() || id.size() > kMaxIdLength || HasControl(id)) return false;
  return id.find_first_of("/+#") == std::string::npos;
}

bool IsLoopbackIPv4(const std::string& host) {
  in_addr addr{};
  if (::inet_pton(AF_INET, host.c_str(), &addr) != 1) return false;
  return (ntohl(addr.s_addr) >> 24) == 127;
}

bool ParseInterval(const std::string& text, std::chrono::milliseconds* out) {
  const std::size_t end = text.find_first_not_of("0123456789");
  if (end == 0 || end == std::string::npos || end > 9) return false;
  const long long count = std::strtoll(text.substr(0, end).c_str(), nullptr, 10);
  const std::string unit = text.substr(end);
  if (unit == "ms") {
    *out = std::chrono::milliseconds(count);
  } else if (unit == "s") {
    *out = std::chrono::milliseconds(count * 1000);
  } else {
    return false;
  }
  return true;
}

}  // namespace qxsym::bridge

namespace qxsym::bridge {

BridgeConfig ParseConfig(const std::string& text, const std::string& file_name,
                         const std::string& base_dir) {
  if (text.size() > kMaxConfigBytes) {
    throw ConfigError(file_name + ": larger than 1 MiB", 0);
  }
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::Exception& e) {
    const int line = e.mark.line < 0 ? 0 : e.mark.line + 1;
    throw ConfigError(file_name + ":" + std::to_string(line) + ":" +
                          std::to_string(e.mark.column + 1) + ": not valid YAML: " + e.msg,
                      line);
  }
  try {
    return Reader(file_name, base_dir).Read(root);
  } catch (const YAML::Exception& e) {
    // The walk only asks for what it has checked is there; this is a
    // backstop so that no reader error escapes without the file's name.
    const int line = e.mark.line < 0 ? 0 : e.mark.line + 1;
    throw ConfigError(file_name + ":" + std::to_string(line) + ": " + e.msg, line);
  }
}

BridgeConfig LoadConfig(const std::string& path) {
  std::error_code ec;
  const fs::file_status status = fs::status(path, ec);
  if (!fs::exists(status)) throw ConfigError(path + ": no such file", 0);
  if (!fs::is_regular_file(status)) throw ConfigError(path + ": not a file", 0);
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxConfigBytes) throw ConfigError(path + ": larger than 1 MiB", 0);
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ConfigError(path + ": cannot be read", 0);
  // Read at most one byte past the limit: the file may have grown since.
  std::string text(static_cast<std::size_t>(kMaxConfigBytes) + 1, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  const fs::path parent = fs::path(path).parent_path();
  return ParseConfig(text, path, parent.empty() ? std::string(".") : parent.string());
}

}  // namespace qxsym::bridge
