// Symbol-service exchanges with a controller whose answers the fuzzer
// shapes: every request frame the channel sends is answered with a frame
// built from a few control bytes of the input (acknowledgement byte, status,
// stale sequence number, spoiled checksum) around a message that is raw
// bytes, a fragment acknowledgement, a reply fragment or a plain reply.
// Framing and checksums are right unless the input asks otherwise, so the
// fuzzer spends its time in the fragmentation and reassembly logic: offsets,
// transfer ids, totals and length fields. Every Transact must end with one
// of its documented results, with the reply within the caller's capacity and
// the port unlocked.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CGDBCommunication.h"
#include "CMemoryComPort.h"
#include "FuzzPeer.h"

using qxsym::CGDBCommunication;
using qxsym::CMemoryComPort;
using qxsym::fuzz::Bytes;

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

std::uint32_t Le32At(const Bytes& b, std::size_t at) {
  if (b.size() < at + 4) return 0;
  return static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
                                    (static_cast<std::uint32_t>(b[at + 3]) << 24));
}

void Put16(Bytes* b, std::uint16_t v) {
  b->push_back(static_cast<std::uint8_t>(v));
  b->push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes* b, std::uint32_t v) {
  Put16(b, static_cast<std::uint16_t>(v));
  Put16(b, static_cast<std::uint16_t>(v >> 16));
}

class Controller {
 public:
  Controller(FuzzedDataProvider& in, bool ack, bool seq) : in_(in), ack_(ack), seq_(seq) {}

  // The answer to one request frame (its payload without the sequence).
  Bytes Answer(const qxsym::fuzz::SeenRequest& r) {
    const std::vector<std::uint8_t> head = in_.ConsumeBytes<std::uint8_t>(6);
    if (head.size() < 6) return {};  // input used up: the controller falls silent
    const std::uint8_t c = head[0], s = head[1];
    const std::uint32_t a = Le32At(head, 2);
    const std::string text = in_.ConsumeRandomLengthString(2048);
    const Bytes body(text.begin(), text.end());

    // The message the request frame carried, after its "Y".
    Bytes request;
    if (!r.payload.empty() && r.payload[0] == 'Y')
      request.assign(r.payload.begin() + 1, r.payload.end());
    const bool is_fragment = request.size() >= 27 && request[0] == 0xEA && request[1] == 0xFD;
    if (!is_fragment && request.size() >= 2 && !(request[0] == 0xE9 && request[1] == 0xFD)) {
      code_ = static_cast<std::uint16_t>(request[0] | (request[1] << 8));
    }
    if (is_fragment && request.size() >= 29) {
      code_ = static_cast<std::uint16_t>(request[27] | (request[28] << 8));
    }

    Bytes message;
    switch ((c >> 5) & 3) {
      case 0:
        if (c & 0x80) return body;  // bytes outside any frame
        message = body;
        break;
      case 1: {  // fragment acknowledgement
        Put16(&message, 0xFDEB);
        message.resize(12, 0);
        const std::uint32_t transfer = is_fragment ? Le32At(request, 10) : a;
        const std::uint32_t next =
            (c & 0x80) && is_fragment ? Le32At(request, 18) + Le32At(request, 22) : a;
        Put32(&message, transfer ^ (s & 0x80 ? s : 0));
        Put32(&message, next);
        message.insert(message.end(), body.begin(), body.begin() + (body.size() % 8));
        break;
      }
      case 2: {  // reply fragment
        Put16(&message, 0xFDE8);
        message.resize(12, 0);
        Put32(&message, s & 3);
        Put32(&message, a % 100000);
        Put32(&message, 0);
        const auto length = static_cast<std::uint32_t>(body.size());
        Put32(&message, (c & 0x80) ? length + (s >> 2) : length);
        message.push_back(0);
        message.insert(message.end(), body.begin(), body.end());
        break;
      }
      default:  // a plain reply to the request's code
        Put16(&message, (c & 0x80) ? static_cast<std::uint16_t>(a) : code_);
        Put16(&message, static_cast<std::uint16_t>(s >> 4));
        message.insert(message.end(), body.begin(), body.end());
        break;
    }
    std::optional<std::uint16_t> sequence;
    if (seq_) sequence = static_cast<std::uint16_t>(r.sequence - ((c & 0x08) ? 1 : 0));
    const std::uint8_t status = (c & 0x10) ? s : 0;
    Bytes out;
    if (ack_) {
      switch (c & 3) {
        case 2:
          out.push_back('-');
          break;
        case 3:
          break;
        default:
          out.push_back('+');
      }
    }
    const Bytes frame = qxsym::test::ReplyFrame(status, message, sequence, (c & 0x04) != 0);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
  }

 private:
  FuzzedDataProvider& in_;
  bool ack_;
  bool seq_;
  std::uint16_t code_ = 0;
};

const std::set<int> kTransact = {symResOk,
                                 symResProtocolError,
                                 symResSocketError,
                                 symResTimeoutError,
                                 symResSegmentationError,
                                 symResNotOk,
                                 symResInvalidParameter,
                                 symResConnectionLost};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool ack = (data[0] & 1) != 0;
  const bool seq = (data[0] & 2) != 0;
  FuzzedDataProvider in(data + 1, size - 1);
  Controller controller(in, ack, seq);

  auto port = std::make_shared<CMemoryComPort>();
  port->set_record_sent(false);
  Require(port->Open(nullptr));
  int handshakes = 0;
  bool negotiated = false;
  port->SetPeer([&](const std::uint8_t* bytes, std::size_t n) {
    const auto r = qxsym::fuzz::ReadRequest(bytes, n, negotiated && seq);
    if (!r.valid) return;
    if (!negotiated) {
      if (qxsym::fuzz::IsHandshake(r) && handshakes < 2) {
        port->Feed(qxsym::fuzz::HandshakeAnswer(handshakes++, ack, seq));
      }
      return;
    }
    port->Feed(controller.Answer(r));
  });

  CGDBCommunication channel;
  Require(channel.OpenOnPort(port, 50));
  negotiated = true;

  for (int ops = 0; ops < 16 && in.remaining_bytes() > 0; ++ops) {
    const std::uint32_t n = in.ConsumeIntegralInRange<std::uint32_t>(0, 5000);
    const std::uint32_t capacity = in.ConsumeIntegralInRange<std::uint32_t>(0, 70000);
    const std::uint16_t code = in.ConsumeIntegral<std::uint16_t>();
    std::vector<std::uint8_t> request(n == 0 ? 1 : n, 0x5A);
    if (n >= 2) {
      request[0] = static_cast<std::uint8_t>(code);
      request[1] = static_cast<std::uint8_t>(code >> 8);
    }
    auto response = std::make_unique<std::uint8_t[]>(capacity);
    std::uint32_t got = capacity;
    const QXSymResult result = channel.Transact(request.data(), n, response.get(), &got);
    Require(kTransact.count(result) == 1);
    Require(got <= capacity);
    Require(port->lock_depth() == 0);
  }
  channel.Close();
  return 0;
}
