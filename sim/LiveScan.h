// Live values: a background scan that moves the model's simulated symbols
// (counters, sine waves, toggling flags) at a fixed period, so a client sees
// a running machine. The server and the host table start and stop it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "SymbolModel.h"

namespace qxsym::sim {

class LiveScan {
 public:
  LiveScan(std::shared_ptr<SymbolModel> model, std::chrono::milliseconds period);
  ~LiveScan();  // stops the scan

  LiveScan(const LiveScan&) = delete;
  LiveScan& operator=(const LiveScan&) = delete;

  // Starting a running scan or stopping a stopped one does nothing.
  void Start();
  void Stop();
  bool running() const;

  // One scan at `seconds` since the start: counters advance by their step,
  // sines and toggles take their value for that time. The background thread
  // calls this; tests call it directly.
  void ScanOnce(double seconds);
  std::uint64_t scans() const;

  // Moves the scan to another model (a program change) without stopping
  // it; the scan under way finishes on the model it started on.
  void SetModel(std::shared_ptr<SymbolModel> model);

 private:
  void Run();

  std::shared_ptr<SymbolModel> model_;
  const std::chrono::milliseconds period_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
  bool running_ = false;
  std::uint64_t scans_ = 0;
  std::thread thread_;
};

}  // namespace qxsym::sim
