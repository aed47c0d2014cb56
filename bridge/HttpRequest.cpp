// Reading one HTTP/1.x request head and choosing its answer. The head is
// checked strictly enough that garbage gets a 400 rather than a guess; the
// endpoint needs nothing from the header fields, so they are only checked
// for shape.
#include "HttpRequest.h"

#include <vector>

namespace qxsym::bridge {

namespace {

constexpr const char* kPrometheusType = "text/plain; version=0.0.4";

bool IsTokenChar(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
  for (const char* p = "!#$%&'*+-.^_`|~"; *p != '\0'; ++p) {
    if (c == static_cast<unsigned char>(*p)) return true;
  }
  return false;
}

bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (!IsTokenChar(c)) return false;
  }
  return true;
}

// The head's lines without their line ends; the blank line is not included.
std::vector<std::string> SplitLines(const std::string& head) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < head.size()) {
    const std::size_t nl = head.find('\n', start);
    const std::size_t stop = nl == std::string::npos ? head.size() : nl;
    std::string line = head.substr(start, stop - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) break;
    lines.push_back(std::move(line));
    start = stop + 1;
  }
  return lines;
}

// "METHOD /target HTTP/1.x": exactly two spaces, a token, an origin-form
// target of visible characters and a 1.x version.
bool ParseRequestLine(const std::string& line, std::string* method, std::string* path) {
  const std::size_t sp1 = line.find(' ');
  if (sp1 == std::string::npos) return false;
  const std::size_t sp2 = line.find(' ', sp1 + 1);
  if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) return false;
  *method = line.substr(0, sp1);
  const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  const std::string version = line.substr(sp2 + 1);
  if (!IsToken(*method) || target.empty() || target[0] != '/') return false;
  for (unsigned char c : target) {
    if (c <= 0x20 || c >= 0x7F) return false;
  }
  if (version != "HTTP/1.1" && version != "HTTP/1.0") return false;
  *path = target.substr(0, target.find('?'));
  return true;
}

// "Name: value" with a token name and no control character in the value
// (a tab is allowed). Continuation lines are obsolete and refused.
bool IsHeaderLine(const std::string& line) {
  const std::size_t colon = line.find(':');
  if (colon == std::string::npos || !IsToken(line.substr(0, colon))) return false;
  for (std::size_t i = colon + 1; i < line.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(line[i]);
    if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
  }
  return true;
}

const char* Reason(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

HttpResponse Serve(const std::string& path, const MetricsServer::Handlers& handlers) {
  HttpResponse r;
  if (path == "/metrics") {
    r.content_type = kPrometheusType;
    if (handlers.metrics) r.body = handlers.metrics();
  } else {
    const bool healthy = !handlers.healthy || handlers.healthy();
    r.status = healthy ? 200 : 503;
    r.body = healthy ? "ok" : "unhealthy";
  }
  return r;
}

}  // namespace

std::string HttpResponse::Serialize() const {
  std::string out = "HTTP/1.1 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  out += "Content-Type: " + content_type + "\r\n";
  out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  if (!allow.empty()) out += "Allow: " + allow + "\r\n";
  out += "Connection: close\r\n\r\n";
  if (!head_only) out += body;
  return out;
}

std::size_t HttpHeadEnd(const std::string& data) {
  // A blank line is "\n" directly after the previous line's "\n", with an
  // optional "\r" before it.
  for (std::size_t nl = data.find('\n'); nl != std::string::npos; nl = data.find('\n', nl + 1)) {
    std::size_t next = nl + 1;
    if (next < data.size() && data[next] == '\r') ++next;
    if (next < data.size() && data[next] == '\n') return next + 1;
  }
  return std::string::npos;
}

HttpResponse HttpError(int status) {
  HttpResponse r;
  r.status = status;
  r.body = std::string(Reason(status)) + "\n";
  if (status == 405) r.allow = "GET, HEAD";
  return r;
}

HttpResponse HandleHttpRequest(const std::string& head, const MetricsServer::Handlers& handlers) {
  const std::vector<std::string> lines = SplitLines(head);
  std::string method, path;
  if (lines.empty() || !ParseRequestLine(lines[0], &method, &path)) return HttpError(400);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    if (!IsHeaderLine(lines[i])) return HttpError(400);
  }
  if (path != "/metrics" && path != "/health") return HttpError(404);
  if (method != "GET" && method != "HEAD") return HttpError(405);
  HttpResponse r;
  try {
    r = Serve(path, handlers);
  } catch (...) {
    r = HttpError(500);  // the bridge's state is not the scraper's concern
  }
  r.head_only = method == "HEAD";
  return r;
}

}  // namespace qxsym::bridge
