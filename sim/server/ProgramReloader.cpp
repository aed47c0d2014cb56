#include "ProgramReloader.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <utility>

#include "SymbolModel.h"

namespace qxsym::sim {
namespace {

using Clock = std::chrono::steady_clock;

// A loader message on one line of the log.
std::string OneLine(std::string text) {
  std::replace(text.begin(), text.end(), '\n', ' ');
  return text;
}

void SetSighupBlocked(bool blocked, sigset_t* before = nullptr) {
  sigset_t hup;
  sigemptyset(&hup);
  sigaddset(&hup, SIGHUP);
  pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &hup, before);
}

// Keeps SIGHUP blocked on this thread for a scope, so that a thread started
// within it (a live scan started by the watcher) never takes the signal.
class SighupHeld {
 public:
  SighupHeld() { SetSighupBlocked(true, &before_); }
  ~SighupHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
  SighupHeld(const SighupHeld&) = delete;
  SighupHeld& operator=(const SighupHeld&) = delete;

 private:
  sigset_t before_;
};

}  // namespace

ProgramReloader::ProgramReloader(std::string path, std::shared_ptr<SymbolService> service,
                                 std::uint32_t scan_ms, std::chrono::milliseconds every)
    : path_(std::move(path)),
      service_(std::move(service)),
      scan_ms_(scan_ms),
      every_(every.count() > 0 ? every : std::chrono::milliseconds(0)) {
  // Made here, so that a signal that comes before Start finds it in place.
  if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0) {
    pipe_error_ = errno;
    wake_[0] = wake_[1] = -1;
  }
}

ProgramReloader::~ProgramReloader() {
  Stop();
  for (int& fd : wake_) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
}

bool ProgramReloader::Start(std::string* error) {
  // Threads inherit the mask: the scan, the server's connections and this
  // caller keep SIGHUP blocked, so its handler only ever interrupts the
  // watcher, whose wait expects it.
  SetSighupBlocked(true);
  {
    std::lock_guard<std::mutex> lock(reload_mutex_);
    FollowWithScan(service_->program());
  }
  if (thread_.joinable()) return true;
  if (wake_[0] < 0) {
    *error = std::string("cannot make the reload pipe: ") + std::strerror(pipe_error_);
    return false;
  }
  stop_ = false;
  thread_ = std::thread(&ProgramReloader::Run, this);
  return true;
}

void ProgramReloader::Stop() {
  if (thread_.joinable()) {
    stop_ = true;
    if (::write(wake_[1], "q", 1) < 0) {
      // The pipe is full, so the watcher wakes anyway.
    }
    thread_.join();
  }
  std::lock_guard<std::mutex> lock(reload_mutex_);
  if (scan_) scan_->Stop();
}

void ProgramReloader::Request() {
  const int saved = errno;
  if (wake_[1] >= 0 && ::write(wake_[1], "r", 1) < 0) {
    // A full pipe already holds a request.
  }
  errno = saved;
}

bool ProgramReloader::ReloadNow() {
  std::lock_guard<std::mutex> lock(reload_mutex_);
  std::string error;
  std::shared_ptr<SymbolModel> next = SymbolModel::LoadFile(path_, &error);
  if (!next) {
    ++failures_;
    std::fprintf(stderr, "qxsym-sim: reload refused, the program stays: %s\n",
                 OneLine(error).c_str());
    return false;
  }
  const std::size_t kept = service_->Reload(next);
  FollowWithScan(next);
  ++reloads_;
  std::fprintf(stderr, "qxsym-sim: program reloaded from %s (%zu tags, %zu kept their values)\n",
               path_.c_str(), next->tags().size(), kept);
  return true;
}

// Caller holds reload_mutex_.
void ProgramReloader::FollowWithScan(const std::shared_ptr<SymbolModel>& model) {
  if (scan_) {
    scan_->SetModel(model);
    return;
  }
  // A program that simulates nothing needs no scan until one does.
  if (scan_ms_ == 0 || model->simulations().empty()) return;
  scan_ = std::make_unique<LiveScan>(model, std::chrono::milliseconds(scan_ms_));
  SighupHeld held;
  scan_->Start();
}

void ProgramReloader::Run() {
  SetSighupBlocked(false);
  Clock::time_point next = Clock::now() + every_;
  while (Wait(next)) ReloadNow();
}

bool ProgramReloader::Wait(Clock::time_point& next) {
  for (;;) {
    if (stop_) return false;
    int timeout = -1;
    if (every_.count() > 0) {
      const auto now = Clock::now();
      const long long left =
          std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
      if (left <= 0) {
        // A fixed rhythm; a reload that took longer than the period starts
        // the next one a whole period later.
        next += every_;
        if (next < now) next = now + every_;
        return true;
      }
      timeout = static_cast<int>(std::min<long long>(left, INT_MAX));
    }
    pollfd p{wake_[0], POLLIN, 0};
    const int r = ::poll(&p, 1, timeout);
    if (r < 0 && errno != EINTR) return false;
    if (r <= 0) continue;
    char drain[64];
    while (::read(wake_[0], drain, sizeof drain) > 0) {
    }
    return !stop_;
  }
}

}  // namespace qxsym::sim
