// Settings of the simulator's network server.
#pragma once

#include <cstdint>
#include <string>

#include "Session.h"

namespace qxsym::sim {

struct ServerOptions {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0: the system picks a free port
  std::uint32_t max_connections = 64;
  // Connections from one peer address served at once, so that one client
  // cannot take every place.
  std::uint32_t max_connections_per_peer = 16;
  // A connection that completes no command frame for this long is closed;
  // handshakes do not count, so repeating them keeps nothing open.
  std::uint32_t idle_timeout_ms = 120000;
  bool verbose = false;
  SessionOptions session;
};

}  // namespace qxsym::sim
