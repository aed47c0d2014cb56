// The benchmark's subscriber: takes every Sparkplug message of a group from
// the broker (a persistent session, so an outage loses nothing on its side)
// and keeps what the benchmark reports.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace qxsym::bench {

struct WatchCounts {
  std::uint64_t messages = 0;
  std::uint64_t births = 0;       ///< DBIRTH
  std::uint64_t data_values = 0;  ///< metrics of DDATA, live and historical
  std::uint64_t historical = 0;
  std::uint64_t out_of_order = 0;  ///< a value older than one seen before of its metric
  std::uint64_t duplicates = 0;    ///< a value of the same time as one seen before
  std::uint64_t undecodable = 0;
  std::chrono::steady_clock::time_point last_message{};
  std::chrono::steady_clock::time_point last_historical{};
};

class BridgeWatcher {
 public:
  BridgeWatcher();
  ~BridgeWatcher();
  bool Connect(std::uint16_t port, const std::string& group, std::string* error);

  WatchCounts counts() const;
  /// Latencies (us) of live values since the last call, emptied.
  std::vector<std::int64_t> TakeLatencies();

 private:
  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  void Take(const mosquitto_message* message);

  mosquitto* mosq_ = nullptr;
  std::string filter_;
  mutable std::mutex mu_;
  WatchCounts counts_;
  std::vector<std::int64_t> latencies_;
  std::map<std::pair<std::string, std::uint64_t>, std::uint64_t> last_time_;  // device, alias
};

}  // namespace qxsym::bench
