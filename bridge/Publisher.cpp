// The broker side of the bridge; see Publisher.h for the order of messages.
#include "Publisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>

#include "Log.h"

namespace qxsym::bridge {

namespace {

constexpr int kKeepaliveSeconds = 10;
constexpr std::size_t kWindow = 100;      // data messages sent and not yet acknowledged
constexpr std::size_t kStoreBatch = 32;   // stored messages read at a time
constexpr std::size_t kMaxQueued = 1000;  // data waiting in memory for a slow broker
constexpr int kPollMs = 100;              // keep-alive and stop checks
constexpr auto kConnackWait = std::chrono::seconds(5);
constexpr auto kFlushWait = std::chrono::seconds(2);
constexpr std::chrono::milliseconds kRetryFirst{500};
constexpr std::chrono::milliseconds kRetryMax{1000};  // a broker back is found within 1 s
constexpr const char* kRebirth = "Node Control/Rebirth";

std::uint64_t NowMs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::once_flag g_library_once;

}  // namespace

Publisher::Publisher(BrokerConfig broker, std::string password, SparkplugConfig sparkplug,
                     StoreConfig store, Births births, Command command)
    : broker_(std::move(broker)),
      password_(std::move(password)),
      sparkplug_(std::move(sparkplug)),
      births_(std::move(births)),
      command_(std::move(command)) {
  if (store.enabled) {
    store_ = std::make_unique<Store>(store.path, std::uint64_t{store.max_mb} * 1024 * 1024);
    next_key_ = store_->NextKey();
  }
  wake_fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  std::call_once(g_library_once, [] { mosquitto_lib_init(); });
}

Publisher::~Publisher() {
  Stop();
  if (wake_fd_ >= 0) close(wake_fd_);
}

void Publisher::Start() {
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void Publisher::Stop() {
  stopping_ = true;
  Wake();
  if (thread_.joinable()) thread_.join();
}

void Publisher::Wake() {
  const std::uint64_t one = 1;
  if (wake_fd_ >= 0) (void)!write(wake_fd_, &one, sizeof one);
}

void Publisher::Rebirth() {
  rebirth_asked_ = true;
  Wake();
}

PublisherStats Publisher::stats() const {
  std::lock_guard<std::mutex> lock(mu_);
  PublisherStats s;
  s.connected = connected_;
  s.published = published_;
  s.stored = store_ ? store_->Count() : 0;
  s.dropped = dropped_ + (store_ ? store_->Dropped() : 0);
  return s;
}

void Publisher::Submit(MessageType type, const std::string& device, Payload payload) {
  std::lock_guard<std::mutex> lock(mu_);
  Outgoing m{0, type, device, std::move(payload)};
  if (type != MessageType::kDData) {
    // Births and deaths tell the state of now; the node's next birth
    // tells it anew, so none is kept while the broker is away.
    if (!connected_ || queue_.size() >= 2 * kMaxQueued) return;
    queue_.push_back(std::move(m));
  } else {
    m.key = next_key_++;
    if (connected_ && (!store_ || store_->Count() == 0) && queued_data_ < kMaxQueued) {
      ++queued_data_;
      queue_.push_back(std::move(m));
    } else if (connected_ && !store_) {
      // A broker slower than the data: the oldest waiting gives way.
      DropOldestQueuedLocked();
      queue_.push_back(std::move(m));
    } else if (store_) {
      std::vector<Outgoing> one;
      one.push_back(std::move(m));
      StoreLocked(std::move(one), !connected_);
      return;
    } else {
      ++dropped_;
      return;
    }
  }
  Wake();
}

void Publisher::DropOldestQueuedLocked() {
  for (auto it = queue_.begin(); it != queue_.end(); ++it) {
    if (it->type != MessageType::kDData) continue;
    queue_.erase(it);
    ++dropped_;
    return;
  }
}

// Data messages into the store, with their names so that they read alone.
void Publisher::StoreLocked(std::vector<Outgoing> messages, bool historical) {
  std::vector<StoredMessage> rows;
  for (Outgoing& m : messages) {
    if (m.type != MessageType::kDData) continue;
    if (!store_) {
      ++dropped_;
      continue;
    }
    StoredMessage row;
    row.key = m.key;
    row.topic = Topic(sparkplug_.group, m.type, sparkplug_.node, m.device);
    m.payload.has_seq = false;
    row.payload = EncodePayload(m.payload);
    row.historical = historical;
    rows.push_back(std::move(row));
  }
  if (rows.empty()) return;
  try {
    store_->Append(rows);
  } catch (const StoreError& e) {
    dropped_ += rows.size();
    Log(LogLevel::kError, "store", e.what());
  }
}

void Publisher::Run() {
  std::chrono::milliseconds retry = kRetryFirst;
  while (!stopping_) {
    if (!Connect()) {
      pollfd fd{wake_fd_, POLLIN, 0};
      poll(&fd, 1, static_cast<int>(retry.count()));
      std::uint64_t drained = 0;
      (void)!read(wake_fd_, &drained, sizeof drained);
      retry = std::min(retry * 2, kRetryMax);
      continue;
    }
    retry = kRetryFirst;
    Serve();
  }
  Shutdown();
}

std::vector<std::uint8_t> Publisher::NodePayload(bool birth) {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = NowMs();
  Metric bd;
  bd.name = "bdSeq";
  bd.datatype = DataType::kInt64;
  bd.value.i = static_cast<std::int64_t>(bd_seq_);
  bd.has_timestamp = true;
  bd.timestamp_ms = p.timestamp_ms;
  p.metrics.push_back(bd);
  if (birth) {
    Metric rebirth;
    rebirth.name = kRebirth;
    rebirth.datatype = DataType::kBoolean;
    rebirth.has_timestamp = true;
    rebirth.timestamp_ms = p.timestamp_ms;
    p.metrics.push_back(rebirth);
    p.has_seq = true;
    p.seq = seq_.Next();
  }
  return EncodePayload(p);
}

// A new client (so that nothing of a session before is sent again behind
// our back) with its credentials, TLS and will; a libmosquitto result.
int Publisher::NewClient() {
  mosq_ = mosquitto_new(broker_.client_id.c_str(), true, this);
  if (mosq_ == nullptr) return MOSQ_ERR_NOMEM;
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_max_inflight_messages_set(mosq_, kWindow + 16);
  mosquitto_connect_callback_set(mosq_, &Publisher::OnConnect);
  mosquitto_disconnect_callback_set(mosq_, &Publisher::OnDisconnect);
  mosquitto_publish_callback_set(mosq_, &Publisher::OnPublish);
  mosquitto_message_callback_set(mosq_, &Publisher::OnMessage);
  int rc = MOSQ_ERR_SUCCESS;
  if (!broker_.username.empty()) {
    rc = mosquitto_username_pw_set(mosq_, broker_.username.c_str(),
                                   broker_.password_file.empty() ? nullptr : password_.c_str());
  }
  if (rc == MOSQ_ERR_SUCCESS && broker_.tls.enabled) {
    rc = mosquitto_tls_set(mosq_, broker_.tls.ca.c_str(), nullptr, nullptr, nullptr, nullptr);
  }
  const std::vector<std::uint8_t> will = NodePayload(false);
  const std::string death_topic = Topic(sparkplug_.group, MessageType::kNDeath, sparkplug_.node);
  if (rc == MOSQ_ERR_SUCCESS) {
    rc = mosquitto_will_set(mosq_, death_topic.c_str(), static_cast<int>(will.size()), will.data(),
                            1, false);
  }
  return rc;
}

// One attempt: a new client, the connection and the broker's answer.
bool Publisher::Connect() {
  int rc = NewClient();
  if (mosq_ == nullptr) return false;
  if (rc == MOSQ_ERR_SUCCESS) {
    rc = mosquitto_connect(mosq_, broker_.host.c_str(), broker_.port, kKeepaliveSeconds);
  }
  connack_ = false;
  lost_ = false;
  const auto until = std::chrono::steady_clock::now() + kConnackWait;
  while (rc == MOSQ_ERR_SUCCESS && !connack_ && !lost_ && !stopping_ &&
         std::chrono::steady_clock::now() < until) {
    rc = mosquitto_loop(mosq_, kPollMs, 1);
  }
  if (rc != MOSQ_ERR_SUCCESS || !connack_) {
    const std::string why = rc != MOSQ_ERR_SUCCESS ? mosquitto_strerror(rc)
                            : lost_                ? connack_reason_
                                                   : "no answer from the broker";
    if (why != last_failure_) {
      Log(LogLevel::kWarn, "broker",
          "cannot connect to " + broker_.host + ":" + std::to_string(broker_.port) + ": " + why);
      last_failure_ = why;
    }
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
    ++bd_seq_;
    return false;
  }
  last_failure_.clear();
  Log(LogLevel::kInfo, "broker",
      "connected to " + broker_.host + ":" + std::to_string(broker_.port));
  const std::string ncmd = Topic(sparkplug_.group, MessageType::kNCmd, sparkplug_.node);
  const std::string dcmd = Topic(sparkplug_.group, MessageType::kDCmd, sparkplug_.node, "+");
  mosquitto_subscribe(mosq_, nullptr, ncmd.c_str(), 1);
  mosquitto_subscribe(mosq_, nullptr, dcmd.c_str(), 1);
  {
    // Before the births: a device born while they are made is queued and
    // born again after them, never lost between the two.
    std::lock_guard<std::mutex> lock(mu_);
    connected_ = true;
  }
  BirthAll();
  return true;
}

void Publisher::BirthAll() {
  seq_.Reset();
  int mid = 0;
  Send(Topic(sparkplug_.group, MessageType::kNBirth, sparkplug_.node), NodePayload(true), 0, &mid);
  for (auto& [device, payload] : births_()) {
    payload.has_seq = true;
    payload.seq = seq_.Next();
    Send(Topic(sparkplug_.group, MessageType::kDBirth, sparkplug_.node, device),
         EncodePayload(payload), 0, &mid);
  }
}

bool Publisher::Send(const std::string& topic, const std::vector<std::uint8_t>& bytes, int qos,
                     int* mid) {
  const int rc = mosquitto_publish(mosq_, mid, topic.c_str(), static_cast<int>(bytes.size()),
                                   bytes.data(), qos, false);
  if (rc != MOSQ_ERR_SUCCESS) {
    lost_ = true;
    return false;
  }
  if (qos == 0) {
    std::lock_guard<std::mutex> lock(mu_);
    ++published_;
  }
  return true;
}

void Publisher::Serve() {
  while (!stopping_ && !lost_) {
    if (rebirth_asked_.exchange(false)) BirthAll();
    SendQueued();
    SendStored();
    if (lost_) break;
    const int sock = mosquitto_socket(mosq_);
    pollfd fds[2] = {
        {sock, static_cast<short>(POLLIN | (mosquitto_want_write(mosq_) ? POLLOUT : 0)), 0},
        {wake_fd_, POLLIN, 0}};
    poll(fds, 2, kPollMs);
    if (fds[1].revents & POLLIN) {
      std::uint64_t drained = 0;
      (void)!read(wake_fd_, &drained, sizeof drained);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rc = mosquitto_loop_read(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_want_write(mosq_)) rc = mosquitto_loop_write(mosq_, 1);
    if (rc == MOSQ_ERR_SUCCESS) rc = mosquitto_loop_misc(mosq_);
    if (rc != MOSQ_ERR_SUCCESS) {
      if (!lost_) connack_reason_ = mosquitto_strerror(rc);
      lost_ = true;
    }
  }
  if (lost_ && !stopping_) Lose(connack_reason_.c_str());
}

void Publisher::SendQueued() {
  while (!lost_ && in_flight_.size() < kWindow) {
    Outgoing m;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (queue_.empty()) return;
      m = std::move(queue_.front());
      queue_.pop_front();
      if (m.type == MessageType::kDData && queued_data_ > 0) --queued_data_;
    }
    const bool data = m.type == MessageType::kDData;
    Payload sent = m.payload;
    sent.has_seq = true;
    sent.seq = seq_.Next();
    if (data) {
      for (Metric& metric : sent.metrics) {
        if (metric.has_alias) metric.name.clear();  // the birth named them
      }
    }
    int mid = 0;
    if (!Send(Topic(sparkplug_.group, m.type, sparkplug_.node, m.device), EncodePayload(sent),
              data ? 1 : 0, &mid)) {
      std::lock_guard<std::mutex> lock(mu_);
      if (m.type == MessageType::kDData) ++queued_data_;
      queue_.push_front(std::move(m));
      return;
    }
    if (data) in_flight_[mid] = InFlight{m.key, false, std::move(m)};
  }
}

void Publisher::SendStored() {
  if (!store_) return;
  while (!lost_ && in_flight_.size() < kWindow) {
    std::vector<StoredMessage> batch;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (queued_data_ > 0) return;  // older than anything stored
      batch = store_->Peek(last_sent_key_, std::min(kStoreBatch, kWindow - in_flight_.size()));
    }
    if (batch.empty()) return;
    for (const StoredMessage& row : batch) {
      std::vector<std::uint8_t> bytes;
      last_sent_key_ = row.key;
      if (!RestampPayload(row.payload, seq_.Next(), row.historical, &bytes)) {
        Log(LogLevel::kError, "store", "a stored message is damaged; dropped");
        std::lock_guard<std::mutex> lock(mu_);
        store_->Remove(row.key);
        ++dropped_;
        continue;
      }
      int mid = 0;
      if (!Send(row.topic, bytes, 1, &mid)) return;
      in_flight_[mid] = InFlight{row.key, true, Outgoing{}};
    }
  }
}

// The session is over: what was sent and not acknowledged, and what waits,
// goes to the store (before anything made later), and the next session
// gets the next bdSeq.
void Publisher::Lose(const char* why) {
  if (why != nullptr) {
    Log(LogLevel::kWarn, "broker", std::string("connection lost: ") + (*why ? why : "closed"));
  }
  mosquitto_destroy(mosq_);
  mosq_ = nullptr;
  ++bd_seq_;
  std::vector<Outgoing> unsent;
  for (auto& [mid, f] : in_flight_) {
    if (!f.from_store) unsent.push_back(std::move(f.message));
  }
  in_flight_.clear();
  last_sent_key_ = 0;
  std::lock_guard<std::mutex> lock(mu_);
  connected_ = false;
  for (Outgoing& m : queue_) unsent.push_back(std::move(m));
  queue_.clear();
  queued_data_ = 0;
  std::sort(unsent.begin(), unsent.end(),
            [](const Outgoing& a, const Outgoing& b) { return a.key < b.key; });
  StoreLocked(std::move(unsent), true);
}

// A clean end: what waits goes out (the devices' deaths among it), then the
// node's death; data the broker did not acknowledge in time is kept.
void Publisher::Shutdown() {
  if (mosq_ != nullptr && !lost_) {
    const auto until = std::chrono::steady_clock::now() + kFlushWait;
    bool queued = true;
    while (!lost_ && std::chrono::steady_clock::now() < until && (queued || !in_flight_.empty())) {
      SendQueued();
      {
        std::lock_guard<std::mutex> lock(mu_);
        queued = !queue_.empty();
      }
      if (mosquitto_loop(mosq_, 20, 1) != MOSQ_ERR_SUCCESS) lost_ = true;
    }
    int mid = 0;
    if (!lost_ && Send(Topic(sparkplug_.group, MessageType::kNDeath, sparkplug_.node),
                       NodePayload(false), 1, &mid)) {
      in_flight_[mid] = InFlight{0, true, Outgoing{}};
      while (!lost_ && in_flight_.count(mid) &&
             std::chrono::steady_clock::now() < until + kFlushWait) {
        if (mosquitto_loop(mosq_, 20, 1) != MOSQ_ERR_SUCCESS) lost_ = true;
      }
      mosquitto_disconnect(mosq_);
      mosquitto_loop(mosq_, 20, 1);
    }
  }
  if (mosq_ != nullptr) Lose(nullptr);
  const PublisherStats s = stats();
  Log(LogLevel::kInfo, "broker",
      "stopped: " + std::to_string(s.published) + " messages published, " +
          std::to_string(s.stored) + " waiting in the store, " + std::to_string(s.dropped) +
          " dropped");
}

void Publisher::OnConnect(mosquitto*, void* self, int rc) {
  auto* p = static_cast<Publisher*>(self);
  if (rc == 0) {
    p->connack_ = true;
  } else {
    p->lost_ = true;
    p->connack_reason_ = mosquitto_connack_string(rc);
  }
}

void Publisher::OnDisconnect(mosquitto*, void* self, int rc) {
  auto* p = static_cast<Publisher*>(self);
  if (!p->lost_) p->connack_reason_ = rc == 0 ? "disconnected" : mosquitto_strerror(rc);
  p->lost_ = true;
}

void Publisher::OnPublish(mosquitto*, void* self, int mid) {
  auto* p = static_cast<Publisher*>(self);
  auto it = p->in_flight_.find(mid);
  if (it == p->in_flight_.end()) return;  // a QoS 0 message, counted when sent
  std::lock_guard<std::mutex> lock(p->mu_);
  ++p->published_;
  if (it->second.from_store && p->store_ && it->second.key != 0) {
    p->store_->Remove(it->second.key);
  }
  p->in_flight_.erase(it);
}

void Publisher::OnMessage(mosquitto*, void* self, const mosquitto_message* message) {
  static_cast<Publisher*>(self)->HandleMessage(message);
}

void Publisher::HandleMessage(const mosquitto_message* message) {
  MessageType type;
  std::string device;
  if (message->topic == nullptr ||
      !ParseTopic(message->topic, sparkplug_.group, sparkplug_.node, &type, &device)) {
    return;
  }
  Payload payload;
  std::string error;
  if (message->payloadlen < 0 ||
      !DecodePayload(static_cast<const std::uint8_t*>(message->payload),
                     static_cast<std::size_t>(message->payloadlen), &payload, &error)) {
    Log(LogLevel::kWarn, "broker",
        std::string("command refused: ") + message->topic + ": " + error);
    return;
  }
  if (type == MessageType::kNCmd) {
    for (const Metric& m : payload.metrics) {
      if (m.name == kRebirth && m.datatype == DataType::kBoolean && m.value.b) {
        Log(LogLevel::kInfo, "broker", "rebirth asked for");
        rebirth_asked_ = true;
      }
    }
  } else if (type == MessageType::kDCmd) {
    command_(device, std::move(payload));
  }
}

}  // namespace qxsym::bridge
