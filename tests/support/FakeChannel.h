// A recording channel for unit tests: every Transact is recorded with its
// exact request bytes and the reply capacity offered, and answered from a
// script of replies and failing results, in order. An exchange without a
// script answers symResTimeoutError, like a controller that never replies.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "CCommunication.h"
#include "QXSymbols.h"
#include "TransactOnlyChannel.h"

namespace qxsym {
namespace test {

// Little-endian byte strings for expected requests and scripted replies.
class Bytes {
 public:
  Bytes& U8(std::uint8_t v) { return Put(v, 1); }
  Bytes& U16(std::uint16_t v) { return Put(v, 2); }
  Bytes& U32(std::uint32_t v) { return Put(v, 4); }
  Bytes& U64(std::uint64_t v) { return Put(v, 8); }
  Bytes& Text(const char* s, std::size_t n) {
    bytes_.insert(bytes_.end(), s, s + n);
    return *this;
  }
  Bytes& Raw(const std::vector<std::uint8_t>& v) {
    bytes_.insert(bytes_.end(), v.begin(), v.end());
    return *this;
  }
  Bytes& Fill(std::size_t n, std::uint8_t value = 0) {
    bytes_.insert(bytes_.end(), n, value);
    return *this;
  }
  std::vector<std::uint8_t> vec() const { return bytes_; }
  operator std::vector<std::uint8_t>() const { return bytes_; }  // NOLINT

 private:
  Bytes& Put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  std::vector<std::uint8_t> bytes_;
};

// The header of a successful reply: code and status.
inline Bytes ReplyHeader(std::uint16_t code, std::uint16_t status = 0) {
  return Bytes().U16(code).U16(status);
}

class FakeChannel : public TransactOnlyChannel {
 public:
  struct Call {
    std::vector<std::uint8_t> request;
    std::uint32_t capacity;
  };

  // The next exchange receives these bytes (cut to the capacity offered, as
  // the channel does with a reply that arrives in one frame).
  void Reply(std::vector<std::uint8_t> reply) {
    std::lock_guard<std::mutex> g(mutex_);
    script_.push_back(Step{symResOk, std::move(reply)});
  }
  // The next exchange fails with result.
  void Fail(QXSymResult result) {
    std::lock_guard<std::mutex> g(mutex_);
    script_.push_back(Step{result, {}});
  }

  std::vector<Call> calls() const {
    std::lock_guard<std::mutex> g(mutex_);
    return calls_;
  }
  std::size_t call_count() const {
    std::lock_guard<std::mutex> g(mutex_);
    return calls_.size();
  }
  std::vector<std::uint8_t> request(std::size_t i) const {
    std::lock_guard<std::mutex> g(mutex_);
    return i < calls_.size() ? calls_[i].request : std::vector<std::uint8_t>{};
  }
  std::uint32_t capacity(std::size_t i) const {
    std::lock_guard<std::mutex> g(mutex_);
    return i < calls_.size() ? calls_[i].capacity : 0;
  }
  std::size_t pending() const {
    std::lock_guard<std::mutex> g(mutex_);
    return script_.size();
  }
  int close_calls() const { return close_calls_; }

  // Runs inside every Transact before the reply is delivered, without the
  // fake's lock: lets a test change the world while an exchange is on the
  // wire.
  std::function<void()> during_transact;
  // Answers exchanges that the script does not cover (for tests that run
  // many exchanges from several threads); the reply is built from the
  // request.
  std::function<std::vector<std::uint8_t>(const std::vector<std::uint8_t>&)> responder;

  bool Open(const QXSymServerAddress*) override {
    connected_ = true;
    return true;
  }
  bool Close() override {
    ++close_calls_;
    closed_ = true;
    connected_ = false;
    return true;
  }
  QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize) override {
    if (during_transact) during_transact();
    std::lock_guard<std::mutex> g(mutex_);
    const auto* req = static_cast<const std::uint8_t*>(request);
    calls_.push_back(Call{std::vector<std::uint8_t>(req, req + requestSize), *responseSize});
    if (closed_) return symResConnectionLost;
    Step step{symResTimeoutError, {}};
    if (!script_.empty()) {
      step = std::move(script_.front());
      script_.pop_front();
    } else if (responder) {
      step = Step{symResOk, responder(calls_.back().request)};
    }
    if (step.result != symResOk) return step.result;
    const std::size_t n = std::min<std::size_t>(step.reply.size(), *responseSize);
    if (n != 0) std::memcpy(response, step.reply.data(), n);
    *responseSize = static_cast<std::uint32_t>(n);
    return symResOk;
  }

 private:
  struct Step {
    QXSymResult result;
    std::vector<std::uint8_t> reply;
  };

  mutable std::mutex mutex_;
  std::deque<Step> script_;
  std::vector<Call> calls_;
  std::atomic<int> close_calls_{0};
  bool closed_ = false;
};

}  // namespace test
}  // namespace qxsym
