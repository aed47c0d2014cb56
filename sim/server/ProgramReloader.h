// qxsym-sim's program: the model file it serves, the live-value scan over it,
// and the change of program while clients stay connected. A reload reads the
// file again and hands the new model to the symbol service (SymbolService::
// Reload), then moves the scan over. A reload that fails leaves the program
// as it was. Each outcome is one line on standard error.
//
// Reloads are asked for by SIGHUP (through Request, safe in a signal
// handler) and, when a period is set, at that period. A watcher thread does
// the work; it is the only thread that takes SIGHUP once Start has run.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "LiveScan.h"
#include "SymbolService.h"

namespace qxsym::sim {

class ProgramReloader {
 public:
  // path is the model file; scan_ms the live-value period (0: frozen);
  // every the reload period (0: only on request).
  ProgramReloader(std::string path, std::shared_ptr<SymbolService> service, std::uint32_t scan_ms,
                  std::chrono::milliseconds every);
  ~ProgramReloader();  // stops the watcher and the scan
  ProgramReloader(const ProgramReloader&) = delete;
  ProgramReloader& operator=(const ProgramReloader&) = delete;

  // Starts the live-value scan and the watcher thread; false with a message
  // in *error when the watcher's wake-up pipe could not be made. Called on
  // the main thread before it starts any other thread: from then on SIGHUP
  // is blocked in the caller and in every thread it starts later.
  bool Start(std::string* error);
  void Stop();

  // Async-signal-safe: asks the watcher for one reload. Requests that come
  // while one is pending make one reload.
  void Request();

  // Reloads now, on the caller's thread; false when the program stays.
  bool ReloadNow();

  // Reloads done and reloads refused since the start.
  std::uint64_t reloads() const { return reloads_.load(); }
  std::uint64_t failures() const { return failures_.load(); }

 private:
  void Run();
  // Waits for a request or the next period; false when stopping.
  bool Wait(std::chrono::steady_clock::time_point& next);
  void FollowWithScan(const std::shared_ptr<SymbolModel>& model);

  const std::string path_;
  const std::shared_ptr<SymbolService> service_;
  const std::uint32_t scan_ms_;
  const std::chrono::milliseconds every_;
  std::mutex reload_mutex_;  // one reload at a time; guards scan_
  std::unique_ptr<LiveScan> scan_;
  int wake_[2] = {-1, -1};  // non-blocking pipe: Request and Stop write, Run reads
  int pipe_error_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> reloads_{0};
  std::atomic<std::uint64_t> failures_{0};
  std::thread thread_;
};

}  // namespace qxsym::sim
