// One controller served by the bridge: its own thread, session and
// subscription, so a slow or lost controller never delays the others.
// It tells its births, data and death through the emit function, and takes
// commands (writes) from the broker's thread through a bounded queue.
#pragma once

#include <QXSymCore.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Config.h"
#include "DeviceModel.h"
#include "Sparkplug.h"

namespace qxsym::bridge {

struct DeviceStats {
  bool connected = false;
  std::uint64_t polls = 0;
  std::uint64_t overruns = 0;
  std::uint64_t changes = 0;
  std::uint64_t metrics = 0;
  std::uint64_t data_metrics = 0;  ///< metric values sent in DDATA
};

class Device {
 public:
  /// Takes DBIRTH, DDATA and DDEATH payloads of this device; called on the
  /// device's thread (and by Stop on the caller's).
  using Emit = std::function<void(MessageType type, const std::string& device, Payload payload)>;

  /// Commands waiting beyond this are refused.
  static constexpr std::size_t kMaxQueuedCommands = 64;

  Device(ControllerConfig config, Emit emit);
  ~Device();  ///< stops
  Device(const Device&) = delete;
  Device& operator=(const Device&) = delete;

  void Start();
  /// Ends the thread, the subscription and the session; a device that was
  /// born tells its death first.
  void Stop();

  /// The device's birth as it stands; false while it is not online.
  bool Birth(Payload* out) const;
  /// Queues a command's writes for the device's thread.
  void Command(Payload command);

  DeviceStats stats() const;
  const std::string& name() const { return config_.device; }
  const ControllerConfig& config() const { return config_; }

 private:
  void Run();
  bool Connect();
  bool Resolve(std::vector<std::string>* names, std::map<std::string, LeafInfo>* leaves);
  bool DescribeTag(const std::string& name, const QXSymCoreTagInfo& info,
                   std::map<std::string, LeafInfo>* leaves);
  bool Subscribe();
  void Serve();
  bool HandlePoll(const QXSymCoreEvent* events, std::uint32_t count);
  void HandleConnection(const QXSymCoreEvent& event, bool* restart);
  void Tell();
  void RunCommands();
  void WriteAll(const std::vector<WriteRequest>& writes);
  void DieLocked();
  void Disconnect();
  void Report(bool problem, const std::string& message);
  void SleepFor(std::chrono::milliseconds wait);

  ControllerConfig config_;
  Emit emit_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::mutex sleep_mu_;
  std::condition_variable sleep_cv_;

  QXSymCoreHandle session_ = 0;
  QXSymCoreHandle subscription_ = 0;
  std::string last_report_;
  std::size_t subscribed_ = 0;  // paths of the subscription

  mutable std::mutex mu_;  // model_, born_, online_
  DeviceModel model_;
  bool born_ = false;
  bool birth_due_ = false;
  bool online_ = false;

  std::mutex command_mu_;
  std::deque<Payload> commands_;

  std::atomic<std::uint64_t> polls_{0}, overruns_{0}, changes_{0}, data_metrics_{0};
  std::atomic<bool> connected_{false};
};

}  // namespace qxsym::bridge
