// A scripted stand-in for a controller: a TCP server on 127.0.0.1 (port
// chosen by the system) that plays a script of expected-request -> reply
// byte steps, or hands each connection to a callback, and records every byte
// it receives.
//
//   FakeController fake;
//   fake.Expect(request_bytes, reply_bytes);   // or fake.SetHandler(...)
//   ASSERT_TRUE(fake.Start());
//   ... connect to 127.0.0.1:fake.port() ...
//   EXPECT_TRUE(fake.mismatches().empty());
//   fake.Stop();
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "QXSymbols.h"

namespace qxsym {
namespace test {

using Bytes = std::vector<std::uint8_t>;

class FakeController;

// One accepted connection, as a script or callback sees it. Every read is
// bounded by a time-out and ends early when the controller stops.
class FakeConnection {
 public:
  static constexpr int kDefaultWaitMs = 5000;

  // Reads exactly n bytes. False on time-out, on close, or when stopping.
  bool Read(std::size_t n, Bytes* out, int timeout_ms = kDefaultWaitMs);
  bool ReadByte(std::uint8_t* byte, int timeout_ms = kDefaultWaitMs);
  bool Write(const Bytes& bytes) { return Write(bytes.data(), bytes.size()); }
  bool Write(const void* data, std::size_t size);
  // Closes this end; the client sees the peer close.
  void Close();
  // Reads (and records) until the client closes the connection, the
  // controller stops or timeout_ms passes. True when the client closed.
  bool DrainUntilClosed(int timeout_ms = kDefaultWaitMs);
  bool stopping() const;

 private:
  friend class FakeController;
  FakeConnection(FakeController* owner, int fd) : owner_(owner), fd_(fd) {}
  FakeController* owner_;
  int fd_;
};

class FakeController {
 public:
  using Handler = std::function<void(FakeConnection&)>;

  FakeController();
  ~FakeController();
  FakeController(const FakeController&) = delete;
  FakeController& operator=(const FakeController&) = delete;

  // Script steps, played in order on the first connection (ignored when a
  // handler is set). After the last step the connection is read until the
  // client closes it.
  // Reads request.size() bytes, compares them, then writes reply.
  void Expect(Bytes request, Bytes reply);
  // Writes bytes without reading first.
  void Send(Bytes bytes);
  // Reads request.size() bytes, compares them, and then answers nothing.
  void ExpectThenSilence(Bytes request);
  // Closes the connection.
  void Hangup();

  // Every accepted connection is served by handler, one after another.
  void SetHandler(Handler handler);

  // Listens on 127.0.0.1, port chosen by the system, and serves in a thread.
  bool Start();
  // Ends every wait, closes the sockets and joins the thread. Idempotent.
  void Stop();

  std::uint16_t port() const { return port_; }
  // An address record for this controller.
  QXSymServerAddress Address(std::uint16_t timeout_ms = 0) const;

  // All bytes received, over all connections, in order.
  Bytes received() const;
  // Waits until at least n bytes were received.
  bool WaitForReceived(std::size_t n, int timeout_ms = FakeConnection::kDefaultWaitMs) const;
  // Script steps whose request did not match, described.
  std::vector<std::string> mismatches() const;
  int connections() const { return connections_.load(); }
  // True once the script has been played to its end.
  bool script_done() const { return script_done_.load(); }

 private:
  friend class FakeConnection;
  struct Step {
    enum Kind { kExpect, kSend, kSilence, kHangup } kind;
    Bytes request;
    Bytes reply;
  };

  void Serve();
  void PlayScript(FakeConnection& connection);
  void Record(const std::uint8_t* data, std::size_t size);
  void Mismatch(std::string what);

  std::vector<Step> script_;
  Handler handler_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::atomic<bool> script_done_{false};
  int wake_pipe_[2] = {-1, -1};

  mutable std::mutex mutex_;
  mutable std::condition_variable received_cv_;
  Bytes received_;
  std::vector<std::string> mismatches_;
};

}  // namespace test
}  // namespace qxsym
