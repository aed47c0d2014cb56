// Shared pieces of the simulator server's tests: model files written for a
// test, and a raw protocol client that speaks hand-encoded frames over a
// loopback socket, so the server's wire behaviour is checked without the
// library's channel.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "SimLauncher.h"
#include "SimTestWire.h"

namespace qxsym::test {

using simwire::Bytes;

// Memory layout of the test model: a 4096-byte array at kBlobAddress and a
// DINT after it, which is also variable 0.
constexpr std::uint32_t kBlobAddress = 0x10000;
constexpr std::uint32_t kBlobSize = 4096;
constexpr std::uint32_t kCounterAddress = kBlobAddress + kBlobSize;

// Writes a model file; `filler` extra tags with long descriptions make the
// symbol table as large as a test needs. Returns the path.
inline std::string WriteModel(std::string name, int filler = 0) {
  for (char& ch : name) {
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  const std::string path =
      ::testing::TempDir() + "/" + name + "-" + std::to_string(::getpid()) + ".json";
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << "{\"name\": \"wire-test\", \"memory\": {\"base\": " << kBlobAddress << "},\n"
    << "\"tags\": [\n"
    << "  {\"name\": \"Blob\", \"type\": \"ARRAY[0.." << kBlobSize - 1 << "] OF BYTE\", "
    << "\"address\": " << kBlobAddress << "},\n"
    << "  {\"name\": \"Counter\", \"type\": \"DINT\", \"address\": " << kCounterAddress
    << ", \"value\": 305419896}";
  const std::string text(200, 'd');
  for (int i = 0; i < filler; ++i) {
    f << ",\n  {\"name\": \"Filler" << i << "\", \"type\": \"DINT\", \"description\": \"" << text
      << i << "\"}";
  }
  f << "\n],\n\"variables\": [\"Counter\"]}\n";
  f.close();
  return path;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class RawClient {
 public:
  static constexpr int kTimeout = -1;
  static constexpr int kClosed = -2;

  ~RawClient() { Close(); }

  // Connects from `source` (a loopback address, host order), so that one
  // test can play clients on several peer addresses.
  bool Connect(std::uint16_t port, std::uint32_t source = INADDR_LOOPBACK) {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd_ < 0) return false;
    if (source != INADDR_LOOPBACK) {
      sockaddr_in from{};
      from.sin_family = AF_INET;
      from.sin_addr.s_addr = htonl(source);
      if (::bind(fd_, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
        Close();
        return false;
      }
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
      Close();
      return false;
    }
    const int one = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return true;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  bool SendRaw(const Bytes& b) {
    std::size_t at = 0;
    while (at < b.size()) {
      const ssize_t n = ::send(fd_, b.data() + at, b.size() - at, MSG_NOSIGNAL);
      if (n <= 0) return false;
      at += static_cast<std::size_t>(n);
    }
    return true;
  }
  bool SendFrame(const Bytes& payload, std::uint8_t checksum_error = 0) {
    std::optional<std::uint16_t> s;
    if (seq) s = sequence;
    return SendRaw(simwire::RequestFrame(payload, s, checksum_error));
  }

  // The next byte, kTimeout or kClosed.
  int ReadByte(int timeout_ms = 5000) {
    if (pos_ < buf_.size()) return buf_[pos_++];
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0) return kTimeout;
    std::uint8_t tmp[65536];
    const ssize_t n = ::recv(fd_, tmp, sizeof tmp, 0);
    if (n <= 0) return kClosed;
    buf_.assign(tmp, tmp + n);
    pos_ = 1;
    return buf_[0];
  }
  // True when the peer closes the connection within timeout_ms; bytes
  // before the end are skipped.
  bool ClosedByPeer(int timeout_ms = 5000) {
    for (;;) {
      const int b = ReadByte(timeout_ms);
      if (b == kClosed) return true;
      if (b == kTimeout) return false;
    }
  }
  // True when the peer drops the connection within timeout_ms, found by
  // sending single noise bytes without reading anything.
  bool ResetByPeer(int timeout_ms = 5000) {
    for (int waited = 0; waited < timeout_ms; waited += 10) {
      const std::uint8_t b = 0;
      if (::send(fd_, &b, 1, MSG_NOSIGNAL) < 0) return true;
      ::poll(nullptr, 0, 10);
    }
    return false;
  }
  std::optional<simwire::ReplyFrame> ReadReply(int timeout_ms = 5000) {
    return simwire::ReadReply(
        [&]() -> int {
          const int b = ReadByte(timeout_ms);
          return b < 0 ? -1 : b;
        },
        seq);
  }

  // One command: frame, acknowledgement, reply, acknowledgement of the reply.
  // The reply's checksum and sequence echo are checked by the caller.
  std::optional<simwire::ReplyFrame> Command(const Bytes& payload) {
    if (!SendFrame(payload)) return std::nullopt;
    if (ack && ReadByte() != '+') return std::nullopt;
    auto reply = ReadReply();
    if (reply && ack) SendRaw({reply->checksum_ok ? std::uint8_t{'+'} : std::uint8_t{'-'}});
    return reply;
  }

  // Negotiation as a client does it, for a server whose modes are known.
  bool Negotiate(bool server_acks, bool server_seq) {
    ack = server_acks;
    seq = false;
    auto na = Command(simwire::Text("!NA!"));
    if (!na || na->data != Bytes{static_cast<std::uint8_t>(server_acks ? 0 : 1)}) return false;
    auto s = Command(simwire::Text("!S!"));
    if (!s || s->data != Bytes{static_cast<std::uint8_t>(server_seq ? 0 : 1)}) return false;
    seq = server_seq;
    return true;
  }

  // One symbol-service exchange, fragmenting the request and reassembling
  // the reply the way a client does. Empty on any protocol fault.
  std::optional<Bytes> Transact(const Bytes& request, std::uint32_t* fragments_sent = nullptr,
                                std::uint32_t* fragments_received = nullptr) {
    ++sequence;
    std::optional<simwire::ReplyFrame> r;
    std::uint32_t sent = 0;
    if (request.size() <= 1024) {
      r = Command(simwire::Y(request));
    } else {
      const std::uint32_t transfer = next_transfer_++;
      const auto total = static_cast<std::uint32_t>(request.size());
      std::uint32_t offset = 0;
      for (;;) {
        const std::uint32_t n = std::min<std::uint32_t>(total - offset, 997);
        const bool last = offset + n == total;
        r = Command(simwire::Y(
            simwire::RequestFragment(transfer, total, offset, request.data() + offset, n, last)));
        ++sent;
        if (!r || !Sound(*r)) return std::nullopt;
        if (last) break;
        if (r->data.size() < 20 || simwire::GetU16(r->data, 0) != simwire::kFragmentAck ||
            simwire::GetU32(r->data, 12) != transfer) {
          return std::nullopt;
        }
        offset = simwire::GetU32(r->data, 16);
      }
    }
    if (fragments_sent) *fragments_sent = sent;
    if (!r || !Sound(*r)) return std::nullopt;
    auto frag = simwire::ParseReplyFragment(r->data);
    if (!frag || frag->length + 29 != r->data.size()) {
      if (fragments_received) *fragments_received = 0;
      return r->data;
    }
    Bytes whole = frag->data;
    std::uint32_t received = 1;
    while (whole.size() < frag->total) {
      r = Command(simwire::Y(
          simwire::ReplyFragmentAck(frag->transfer, static_cast<std::uint32_t>(whole.size()))));
      if (!r || !Sound(*r)) return std::nullopt;
      auto next = simwire::ParseReplyFragment(r->data);
      if (!next || next->transfer != frag->transfer || next->offset != whole.size() ||
          next->length + 29 != r->data.size()) {
        return std::nullopt;
      }
      whole.insert(whole.end(), next->data.begin(), next->data.end());
      ++received;
    }
    if (fragments_received) *fragments_received = received;
    if (whole.size() != frag->total) return std::nullopt;
    return whole;
  }

  bool ack = true;
  bool seq = false;
  std::uint16_t sequence = 0;

 private:
  bool Sound(const simwire::ReplyFrame& r) const {
    return r.checksum_ok && r.status == 0 && (!seq || r.seq == sequence);
  }

  int fd_ = -1;
  Bytes buf_;
  std::size_t pos_ = 0;
  std::uint32_t next_transfer_ = 100;
};

// Symbol-service requests used by the tests.
inline Bytes OpenWorkspaceRequest() { return {4, 0, 0}; }
inline Bytes VersionRequest() { return {7, 0}; }
inline Bytes WorkspaceRequest(std::uint16_t code, const Bytes& ws_ref) {
  Bytes r;
  simwire::PutU16(r, code);
  r.insert(r.end(), ws_ref.begin(), ws_ref.end());
  return r;
}
inline Bytes GetGlobalTagRequest(const Bytes& ws_ref, const std::string& name) {
  Bytes r = WorkspaceRequest(10, ws_ref);
  simwire::PutU16(r, static_cast<std::uint16_t>(name.size() + 1));
  r.insert(r.end(), name.begin(), name.end());
  r.push_back(0);
  return r;
}
inline Bytes TagRequest(std::uint16_t code, const Bytes& ws_ref, const Bytes& tag_ref) {
  Bytes r = WorkspaceRequest(code, ws_ref);
  r.insert(r.end(), tag_ref.begin(), tag_ref.end());
  return r;
}
inline Bytes SetRawRequest(const Bytes& ws_ref, const Bytes& tag_ref, const Bytes& data) {
  Bytes r = TagRequest(45, ws_ref, tag_ref);
  simwire::PutU32(r, 0);
  simwire::PutU32(r, static_cast<std::uint32_t>(data.size()));
  r.insert(r.end(), data.begin(), data.end());
  return r;
}
inline Bytes GetRawRequest(const Bytes& ws_ref, const Bytes& tag_ref, std::uint32_t size) {
  Bytes r = TagRequest(44, ws_ref, tag_ref);
  simwire::PutU32(r, 0);
  simwire::PutU32(r, size);
  return r;
}

// A pattern that differs in every position of a 4096-byte blob.
inline Bytes Pattern(std::size_t n, std::uint8_t seed) {
  Bytes b(n);
  for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 31 + seed + (i >> 8));
  return b;
}

}  // namespace qxsym::test
