// The bridge's side of the broker: one MQTT session at a time (libmosquitto,
// driven by a thread of our own), the node's births and death, the seq of
// every message, commands from the broker, and store-and-forward of data
// while the broker cannot take it.
//
// Data (DDATA) keep their order: each gets a key when it is made; it goes
// out at once while the broker is there and nothing waits in the store, and
// into the store otherwise. After a reconnect the node and its devices are
// born again, then the stored messages go out oldest first (flagged
// historical when they were kept because the broker was away), then live
// data. A message leaves the store only when the broker acknowledged it.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "Config.h"
#include "Sparkplug.h"
#include "Store.h"

struct mosquitto;
struct mosquitto_message;

namespace qxsym::bridge {

struct PublisherStats {
  bool connected = false;
  std::uint64_t published = 0;  ///< messages the broker acknowledged or took
  std::uint64_t stored = 0;     ///< messages waiting in the store
  std::uint64_t dropped = 0;    ///< data messages lost for room or for want of a store
};

class Publisher {
 public:
  /// The births of the devices that are online, asked for on every
  /// (re)birth of the node; called without the publisher's lock.
  using Births = std::function<std::vector<std::pair<std::string, Payload>>()>;
  /// A device command (DCMD) as it came from the broker.
  using Command = std::function<void(const std::string& device, Payload payload)>;

  /// Opens the store when one is configured (throws StoreError).
  Publisher(BrokerConfig broker, std::string password, SparkplugConfig sparkplug, StoreConfig store,
            Births births, Command command);
  ~Publisher();
  Publisher(const Publisher&) = delete;
  Publisher& operator=(const Publisher&) = delete;

  void Start();
  /// Publishes NDEATH and disconnects; data not yet acknowledged are kept
  /// in the store.
  void Stop();

  /// A device's DBIRTH, DDATA or DDEATH (any thread).
  void Submit(MessageType type, const std::string& device, Payload payload);
  /// Births the node and its devices again.
  void Rebirth();

  PublisherStats stats() const;

 private:
  struct Outgoing {
    std::uint64_t key = 0;
    MessageType type = MessageType::kDData;
    std::string device;
    Payload payload;
  };
  struct InFlight {
    std::uint64_t key = 0;
    bool from_store = false;
    Outgoing message;  // live data only: kept to store again on a loss
  };

  void Run();
  int NewClient();
  bool Connect();
  void Serve();
  void Lose(const char* why);
  void BirthAll();
  void SendQueued();
  void SendStored();
  bool Send(const std::string& topic, const std::vector<std::uint8_t>& bytes, int qos, int* mid);
  void StoreLocked(std::vector<Outgoing> messages, bool historical);
  void DropOldestQueuedLocked();
  void Wake();
  std::vector<std::uint8_t> NodePayload(bool birth);
  void Shutdown();

  static void OnConnect(mosquitto*, void* self, int rc);
  static void OnDisconnect(mosquitto*, void* self, int rc);
  static void OnPublish(mosquitto*, void* self, int mid);
  static void OnMessage(mosquitto*, void* self, const mosquitto_message* message);
  void HandleMessage(const mosquitto_message* message);

  BrokerConfig broker_;
  std::string password_;
  SparkplugConfig sparkplug_;
  Births births_;
  Command command_;
  std::unique_ptr<Store> store_;

  std::thread thread_;
  std::atomic<bool> stopping_{false};
  int wake_fd_ = -1;

  // Publisher thread only.
  mosquitto* mosq_ = nullptr;
  bool connack_ = false;
  bool lost_ = false;
  std::string connack_reason_;
  std::string last_failure_;
  std::uint64_t bd_seq_ = 0;
  SequenceCounter seq_;
  std::map<int, InFlight> in_flight_;  // by message id
  std::uint64_t last_sent_key_ = 0;    // of the store's messages sent in this session

  mutable std::mutex mu_;  // what follows, and store_
  bool connected_ = false;
  std::deque<Outgoing> queue_;
  std::size_t queued_data_ = 0;  // DDATA in queue_
  std::uint64_t next_key_ = 1;
  std::uint64_t published_ = 0;
  std::uint64_t dropped_ = 0;
  std::atomic<bool> rebirth_asked_{false};
};

}  // namespace qxsym::bridge
