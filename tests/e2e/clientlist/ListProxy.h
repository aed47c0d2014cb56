// A TCP relay on 127.0.0.1 between the lister's connections and the
// simulator. Each accepted connection is relayed, held (accepted and never
// answered, as a controller that takes no more clients but leaves them
// hanging), or relayed and cut once the client has sent a number of bytes.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qxsym::test {

class ListProxy {
 public:
  struct Plan {
    bool hold = false;
    std::size_t cut_after = 0;  // 0: never
  };
  // plan(i) for the i-th connection accepted, counted from 0.
  using PlanFor = std::function<Plan(int)>;

  ListProxy(std::string host, std::uint16_t port, PlanFor plan)
      : host_(std::move(host)), port_(port), plan_(std::move(plan)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 16) != 0 ||
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
      return;
    }
    listen_port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { Accept(); });
  }

  ~ListProxy() {
    stop_ = true;
    if (acceptor_.joinable()) acceptor_.join();
    for (std::thread& t : relays_) t.join();
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : held_) ::close(fd);
    ::close(listen_);
  }

  std::uint16_t port() const { return listen_port_; }
  int accepted() const { return accepted_.load(); }
  int cuts() const { return cuts_.load(); }

 private:
  void Accept() {
    while (!stop_) {
      pollfd p{listen_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      const int fd = ::accept(listen_, nullptr, nullptr);
      if (fd < 0) continue;
      const Plan plan = plan_(accepted_++);
      if (plan.hold) {
        std::lock_guard<std::mutex> lock(mutex_);
        held_.push_back(fd);
        continue;
      }
      relays_.emplace_back([this, fd, plan] { Relay(fd, plan); });
    }
  }

  int Connect() const {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port_);
    ::inet_pton(AF_INET, host_.c_str(), &a.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }

  static void NoDelay(int fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }

  void Relay(int client, Plan plan) {
    const int server = Connect();
    NoDelay(client);
    if (server >= 0) NoDelay(server);
    std::size_t sent = 0;
    char buf[65536];
    while (!stop_ && server >= 0) {
      pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
      if (::poll(p, 2, 50) <= 0) continue;
      if (p[0].revents != 0) {
        const ssize_t n = ::read(client, buf, sizeof buf);
        if (n <= 0 || ::write(server, buf, static_cast<std::size_t>(n)) != n) break;
        sent += static_cast<std::size_t>(n);
        if (plan.cut_after != 0 && sent >= plan.cut_after) {
          ++cuts_;
          break;
        }
      }
      if (p[1].revents != 0) {
        const ssize_t n = ::read(server, buf, sizeof buf);
        if (n <= 0 || ::write(client, buf, static_cast<std::size_t>(n)) != n) break;
      }
    }
    if (server >= 0) ::close(server);
    ::shutdown(client, SHUT_RDWR);
    ::close(client);
  }

  std::string host_;
  std::uint16_t port_;
  PlanFor plan_;
  int listen_ = -1;
  std::uint16_t listen_port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<int> accepted_{0};
  std::atomic<int> cuts_{0};
  std::thread acceptor_;
  std::vector<std::thread> relays_;
  std::mutex mutex_;
  std::vector<int> held_;
};

}  // namespace qxsym::test
