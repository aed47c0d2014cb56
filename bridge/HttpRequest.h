// The HTTP side of the metrics endpoint, apart from its sockets: where a
// request head ends, what it asks for and the answer, as pure functions so
// that every request shape can be tried without a connection.
#pragma once

#include <cstddef>
#include <string>

#include "MetricsServer.h"

namespace qxsym::bridge {

/// The longest request head (request line and header lines) read.
constexpr std::size_t kMaxHeadBytes = 8 * 1024;

struct HttpResponse {
  int status = 200;
  std::string content_type = "text/plain";
  std::string body;
  std::string allow;       ///< the Allow header of a 405
  bool head_only = false;  ///< a HEAD request: the headers without the body

  /// The status line, Content-Type, Content-Length, Connection: close and
  /// the body.
  std::string Serialize() const;
};

/// The offset just past the blank line that ends the head in @p data (CRLF
/// or bare LF lines), or npos when it has not all arrived.
std::size_t HttpHeadEnd(const std::string& data);

/// A plain-text error answer with the given status (400, 404, 405, 408,
/// 431, 500).
HttpResponse HttpError(int status);

/// Answers one complete request head: GET or HEAD of /metrics or /health;
/// 404 for another path, 405 for another method, 400 for a head that is not
/// HTTP/1.x, 500 when a handler throws.
HttpResponse HandleHttpRequest(const std::string& head, const MetricsServer::Handlers& handlers);

}  // namespace qxsym::bridge
