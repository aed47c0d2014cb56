#include "BridgeWatcher.h"

#include <mosquitto.h>

#include "Sparkplug.h"

namespace qxsym::bench {

namespace {

std::int64_t NowUs() {
  using namespace std::chrono;
  return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

// "spBv1.0/<group>/<TYPE>/<node>/<device>" -> TYPE and device.
bool Split(const std::string& topic, std::string* type, std::string* device) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t at; (at = topic.find('/', start)) != std::string::npos; start = at + 1) {
    parts.push_back(topic.substr(start, at - start));
  }
  parts.push_back(topic.substr(start));
  if (parts.size() < 4) return false;
  *type = parts[2];
  *device = parts.size() > 4 ? parts[4] : "";
  return true;
}

}  // namespace

BridgeWatcher::BridgeWatcher() {
  mosquitto_lib_init();
  mosq_ = mosquitto_new("bench-watcher", false, this);
  mosquitto_connect_callback_set(mosq_, &BridgeWatcher::OnConnect);
  mosquitto_message_callback_set(mosq_, &BridgeWatcher::OnMessage);
}

BridgeWatcher::~BridgeWatcher() {
  mosquitto_disconnect(mosq_);
  mosquitto_loop_stop(mosq_, false);
  mosquitto_destroy(mosq_);
}

bool BridgeWatcher::Connect(std::uint16_t port, const std::string& group, std::string* error) {
  filter_ = "spBv1.0/" + group + "/#";
  mosquitto_reconnect_delay_set(mosq_, 1, 1, false);
  int rc = mosquitto_connect(mosq_, "127.0.0.1", port, 10);
  if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_start(mosq_);
  if (rc != MOSQ_ERR_SUCCESS) *error = mosquitto_strerror(rc);
  return rc == MOSQ_ERR_SUCCESS;
}

void BridgeWatcher::OnConnect(mosquitto* m, void* self, int rc) {
  if (rc == 0)
    mosquitto_subscribe(m, nullptr, static_cast<BridgeWatcher*>(self)->filter_.c_str(), 1);
}

void BridgeWatcher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  static_cast<BridgeWatcher*>(self)->Take(message);
}

void BridgeWatcher::Take(const mosquitto_message* message) {
  const std::int64_t now = NowUs();
  std::string type, device;
  bridge::Payload p;
  std::string error;
  const bool ok = Split(message->topic, &type, &device) &&
                  bridge::DecodePayload(static_cast<const std::uint8_t*>(message->payload),
                                        static_cast<std::size_t>(message->payloadlen), &p, &error);
  std::lock_guard<std::mutex> lock(mu_);
  ++counts_.messages;
  counts_.last_message = std::chrono::steady_clock::now();
  if (!ok) {
    ++counts_.undecodable;
    return;
  }
  if (type == "DBIRTH") ++counts_.births;
  if (type != "DDATA") return;
  for (const bridge::Metric& m : p.metrics) {
    ++counts_.data_values;
    std::uint64_t& last = last_time_[{device, m.alias}];
    if (m.timestamp_ms < last) ++counts_.out_of_order;
    if (m.timestamp_ms == last) ++counts_.duplicates;
    last = std::max(last, m.timestamp_ms);
    if (m.is_historical) {
      ++counts_.historical;
      counts_.last_historical = counts_.last_message;
    } else {
      latencies_.push_back(now - static_cast<std::int64_t>(m.timestamp_ms) * 1000);
    }
  }
}

WatchCounts BridgeWatcher::counts() const {
  std::lock_guard<std::mutex> lock(mu_);
  return counts_;
}

std::vector<std::int64_t> BridgeWatcher::TakeLatencies() {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::int64_t> out;
  out.swap(latencies_);
  return out;
}

}  // namespace qxsym::bench
