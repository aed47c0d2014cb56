// A controller's thread: open a session, find the configured tags, describe
// their leaves, subscribe, and turn each poll's events into Sparkplug
// births, data and deaths. Lost connections are the core's to mend (its
// reconnect); a program change or a tag that appears later starts the
// subscription over.
#include "Device.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "Log.h"

namespace qxsym::bridge {

namespace {

constexpr std::uint32_t kTimeoutMs = 2000;
constexpr std::uint32_t kReconnectFirstMs = 500;
constexpr std::uint32_t kReconnectMaxMs = 5000;
constexpr std::chrono::milliseconds kRetryFirst{500};
constexpr std::chrono::milliseconds kRetryMax{5000};
constexpr std::uint32_t kWaitMs = 100;  // how soon a stop or a command is seen

std::uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

bool HasWildcard(const std::string& pattern) {
  return pattern.find_first_of("*?") != std::string::npos;
}

std::string Why(QXSymResult r, const char* message = nullptr) {
  std::string why = QXSymCore_ResultName(r);
  const char* text = message && *message ? message : QXSymCore_ResultMessage(r);
  if (text && *text) why += ": " + std::string(text);
  return why;
}

}  // namespace

Device::Device(ControllerConfig config, Emit emit)
    : config_(std::move(config)), emit_(std::move(emit)), model_(config_.writable) {}

Device::~Device() { Stop(); }

void Device::Start() {
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void Device::Stop() {
  {
    std::lock_guard<std::mutex> lock(sleep_mu_);
    stopping_ = true;
  }
  sleep_cv_.notify_all();
  if (!thread_.joinable()) return;
  thread_.join();
  Log(LogLevel::kInfo, config_.device,
      "stopped after " + std::to_string(polls_) + " polls; " + std::to_string(data_metrics_) +
          " values sent as data");
  std::lock_guard<std::mutex> lock(mu_);
  DieLocked();
}

// A device that was born tells its death, once; called with mu_ held.
void Device::DieLocked() {
  online_ = false;
  if (!born_) return;
  born_ = false;
  Payload death;
  death.has_timestamp = true;
  death.timestamp_ms = NowMs();
  emit_(MessageType::kDDeath, config_.device, std::move(death));
}

void Device::SleepFor(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(sleep_mu_);
  sleep_cv_.wait_for(lock, wait, [this] { return stopping_.load(); });
}

void Device::Report(bool problem, const std::string& message) {
  if (message == last_report_) return;  // a retry that fails alike says nothing new
  last_report_ = message;
  Log(problem ? LogLevel::kWarn : LogLevel::kInfo, config_.device, message);
}

void Device::Run() {
  std::chrono::milliseconds retry = kRetryFirst;
  while (!stopping_) {
    if (!Connect()) {
      Disconnect();
      SleepFor(retry);
      retry = std::min(retry * 2, kRetryMax);
      continue;
    }
    retry = kRetryFirst;
    Serve();
  }
  Disconnect();
}

bool Device::Connect() {
  if (session_ == 0) {
    QXSymServerAddress address{};
    address.protocol = symProtGDB_TCP;
    std::strncpy(address.ip, config_.host.c_str(), sizeof address.ip - 1);
    address.port = config_.port;
    const QXSymResult r = QXSymCore_Open(&address, kTimeoutMs, QXSymCoreLatin1, 1, &session_);
    if (r != symResOk) {
      session_ = 0;
      Report(true,
             "cannot open " + config_.host + ":" + std::to_string(config_.port) + ": " + Why(r));
      return false;
    }
    const QXSymResult rr = QXSymCore_SetReconnect(session_, kReconnectFirstMs, kReconnectMaxMs);
    if (rr != symResOk) {
      Report(true, "cannot watch the program for changes: " + Why(rr));
      return false;
    }
  }
  if (!Subscribe()) return false;
  connected_ = true;
  Report(false, "connected to " + config_.host + ":" + std::to_string(config_.port) + ", " +
                    std::to_string(subscribed_) + " tags subscribed");
  return true;
}

// The tags of every configured pattern, each once, in the order of the
// patterns and of the listing; a plain name that lists nothing is taken as
// a path of its own (a member, or a tag that may appear later).
bool Device::Resolve(std::vector<std::string>* names, std::map<std::string, LeafInfo>* leaves) {
  std::map<std::string, bool> seen;
  for (const std::string& pattern : config_.tags) {
    QXSymCoreHandle listing = 0;
    QXSymResult r =
        QXSymCore_ListBegin(session_, pattern.c_str(),
                            QXSYMCORE_LIST_DETAILS | QXSYMCORE_LIST_DESCRIPTIONS, 0, &listing);
    std::size_t found = 0;
    for (std::uint32_t done = 0; r == symResOk && !done;) {
      const QXSymCoreTagInfo* tags = nullptr;
      std::uint32_t count = 0;
      r = QXSymCore_ListNext(listing, &tags, &count, &done);
      for (std::uint32_t i = 0; r == symResOk && i < count; ++i, ++found) {
        if (seen.emplace(tags[i].name, true).second) {
          names->push_back(tags[i].name);
          if (!DescribeTag(tags[i].name, tags[i], leaves)) r = symResConnectionLost;
        }
      }
    }
    if (listing != 0) QXSymCore_ListEnd(listing);
    if (r != symResOk) {
      Report(true, "cannot list '" + pattern + "': " + Why(r));
      return false;
    }
    if (found == 0 && !HasWildcard(pattern) && seen.emplace(pattern, true).second) {
      names->push_back(pattern);
      QXSymCoreTagInfo none{};
      none.name = pattern.c_str();
      none.description = "";
      if (!DescribeTag(pattern, none, leaves)) Report(true, "'" + pattern + "' not found yet");
    } else if (found == 0) {
      Report(true, "no tag matches '" + pattern + "'");
    }
  }
  return true;
}

// The leaves of one tag (or path) with their descriptions and attributes.
bool Device::DescribeTag(const std::string& name, const QXSymCoreTagInfo& info,
                         std::map<std::string, LeafInfo>* leaves) {
  const QXSymCoreLayout* layout = nullptr;
  const char* message = nullptr;
  const QXSymResult r = QXSymCore_Describe(session_, name.c_str(), &layout, &message);
  if (r != symResOk) {
    Report(true, "cannot describe '" + name + "': " + Why(r, message));
    return false;
  }
  for (std::uint32_t i = 0; i < layout->leaf_count; ++i) {
    const QXSymCoreLeaf& leaf = layout->leaves[i];
    LeafInfo out;
    out.tyvar = leaf.tyvar;
    out.element_size = leaf.element_size;
    out.read_only = (info.flags & QXSYMCORE_TAG_READ_ONLY) != 0;
    const char* text = nullptr;
    if (name == leaf.path) {
      out.description = info.description ? info.description : "";
    } else if (QXSymCore_Description(session_, leaf.path, &text) == symResOk && text) {
      out.description = text;
    }
    for (const std::string& attribute : config_.attributes) {
      if (QXSymCore_Attribute(session_, leaf.path, attribute.c_str(), &text) == symResOk && text) {
        out.attributes.emplace_back(attribute, text);
      }
    }
    (*leaves)[leaf.path] = std::move(out);
  }
  return true;
}

bool Device::Subscribe() {
  std::vector<std::string> names;
  std::map<std::string, LeafInfo> leaves;
  if (!Resolve(&names, &leaves)) return false;
  if (names.empty()) return false;
  subscribed_ = names.size();
  std::vector<const char*> paths;
  for (const std::string& n : names) paths.push_back(n.c_str());
  QXSymCoreSubscribeOptions options{};
  options.interval_ms = static_cast<std::uint32_t>(config_.interval.count());
  options.heartbeat_ms = static_cast<std::uint32_t>(config_.heartbeat.count());
  options.deadband = config_.deadband;
  const QXSymResult r = QXSymCore_Subscribe(
      session_, paths.data(), static_cast<std::uint32_t>(paths.size()), &options, &subscription_);
  if (r != symResOk) {
    subscription_ = 0;
    Report(true, "cannot subscribe: " + Why(r));
    return false;
  }
  // A new subscription makes the metric list anew, in the order of the
  // program as it is now; the next birth gives the aliases 1 to N again.
  std::lock_guard<std::mutex> lock(mu_);
  model_ = DeviceModel(config_.writable);
  model_.SetLeaves(std::move(leaves));
  return true;
}

void Device::Serve() {
  while (!stopping_) {
    RunCommands();
    const QXSymCoreEvent* events = nullptr;
    std::uint32_t count = 0;
    const QXSymResult r = QXSymCore_SubscriptionWait(subscription_, kWaitMs, &events, &count);
    if (r != symResOk) {
      Report(true, "subscription ended: " + Why(r));
      subscription_ = 0;
      return;
    }
    if (count > 0 && !HandlePoll(events, count)) {
      // Start over on the same session: the program changed, or a tag
      // appeared that was not there before.
      QXSymCore_Unsubscribe(subscription_);
      subscription_ = 0;
      if (!Subscribe()) return;
    }
  }
}

// One poll's events. False when the subscription must start over.
bool Device::HandlePoll(const QXSymCoreEvent* events, std::uint32_t count) {
  bool restart = false;
  {
    std::lock_guard<std::mutex> lock(mu_);
    for (std::uint32_t i = 0; i < count; ++i) {
      const QXSymCoreEvent& e = events[i];
      if (e.kind == QXSymCoreEventChange) {
        const auto applied = model_.Apply(e);
        if (applied == DeviceModel::Applied::kAdded) birth_due_ = true;
        if (applied == DeviceModel::Applied::kUnknown && e.status == QXSymCoreGood) {
          restart = true;
        }
        if (e.status == QXSymCoreGood) ++changes_;
      } else if (e.kind == QXSymCoreEventCycle) {
        ++polls_;
      } else if (e.kind == QXSymCoreEventOverrun) {
        ++overruns_;
      } else {
        HandleConnection(e, &restart);
      }
    }
  }
  if (restart) {
    birth_due_ = true;
    return false;
  }
  Tell();
  return true;
}

// Connection events; called with mu_ held.
void Device::HandleConnection(const QXSymCoreEvent& e, bool* restart) {
  if (e.kind == QXSymCoreEventConnectionLost) {
    connected_ = false;
    Log(LogLevel::kWarn, config_.device,
        "connection lost: " + Why(static_cast<QXSymResult>(e.result)));
    last_report_.clear();
    DieLocked();
  } else if (e.kind == QXSymCoreEventConnectionBack) {
    connected_ = true;
    birth_due_ = true;
    Log(LogLevel::kInfo, config_.device, "connection back");
  } else if (e.kind == QXSymCoreEventOnlineChange) {
    Log(LogLevel::kInfo, config_.device, "the controller's program changed; tags looked up again");
    *restart = true;
  }
}

// After a poll: the birth when one is due, else the changes.
void Device::Tell() {
  if (!connected_) return;
  std::lock_guard<std::mutex> lock(mu_);
  const std::uint64_t now = NowMs();
  if (birth_due_ || !born_) {
    model_.TakeChanges(now);
    birth_due_ = false;
    born_ = true;
    online_ = true;
    emit_(MessageType::kDBirth, config_.device, model_.Birth(now));
    return;
  }
  Payload data = model_.TakeChanges(now);
  if (data.metrics.empty()) return;
  data_metrics_ += data.metrics.size();
  emit_(MessageType::kDData, config_.device, std::move(data));
}

bool Device::Birth(Payload* out) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!born_) return false;
  *out = model_.Birth(NowMs());
  return true;
}

void Device::Command(Payload command) {
  std::lock_guard<std::mutex> lock(command_mu_);
  if (commands_.size() >= kMaxQueuedCommands) {
    Log(LogLevel::kWarn, config_.device, "DCMD refused: too many commands waiting");
    return;
  }
  commands_.push_back(std::move(command));
}

void Device::RunCommands() {
  std::deque<Payload> commands;
  {
    std::lock_guard<std::mutex> lock(command_mu_);
    commands.swap(commands_);
  }
  for (const Payload& command : commands) {
    std::vector<std::string> refusals;
    std::vector<WriteRequest> writes;
    {
      std::lock_guard<std::mutex> lock(mu_);
      writes = model_.Commands(command, &refusals);
    }
    for (const std::string& why : refusals) {
      Log(LogLevel::kWarn, config_.device, "DCMD refused: " + why);
    }
    if (!writes.empty()) WriteAll(writes);
  }
}

void Device::WriteAll(const std::vector<WriteRequest>& writes) {
  std::vector<QXSymCoreValue> values;
  std::vector<QXSymCoreWriteItem> items;
  values.reserve(writes.size());
  for (const WriteRequest& w : writes) {
    values.push_back(w.Bound());
    items.push_back(QXSymCoreWriteItem{w.path.c_str(), &values.back(), 1});
  }
  const QXSymCoreWriteResult* results = nullptr;
  const QXSymResult r =
      QXSymCore_Write(session_, items.data(), static_cast<std::uint32_t>(items.size()), &results);
  for (std::size_t i = 0; i < writes.size(); ++i) {
    const char* text = nullptr;
    QXSymCore_FormatValue(&values[i], &text);
    const std::string what = writes[i].path + " = " + (text ? text : "?");
    if (results && results[i].result == symResOk) {
      Log(LogLevel::kInfo, config_.device, "DCMD wrote " + what);
    } else {
      const QXSymResult why = results ? static_cast<QXSymResult>(results[i].result) : r;
      Log(LogLevel::kWarn, config_.device,
          "DCMD write of " + what + " failed: " + Why(why, results ? results[i].message : nullptr));
    }
  }
}

void Device::Disconnect() {
  connected_ = false;
  if (subscription_ != 0) QXSymCore_Unsubscribe(subscription_);
  subscription_ = 0;
  if (session_ != 0) QXSymCore_Close(session_);
  session_ = 0;
}

DeviceStats Device::stats() const {
  DeviceStats s;
  s.connected = connected_;
  s.polls = polls_;
  s.overruns = overruns_;
  s.changes = changes_;
  s.data_metrics = data_metrics_;
  std::lock_guard<std::mutex> lock(mu_);
  s.metrics = model_.size();
  return s;
}

}  // namespace qxsym::bridge
