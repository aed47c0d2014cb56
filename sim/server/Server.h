// The simulator's TCP server: accepts clients on one listening socket and
// runs a Session per connection on a thread of its own, up to a connection
// cap in all and a cap per peer address. Stop() may be called from a signal
// handler.
#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "ControllerBackend.h"
#include "ServerOptions.h"

namespace qxsym::sim {

class Server {
 public:
  Server(ServerOptions options, std::shared_ptr<ControllerBackend> backend);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Binds and listens; false with a message in *error.
  bool Listen(std::string* error);
  // The bound address, valid after Listen.
  const std::string& host() const { return options_.host; }
  std::uint16_t port() const { return port_; }

  // Accepts and serves until Stop; then closes every connection and waits
  // for their threads.
  void Run();
  // Async-signal-safe: wakes Run and every connection.
  void Stop();

  // Connections being served now.
  std::size_t active_connections() const { return active_.load(); }

 private:
  struct Connection;
  // Whether a client from peer (IPv4, network order) gets a place now.
  bool Admit(std::uint32_t peer);
  void Start(int fd, std::uint32_t peer);
  void Serve(Connection& c);
  void Reap(bool all);

  ServerOptions options_;
  std::shared_ptr<ControllerBackend> backend_;
  int listen_fd_ = -1;
  // Written once to stop; every poll watches the read end, which stays
  // readable from then on.
  int stop_pipe_[2] = {-1, -1};
  std::uint16_t port_ = 0;
  std::atomic<std::size_t> active_{0};
  std::uint64_t next_id_ = 1;
  std::list<std::unique_ptr<Connection>> connections_;
  std::mutex log_mutex_;
};

}  // namespace qxsym::sim
