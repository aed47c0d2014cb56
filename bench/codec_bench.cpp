// qxsym-bench-codec: the frame codec and the channel on an in-memory port,
// without sockets, so the numbers are the library's own CPU cost.
//
//   Encode/<payload>     SendFrame: stuffing, checksum, hand-over to the port
//   Decode/<payload>     ReceiveFrame: unstuffing, checksum, copy out
//   Transact/<sizes>     one whole symbol-service exchange through
//                        CGDBCommunication against an in-process peer, with
//                        the heap allocations the client makes per exchange
//
// Payloads: 24 bytes, 1 KiB of ordinary bytes, and 1 KiB made only of bytes
// that need stuffing (every one travels as two). Acknowledgements and
// sequence numbers are on, as a controller that offers them negotiates.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "AllocCounter.h"
#include "BenchWire.h"
#include "CGDBCommunication.h"
#include "CGDBFrameCodec.h"
#include "CMemoryComPort.h"

namespace {

using qxsym::CGDBCommunication;
using qxsym::CGDBFrameCodec;
using qxsym::CMemoryComPort;
using qxsym::bench::AllocCountPause;
using qxsym::bench::AppendReply;
using qxsym::bench::CurrentAllocStats;
using qxsym::bench::TakeRequest;

enum class Payload { kSmall, kPlain1K, kStuffed1K };

std::vector<std::uint8_t> MakePayload(Payload kind) {
  switch (kind) {
    case Payload::kSmall: {
      std::vector<std::uint8_t> p(24);
      for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(0x20 + i);
      return p;
    }
    case Payload::kPlain1K: {
      // Every value except the four control bytes, in turn.
      std::vector<std::uint8_t> p;
      for (unsigned v = 0; p.size() < 1024; v = (v + 1) & 0xFF) {
        if (!qxsym::test::IsControlByte(static_cast<std::uint8_t>(v))) {
          p.push_back(static_cast<std::uint8_t>(v));
        }
      }
      return p;
    }
    case Payload::kStuffed1K: {
      static constexpr std::uint8_t kControl[] = {0x10, 0x11, 0x13, 0x1B};
      std::vector<std::uint8_t> p(1024);
      for (std::size_t i = 0; i < p.size(); ++i) p[i] = kControl[i % 4];
      return p;
    }
  }
  return {};
}

// A connected in-memory port that keeps nothing of what is sent.
std::shared_ptr<CMemoryComPort> QuietPort() {
  auto port = std::make_shared<CMemoryComPort>();
  port->Open(nullptr);
  port->set_record_sent(false);
  return port;
}

void BM_Encode(benchmark::State& state, Payload kind) {
  const std::vector<std::uint8_t> payload = MakePayload(kind);
  auto port = QuietPort();
  CGDBFrameCodec codec;
  codec.set_port(port.get());
  codec.set_sequence_mode(true);
  const std::uint8_t ack = '+';
  for (auto _ : state) {
    port->Feed(&ack, 1);  // the peer's acknowledgement of the frame
    codec.NextSequence();
    if (!codec.SendFrame(payload.data(), static_cast<std::uint16_t>(payload.size()), nullptr, 0)) {
      state.SkipWithError("SendFrame failed");
      break;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}

void BM_Decode(benchmark::State& state, Payload kind) {
  const std::vector<std::uint8_t> payload = MakePayload(kind);
  auto port = QuietPort();
  CGDBFrameCodec codec;
  codec.set_port(port.get());
  codec.set_sequence_mode(true);
  std::vector<std::uint8_t> frame;
  AppendReply(frame, 0, codec.sequence(), payload.data(), payload.size());
  std::vector<std::uint8_t> out(payload.size());
  for (auto _ : state) {
    port->Feed(frame.data(), frame.size());
    const int n = codec.ReceiveFrame(out.data(), static_cast<std::uint16_t>(out.size()));
    if (n != static_cast<int>(payload.size())) {
      state.SkipWithError("ReceiveFrame failed");
      break;
    }
  }
  benchmark::DoNotOptimize(out.data());
  if (std::memcmp(out.data(), payload.data(), payload.size()) != 0) {
    state.SkipWithError("decoded bytes differ");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * payload.size()));
}

// The controller's half on the in-memory port: acknowledges every frame,
// answers both handshakes with 0 (acknowledgements and sequence numbers on),
// and answers each "Y" message with its code, status 0 and reply_data bytes.
class MemoryPeer {
 public:
  MemoryPeer(CMemoryComPort& port, std::size_t reply_data) : port_(port) {
    reply_.resize(4 + reply_data);
    for (std::size_t i = 4; i < reply_.size(); ++i) reply_[i] = static_cast<std::uint8_t>(i * 7);
    port_.SetPeer([this](const std::uint8_t* data, std::size_t n) { OnBytes(data, n); });
  }

 private:
  void OnBytes(const std::uint8_t* data, std::size_t n) {
    AllocCountPause pause;  // the peer's work is not the client's
    std::size_t used = 0;
    auto body = TakeRequest(data, n, &used);
    if (!body) return;  // a lone acknowledgement
    std::optional<std::uint16_t> sequence;
    const std::uint8_t* p = body->data();
    std::size_t len = body->size();
    if (sequence_mode_ && len >= 2) {
      sequence = static_cast<std::uint16_t>(p[0] | (p[1] << 8));
      p += 2;
      len -= 2;
    }
    out_.clear();
    out_.push_back('+');
    if (len == 4 && std::memcmp(p, "!NA!", 4) == 0) {
      const std::uint8_t zero = 0;
      AppendReply(out_, 0, sequence, &zero, 1);
    } else if (len == 3 && std::memcmp(p, "!S!", 3) == 0) {
      const std::uint8_t zero = 0;
      AppendReply(out_, 0, sequence, &zero, 1);
      sequence_mode_ = true;
    } else if (len >= 3 && p[0] == 'Y') {
      reply_[0] = p[1];  // the request's code
      reply_[1] = p[2];
      AppendReply(out_, 0, sequence, reply_.data(), reply_.size());
    } else {
      AppendReply(out_, 1, sequence, nullptr, 0);
    }
    port_.Feed(out_.data(), out_.size());
  }

  CMemoryComPort& port_;
  bool sequence_mode_ = false;
  std::vector<std::uint8_t> reply_;
  std::vector<std::uint8_t> out_;
};

void BM_Transact(benchmark::State& state, std::size_t request_size, std::size_t reply_data) {
  auto port = QuietPort();
  MemoryPeer peer(*port, reply_data);
  CGDBCommunication channel;
  if (!channel.OpenOnPort(port, 0) || !channel.ack_mode() || !channel.sequence_mode()) {
    state.SkipWithError("channel did not open with both modes");
    return;
  }
  std::vector<std::uint8_t> request(request_size, 0x42);
  request[0] = 40;  // a value read
  request[1] = 0;
  std::vector<std::uint8_t> reply(4 + reply_data);
  // Warm up: buffers that grow to their working size on first use.
  for (int i = 0; i < 4; ++i) {
    std::uint32_t size = static_cast<std::uint32_t>(reply.size());
    channel.Transact(request.data(), static_cast<std::uint32_t>(request.size()), reply.data(),
                     &size);
  }
  const std::uint64_t before = CurrentAllocStats().allocations;
  for (auto _ : state) {
    std::uint32_t size = static_cast<std::uint32_t>(reply.size());
    if (channel.Transact(request.data(), static_cast<std::uint32_t>(request.size()), reply.data(),
                         &size) != symResOk ||
        size != reply.size()) {
      state.SkipWithError("Transact failed");
      break;
    }
  }
  const std::uint64_t allocations = CurrentAllocStats().allocations - before;
  state.counters["allocs_per_exchange"] =
      static_cast<double>(allocations) /
      static_cast<double>(std::max<std::int64_t>(1, state.iterations()));
  state.counters["request_bytes"] = static_cast<double>(request_size);
  state.counters["reply_bytes"] = static_cast<double>(reply.size());
  state.SetItemsProcessed(state.iterations());
}

}  // namespace

int main(int argc, char** argv) {
  struct Kind {
    const char* name;
    Payload payload;
  };
  static const Kind kKinds[] = {
      {"24B", Payload::kSmall}, {"1KiB", Payload::kPlain1K}, {"1KiB_stuffed", Payload::kStuffed1K}};
  for (const Kind& k : kKinds) {
    benchmark::RegisterBenchmark((std::string("Encode/") + k.name).c_str(), BM_Encode, k.payload);
  }
  for (const Kind& k : kKinds) {
    benchmark::RegisterBenchmark((std::string("Decode/") + k.name).c_str(), BM_Decode, k.payload);
  }
  // A value read (18-byte request, 10-byte reply) and the largest message
  // that still goes in one frame each way.
  benchmark::RegisterBenchmark("Transact/value_read", BM_Transact, 18, 6);
  benchmark::RegisterBenchmark("Transact/1KiB_each_way", BM_Transact, 1024, 1020);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
