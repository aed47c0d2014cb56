#include "LiveScan.h"

#include <cmath>
#include <vector>

#include "Values.h"

namespace qxsym::sim {

LiveScan::LiveScan(std::shared_ptr<SymbolModel> model, std::chrono::milliseconds period)
    : model_(std::move(model)),
      period_(period.count() > 0 ? period : std::chrono::milliseconds(1)) {}

LiveScan::~LiveScan() { Stop(); }

void LiveScan::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (running_) return;
  stop_ = false;
  running_ = true;
  thread_ = std::thread(&LiveScan::Run, this);
}

void LiveScan::Stop() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!running_) return;
    stop_ = true;
    running_ = false;
    t = std::move(thread_);
  }
  wake_.notify_all();
  t.join();
}

bool LiveScan::running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return running_;
}

std::uint64_t LiveScan::scans() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scans_;
}

void LiveScan::SetModel(std::shared_ptr<SymbolModel> model) {
  std::lock_guard<std::mutex> lock(mutex_);
  model_ = std::move(model);
}

void LiveScan::Run() {
  const auto start = std::chrono::steady_clock::now();
  auto next = start;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    ScanOnce(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    lock.lock();
    // A fixed rhythm; a scan that fell behind does not try to catch up.
    next += period_;
    const auto now = std::chrono::steady_clock::now();
    if (next < now) next = now;
    wake_.wait_until(lock, next, [this] { return stop_; });
  }
}

void LiveScan::ScanOnce(double seconds) {
  constexpr double kTwoPi = 6.283185307179586;
  if (!(seconds >= 0.0)) seconds = 0.0;
  std::shared_ptr<SymbolModel> model;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    model = model_;
  }
  for (const SimulationSpec& s : model->simulations()) {
    const Type* t = s.target.type;
    std::vector<std::uint8_t> bytes(t->size, 0);
    switch (s.kind) {
      case SimulationSpec::Kind::kCounter: {
        const std::uint32_t origin[3] = {0, 0, 0};
        if (model->ReadValue(s.target, origin, &bytes) != symResOk) continue;
        Number n = LoadNumber(t, bytes.data());
        // Integers wrap around at their width, as a PLC counter does.
        if (n.kind == Number::Kind::kFloat) {
          n.f += s.step;
        } else if (n.kind == Number::Kind::kSigned) {
          n.i = static_cast<std::int64_t>(static_cast<std::uint64_t>(n.i) +
                                          static_cast<std::uint64_t>(std::llround(s.step)));
        } else {
          n.u += static_cast<std::uint64_t>(std::llround(s.step));
        }
        StoreNumber(t, n, bytes.data());
        break;
      }
      case SimulationSpec::Kind::kSine: {
        double v = s.offset + s.amplitude * std::sin(kTwoPi * seconds / s.period_s);
        if (IsIntegerTyVar(t->tyvar)) v = std::round(v);
        StoreNumber(t, Number::Float(v), bytes.data());
        break;
      }
      case SimulationSpec::Kind::kToggle:
        bytes[0] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(seconds / s.period_s) & 1u);
        break;
    }
    model->ForceValue(s.target, bytes.data(), bytes.size());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  ++scans_;
}

}  // namespace qxsym::sim
