// The operations endpoint: request heads answered without a socket, then the
// server over real loopback connections (answers, limits, slow clients,
// refusals), then the Prometheus text it serves.
#include <HttpRequest.h>
#include <MetricsServer.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace qxsym::bridge {
namespace {

MetricsServer::Handlers FixedHandlers(const std::string& text, const std::atomic<bool>* healthy) {
  return {[text] { return text; }, [healthy] { return healthy->load(); }};
}

// --- request heads, without sockets -------------------------------------

TEST(HttpRequestTest, HeadEndIsFoundWhateverTheLineEnds) {
  EXPECT_EQ(HttpHeadEnd("GET / HTTP/1.1\r\nHost: a\r\n\r\n"), 27u);
  EXPECT_EQ(HttpHeadEnd("GET / HTTP/1.1\nHost: a\n\n"), 24u);
  EXPECT_EQ(HttpHeadEnd("GET / HTTP/1.1\r\n\r\nbody"), 18u);  // the body is not in it
  // Cut anywhere before the blank line, the head is not complete yet.
  const std::string full = "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n";
  for (std::size_t cut = 0; cut < full.size(); ++cut) {
    EXPECT_EQ(HttpHeadEnd(full.substr(0, cut)), std::string::npos) << cut;
  }
  EXPECT_EQ(HttpHeadEnd("GET / HTTP/1.1\r\nX: a\rb\r\n"), std::string::npos);
}

TEST(HttpRequestTest, PathsAndMethodsAreRouted) {
  std::atomic<bool> healthy{true};
  const auto h = FixedHandlers("m 1\n", &healthy);
  EXPECT_EQ(HandleHttpRequest("GET /metrics?x=1 HTTP/1.0\r\nHost: a\r\n", h).body, "m 1\n");
  EXPECT_EQ(HandleHttpRequest("GET / HTTP/1.1\r\n", h).status, 404);
  EXPECT_EQ(HandleHttpRequest("GET /metrics/ HTTP/1.1\r\n", h).status, 404);
  EXPECT_EQ(HandleHttpRequest("GET /metricsx HTTP/1.1\r\n", h).status, 404);
  const HttpResponse post = HandleHttpRequest("POST /metrics HTTP/1.1\r\n", h);
  EXPECT_EQ(post.status, 405);
  EXPECT_NE(post.Serialize().find("\r\nAllow: GET, HEAD\r\n"), std::string::npos);
  EXPECT_EQ(HandleHttpRequest("get /metrics HTTP/1.1\r\n", h).status, 405);  // methods are cased

  // HEAD: the length of the body, not the body.
  const std::string head = HandleHttpRequest("HEAD /metrics HTTP/1.1\r\n", h).Serialize();
  EXPECT_NE(head.find("Content-Length: 4\r\n"), std::string::npos) << head;
  EXPECT_EQ(head.substr(head.size() - 4), "\r\n\r\n");
}

TEST(HttpRequestTest, GarbageIsABadRequest) {
  std::atomic<bool> healthy{true};
  const auto h = FixedHandlers("", &healthy);
  for (const char* bad :
       {"", "GET\r\n", "GET /metrics\r\n", "GET /metrics HTTP/2.0\r\n",
        "GET  /metrics HTTP/1.1\r\n", "GET /metrics HTTP/1.1 \r\n", "GET metrics HTTP/1.1\r\n",
        "G(T /metrics HTTP/1.1\r\n", "GET /me\x01trics HTTP/1.1\r\n",
        "GET /metrics HTTP/1.1\r\nNoColon\r\n", "GET /metrics HTTP/1.1\r\n folded: x\r\n",
        "GET /metrics HTTP/1.1\r\nX: a\x01b\r\n", "\x16\x03\x01\x02\x00\x01"}) {
    EXPECT_EQ(HandleHttpRequest(bad, h).status, 400) << bad;
  }
}

TEST(HttpRequestTest, MangledHeadsGetAnErrorNeverACrash) {
  std::atomic<bool> healthy{true};
  const auto h = FixedHandlers("m 1\n", &healthy);
  const std::string good = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9100\r\nAccept: */*\r\n";
  std::mt19937 random(12345);  // fixed, so that a failure can be replayed
  for (int round = 0; round < 20000; ++round) {
    std::string head = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const std::size_t at = random() % (head.size() + 1);
      switch (random() % 3) {
        case 0:
          head.insert(at, 1, static_cast<char>(random() % 256));
          break;
        case 1:
          if (at < head.size()) head.erase(at, 1);
          break;
        default:
          if (at < head.size()) head[at] = static_cast<char>(random() % 256);
      }
    }
    const int status = HandleHttpRequest(head, h).status;
    EXPECT_TRUE(status == 200 || status == 400 || status == 404 || status == 405)
        << status << " for " << testing::PrintToString(head);
    // An answer of 200 only for a head that still asks for /metrics.
    if (status == 200) {
      EXPECT_EQ(head.rfind("GET /metrics", 0), 0u) << testing::PrintToString(head);
    }
  }
}

TEST(HttpRequestTest, AThrowingHandlerAnswers500) {
  MetricsServer::Handlers h{[]() -> std::string { throw std::runtime_error("x"); },
                            []() -> bool { throw 1; }};
  EXPECT_EQ(HandleHttpRequest("GET /metrics HTTP/1.1\r\n", h).status, 500);
  EXPECT_EQ(HandleHttpRequest("GET /health HTTP/1.1\r\n", h).status, 500);
}

// --- the server over loopback -------------------------------------------

// A blocking client socket with a receive time-out, so that a server that
// never answers fails the test instead of hanging it.
class Client {
 public:
  explicit Client(std::uint16_t port, const char* host = "127.0.0.1")
      : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
    timeval tv{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    ::inet_pton(AF_INET, host, &addr.sin_addr);
    connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Client() { ::close(fd_); }
  bool connected() const { return connected_; }
  void Send(const std::string& data) {
    ASSERT_EQ(::send(fd_, data.data(), data.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(data.size()));
  }
  // Everything until the server closes (or the time-out: then "TIMEOUT").
  std::string ReadAll() {
    std::string out;
    char buf[4096];
    for (;;) {
      const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return out + "TIMEOUT";
      if (n <= 0) return out;
      out.append(buf, static_cast<std::size_t>(n));
    }
  }

 private:
  int fd_;
  bool connected_ = false;
};

std::string Get(std::uint16_t port, const std::string& request, const char* host = "127.0.0.1") {
  Client c(port, host);
  EXPECT_TRUE(c.connected());
  c.Send(request);
  return c.ReadAll();
}

std::string StatusLine(const std::string& response) {
  return response.substr(0, response.find("\r\n"));
}

std::string Body(const std::string& response) {
  const auto at = response.find("\r\n\r\n");
  return at == std::string::npos ? "NO BODY" : response.substr(at + 4);
}

class MetricsServerTest : public testing::Test {
 protected:
  std::atomic<bool> healthy_{true};
  std::atomic<int> scrapes_{0};
  MetricsServer server_{"127.0.0.1",
                        0,
                        {[this] {
                           ++scrapes_;
                           return std::string("qxsym_bridge_broker_connected 1\n");
                         },
                         [this] { return healthy_.load(); }}};
};

TEST_F(MetricsServerTest, ServesMetricsAndHealth) {
  ASSERT_NE(server_.port(), 0);
  const std::string m = Get(server_.port(), "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(StatusLine(m), "HTTP/1.1 200 OK");
  EXPECT_NE(m.find("\r\nContent-Type: text/plain; version=0.0.4\r\n"), std::string::npos) << m;
  EXPECT_NE(m.find("\r\nConnection: close\r\n"), std::string::npos) << m;
  EXPECT_EQ(Body(m), "qxsym_bridge_broker_connected 1\n");
  EXPECT_EQ(scrapes_.load(), 1);

  EXPECT_EQ(Body(Get(server_.port(), "GET /health HTTP/1.1\r\n\r\n")), "ok");
  healthy_ = false;
  const std::string down = Get(server_.port(), "GET /health HTTP/1.1\r\n\r\n");
  EXPECT_EQ(StatusLine(down), "HTTP/1.1 503 Service Unavailable");
  EXPECT_EQ(Body(down), "unhealthy");
}

TEST_F(MetricsServerTest, WrongRequestsGetTheirStatus) {
  EXPECT_EQ(StatusLine(Get(server_.port(), "GET /nothing HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 404 Not Found");
  EXPECT_EQ(StatusLine(Get(server_.port(), "DELETE /metrics HTTP/1.1\r\n\r\n")),
            "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(StatusLine(Get(server_.port(), "hello there\r\n\r\n")), "HTTP/1.1 400 Bad Request");
  // A request with a body: the answer still arrives whole, the body unread.
  const std::string post =
      Get(server_.port(),
          "POST /metrics HTTP/1.1\r\nContent-Length: 20000\r\n\r\n" + std::string(20000, 'b'));
  EXPECT_EQ(StatusLine(post), "HTTP/1.1 405 Method Not Allowed");
  EXPECT_EQ(scrapes_.load(), 0);
}

TEST_F(MetricsServerTest, AHeadSentByteByByteIsAnswered) {
  Client c(server_.port());
  for (char ch : std::string("GET /health HTTP/1.1\r\n\r\n")) c.Send(std::string(1, ch));
  EXPECT_EQ(Body(c.ReadAll()), "ok");
}

TEST_F(MetricsServerTest, AnOverLongHeadIsRefused) {
  const std::string padding = "X-Pad: " + std::string(kMaxHeadBytes, 'p') + "\r\n";
  // Without its end in sight, as soon as the limit is passed...
  Client open(server_.port());
  open.Send("GET /metrics HTTP/1.1\r\n" + padding);
  EXPECT_EQ(StatusLine(open.ReadAll()), "HTTP/1.1 431 Request Header Fields Too Large");
  // ...and with the end arriving in the same read.
  EXPECT_EQ(StatusLine(Get(server_.port(), "GET /metrics HTTP/1.1\r\n" + padding + "\r\n")),
            "HTTP/1.1 431 Request Header Fields Too Large");
  // Just under the limit is fine.
  const std::string request = "GET /metrics HTTP/1.1\r\nX-Pad: ";
  const std::string fits = request + std::string(kMaxHeadBytes - request.size() - 4, 'p');
  EXPECT_EQ(StatusLine(Get(server_.port(), fits + "\r\n\r\n")), "HTTP/1.1 200 OK");
  EXPECT_EQ(scrapes_.load(), 1);
}

TEST_F(MetricsServerTest, ASilentClientBlocksNoOneAndIsTimedOut) {
  Client silent(server_.port());
  Client half(server_.port());
  half.Send("GET /metrics HTTP/1.1\r\n");  // never finishes its head
  EXPECT_EQ(StatusLine(Get(server_.port(), "GET /health HTTP/1.1\r\n\r\n")), "HTTP/1.1 200 OK");
  // The server gives up on them after its read time-out (well within the
  // client's five seconds), saying why.
  EXPECT_EQ(StatusLine(silent.ReadAll()), "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(StatusLine(half.ReadAll()), "HTTP/1.1 408 Request Timeout");
  EXPECT_EQ(scrapes_.load(), 0);
}

TEST_F(MetricsServerTest, ConnectionsBeyondTheLimitAreClosed) {
  std::vector<std::unique_ptr<Client>> held;
  for (int i = 0; i < 16; ++i) held.push_back(std::make_unique<Client>(server_.port()));
  // The server accepts in order, so the seventeenth finds every slot taken.
  Client extra(server_.port());
  ASSERT_TRUE(extra.connected());
  EXPECT_EQ(extra.ReadAll(), "");
  // Freeing a slot makes room again.
  held[0].reset();
  held[1]->Send("GET /health HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Body(held[1]->ReadAll()), "ok");
  // The first client's close reached the server before the second's request
  // did, so its slot is free by now.
  EXPECT_EQ(Body(Get(server_.port(), "GET /health HTTP/1.1\r\n\r\n")), "ok");
}

TEST(MetricsServerSetupTest, OnlyLoopbackIsListenedOn) {
  MetricsServer::Handlers none;
  for (const char* host : {"0.0.0.0", "10.1.2.3", "128.0.0.1", "localhost", "::1", "127.1",
                           "127.0.0.1 ", "", "126.255.255.255"}) {
    EXPECT_THROW(MetricsServer(host, 0, none), MetricsError) << host;
  }
  MetricsServer other("127.0.0.2", 0, none);  // the whole of 127/8 is loopback
  EXPECT_EQ(
      StatusLine(Get(other.port(), "GET /health HTTP/1.1\r\n\r\n", "127.0.0.2")).substr(0, 12),
      "HTTP/1.1 200");
}

TEST(MetricsServerSetupTest, APortInUseIsAnError) {
  MetricsServer first("127.0.0.1", 0, {});
  try {
    MetricsServer second("127.0.0.1", first.port(), {});
    ADD_FAILURE() << "listened twice on " << first.port();
  } catch (const MetricsError& e) {
    EXPECT_NE(std::string(e.what()).find("127.0.0.1:" + std::to_string(first.port())),
              std::string::npos)
        << e.what();
  }
}

TEST(MetricsServerSetupTest, StopsWithAClientConnected) {
  auto server = std::make_unique<MetricsServer>("127.0.0.1", 0, MetricsServer::Handlers{});
  Client c(server->port());
  ASSERT_TRUE(c.connected());
  server.reset();  // must not wait for the client
  EXPECT_EQ(c.ReadAll(), "");
}

// --- Prometheus text -----------------------------------------------------

TEST(PrometheusTextTest, TextIsEscaped) {
  PrometheusText t;
  t.Family("m", "gauge", "a \\ b\nc \"q\"");  // HELP keeps quotes as they are
  t.Sample("m", 1, "device", "O\"v\\e\nn}");
  t.Family("n_total", "counter", "N.");
  t.Sample("n_total", 3);
  EXPECT_EQ(t.str(),
            "# HELP m a \\\\ b\\nc \"q\"\n"
            "# TYPE m gauge\n"
            "m{device=\"O\\\"v\\\\e\\nn}\"} 1\n"
            "# HELP n_total N.\n"
            "# TYPE n_total counter\n"
            "n_total 3\n");
}

TEST(PrometheusTextTest, NumbersAreWrittenAsScrapersReadThem) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<std::pair<double, std::string>> cases = {
      {0, "0"},
      {-0.0, "0"},
      {42, "42"},
      {-7, "-7"},
      {1e7, "10000000"},
      {123456789012.0, "123456789012"},
      {9007199254740992.0, "9007199254740992"},  // 2^53: the largest exact counter
      {0.1, "0.1"},
      {1.5, "1.5"},
      {-2.25, "-2.25"},
      {1.0 / 3.0, "0.3333333333333333"},
      {1e300, "1e+300"},
      {0.1 + 0.2, "0.30000000000000004"},
      {std::nan(""), "NaN"},
      {inf, "+Inf"},
      {-inf, "-Inf"},
  };
  for (const auto& [value, text] : cases) {
    PrometheusText t;
    t.Sample("m", value);
    EXPECT_EQ(t.str(), "m " + text + "\n") << value;
  }
}

}  // namespace
}  // namespace qxsym::bridge
