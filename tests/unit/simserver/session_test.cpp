// A Session driven with hand-encoded client bytes against a scripted
// backend: negotiation, acknowledgements, sequence numbers, the commands,
// fragmentation both ways, fault injection and garbage.
#include "Session.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include "SimTestWire.h"

namespace qxsym::sim {
namespace {

using namespace test::simwire;

// Memory at 0x1000..0x1FFF and at 0x1'0000'0000 (64-bit commands). Message
// code 50 asks for a reply of the u32 length that follows, filled with a
// counting pattern; any other message is echoed after a status word 0.
class ScriptedBackend : public ControllerBackend {
 public:
  ScriptedBackend() : low_(0x1000), high_(0x100) {
    for (std::size_t i = 0; i < low_.size(); ++i) low_[i] = static_cast<std::uint8_t>(i);
  }
  void HandleMessage(const std::uint8_t* request, std::size_t size, Bytes& reply) override {
    requests.emplace_back(request, request + size);
    reply.assign(request, request + 2);
    if (size >= 6 && request[0] == 50 && request[1] == 0) {
      const std::uint32_t n = request[2] | (request[3] << 8) | (request[4] << 16) |
                              (static_cast<std::uint32_t>(request[5]) << 24);
      reply.push_back(0);
      reply.push_back(0);
      for (std::uint32_t i = 0; i < n; ++i) reply.push_back(static_cast<std::uint8_t>(i * 7));
      return;
    }
    reply.push_back(0);
    reply.push_back(0);
    reply.insert(reply.end(), request + 2, request + size);
  }
  bool ReadMemory(std::uint64_t address, std::size_t n, std::uint8_t* out) override {
    Bytes* area = Area(address, n);
    if (!area) return false;
    std::copy_n(area->begin() + Offset(address), n, out);
    return true;
  }
  bool WriteMemory(std::uint64_t address, std::size_t n, const std::uint8_t* data) override {
    Bytes* area = Area(address, n);
    if (!area) return false;
    std::copy_n(data, n, area->begin() + Offset(address));
    return true;
  }
  std::uint8_t ReadVariable(std::uint16_t index, std::uint8_t type, Bytes& value) override {
    if (index != 3 || type != 4) return kStatusBadParameter;
    value = {0x78, 0x56, 0x34, 0x12};
    return kStatusOk;
  }
  std::uint8_t WriteVariable(std::uint16_t index, std::uint8_t, const std::uint8_t* data,
                             std::size_t size) override {
    if (index != 3) return kStatusBadParameter;
    written.assign(data, data + size);
    return kStatusOk;
  }

  Bytes low_;
  Bytes high_;
  std::vector<Bytes> requests;
  Bytes written;

 private:
  Bytes* Area(std::uint64_t address, std::size_t n) {
    if (address >= 0x1000 && address + n <= 0x2000) return &low_;
    if (address >= 0x100000000ull && address + n <= 0x100000100ull) return &high_;
    return nullptr;
  }
  static std::size_t Offset(std::uint64_t address) {
    return address >= 0x100000000ull ? address - 0x100000000ull : address - 0x1000;
  }
};

class RecordingIo : public SessionIo {
 public:
  void Write(const std::uint8_t* data, std::size_t n) override {
    out.insert(out.end(), data, data + n);
  }
  void Delay(std::uint32_t ms) override {
    delays.push_back(ms);
    out_at_delay.push_back(out.size());
  }
  void Log(const std::string& line) override { log.push_back(line); }

  Bytes out;
  std::size_t read = 0;
  std::vector<std::uint32_t> delays;
  std::vector<std::size_t> out_at_delay;
  std::vector<std::string> log;
};

class SessionTest : public ::testing::Test {
 protected:
  void Start(SessionOptions o = {}) {
    session_ = std::make_unique<Session>(o, backend_, io_, true);
  }
  void Send(const Bytes& raw) { session_->Receive(raw.data(), raw.size()); }
  void SendFrame(const Bytes& payload, std::optional<std::uint16_t> seq = std::nullopt) {
    Send(RequestFrame(payload, seq));
  }
  int NextByte() { return io_.read < io_.out.size() ? io_.out[io_.read++] : -1; }
  void ExpectAck(std::uint8_t ack = '+') {
    ASSERT_LT(io_.read, io_.out.size()) << "no acknowledgement";
    EXPECT_EQ(io_.out[io_.read++], ack);
  }
  ReplyFrame Reply(bool seq_mode) {
    auto f = ReadReply([this] { return NextByte(); }, seq_mode);
    EXPECT_TRUE(f.has_value()) << "no reply frame";
    return f.value_or(ReplyFrame{});
  }
  bool Drained() const { return io_.read == io_.out.size(); }
  // Negotiates acknowledgements and sequence numbers as the client does
  // first; the server answers 0 to both.
  void NegotiateDefault() {
    SendFrame(Text("!NA!"));
    ExpectAck();
    EXPECT_EQ(Reply(false).data, Bytes{0});
    Send({'+'});
    SendFrame(Text("!S!"));
    ExpectAck();
    EXPECT_EQ(Reply(false).data, Bytes{0});
    Send({'+'});
    ASSERT_TRUE(session_->sequence_mode());
  }
  // One command with sequence numbers and acknowledgements on.
  ReplyFrame Command(const Bytes& payload, std::uint16_t seq) {
    SendFrame(payload, seq);
    ExpectAck();
    ReplyFrame f = Reply(true);
    EXPECT_TRUE(f.checksum_ok);
    EXPECT_EQ(f.seq, seq);
    Send({'+'});
    return f;
  }

  ScriptedBackend backend_;
  RecordingIo io_;
  std::unique_ptr<Session> session_;
};

TEST_F(SessionTest, NegotiationOfAControllerWithoutEither) {
  SessionOptions o;
  o.ack = false;
  o.sequence = false;
  Start(o);
  // No acknowledgement: the reply comes at once and says "no".
  SendFrame(Text("!NA!"));
  ReplyFrame f = Reply(false);
  EXPECT_EQ(f.data, Bytes{1});
  // The client retries without expecting an acknowledgement.
  SendFrame(Text("!NA!"));
  EXPECT_EQ(Reply(false).data, Bytes{1});
  SendFrame(Text("!S!"));
  EXPECT_EQ(Reply(false).data, Bytes{1});
  EXPECT_FALSE(session_->sequence_mode());
  // A client probing with a sequence number is refused.
  SendFrame(Text("!S!"), 5);
  f = Reply(false);
  EXPECT_NE(f.status, 0);
  EXPECT_FALSE(session_->sequence_mode());
  // Commands then go without sequence numbers, and stray acknowledgements are ignored.
  Send({'+'});
  SendFrame(ReadMem(0x1000, 2));
  f = Reply(false);
  EXPECT_EQ(f.data, (Bytes{0x00, 0x01}));
  EXPECT_TRUE(Drained());
}

TEST_F(SessionTest, SequenceHandshakeIsRecognisedInTheOtherMode) {
  Start();
  // A client whose plain handshake failed probes again with a sequence number.
  SendFrame(Text("!S!"), 9);
  ExpectAck();
  ReplyFrame f = Reply(true);
  EXPECT_EQ(f.seq, 9);
  EXPECT_EQ(f.data, Bytes{0});
  Send({'+'});
  EXPECT_TRUE(session_->sequence_mode());
  // And a plain one in sequence mode is still a handshake.
  SendFrame(Text("!NA!"));
  ExpectAck();
  f = Reply(false);
  EXPECT_EQ(f.data, Bytes{0});
}

TEST_F(SessionTest, MemoryAndVariableCommands) {
  Start();
  NegotiateDefault();
  EXPECT_EQ(Command(WriteMem(0x1ffe, {0xA1, 0xA2}), 1).status, 0);
  EXPECT_EQ(Command(ReadMem(0x1ffe, 2), 2).data, (Bytes{0xA1, 0xA2}));
  // One byte past the image is refused as a whole.
  EXPECT_NE(Command(ReadMem(0x1fff, 2), 3).status, 0);
  EXPECT_NE(Command(WriteMem(0x1fff, {1, 2}), 4).status, 0);
  EXPECT_EQ(backend_.low_[0xfff], 0xA2);
  EXPECT_EQ(Command(WriteMem64(0x100000010ull, {5, 6}), 5).status, 0);
  EXPECT_EQ(Command(ReadMem64(0x100000010ull, 2), 6).data, (Bytes{5, 6}));
  EXPECT_NE(Command(ReadMem64(0x1010, 0xFFFF), 7).status, 0);
  // The variable read echoes index and wire type before the value.
  ReplyFrame f = Command({'i', 3, 0, 4}, 8);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(f.data, (Bytes{3, 0, 4, 0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(Command({'i', 4, 0, 4}, 9).status, kStatusBadParameter);
  EXPECT_EQ(Command({'I', 3, 0, 2, 0xCD, 0xAB}, 10).status, 0);
  EXPECT_EQ(backend_.written, (Bytes{0xCD, 0xAB}));
  // Malformed and unknown commands get an error status, never a crash.
  for (const Bytes& p : {Bytes{'m', 1, 2}, Bytes{'6', '4'}, Bytes{'6', '4', 'x'}, Bytes{'i'},
                         Bytes{'Q'}, Bytes{'Y'}, Bytes{'Y', 0xE8, 0xFD}, Bytes{}}) {
    EXPECT_NE(Command(p, 11).status, 0);
  }
  EXPECT_TRUE(Drained());
}

TEST_F(SessionTest, FragmentedRequestIsReassembledWithAcknowledgementsNamingTheNextOffset) {
  Start();
  NegotiateDefault();
  Bytes request{60, 0};
  for (int i = 0; i < 2500; ++i) request.push_back(static_cast<std::uint8_t>(i));
  const auto total = static_cast<std::uint32_t>(request.size());
  auto fragment = [&](std::uint32_t offset, std::uint32_t n, bool last) {
    return Y(RequestFragment(77, total, offset, request.data() + offset, n, last));
  };
  ReplyFrame f = Command(fragment(0, 997, false), 1);
  ASSERT_EQ(f.data.size(), 20u);
  EXPECT_EQ(GetU16(f.data, 0), kFragmentAck);
  EXPECT_EQ(GetU32(f.data, 12), 77u);
  EXPECT_EQ(GetU32(f.data, 16), 997u);
  // A repeat of the first fragment is not appended twice.
  f = Command(fragment(0, 997, false), 1);
  EXPECT_EQ(GetU32(f.data, 16), 997u);
  // A gap is answered with the offset that is missing.
  f = Command(fragment(1994, total - 1994, true), 1);
  EXPECT_EQ(GetU32(f.data, 16), 997u);
  f = Command(fragment(997, 997, false), 1);
  EXPECT_EQ(GetU32(f.data, 16), 1994u);
  // The last fragment brings the service's reply.
  f = Command(fragment(1994, total - 1994, true), 1);
  EXPECT_EQ(f.status, 0);
  ASSERT_EQ(backend_.requests.size(), 1u);
  EXPECT_EQ(backend_.requests[0], request);
  // The echo is longer than one frame and starts as a reply fragment.
  auto first = ParseReplyFragment(f.data);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->total, request.size() + 2);
}

TEST_F(SessionTest, FragmentedRequestRefusals) {
  SessionOptions o;
  o.max_request = 4096;
  Start(o);
  NegotiateDefault();
  const Bytes data(997, 1);
  // An announced total beyond the limit is refused before anything is kept.
  EXPECT_EQ(Command(Y(RequestFragment(1, 1u << 31, 0, data.data(), 997, false)), 1).status,
            kStatusTooLarge);
  // An unknown transfer that does not start at 0 is asked to start over.
  ReplyFrame f = Command(Y(RequestFragment(2, 3000, 997, data.data(), 997, false)), 2);
  EXPECT_EQ(f.status, 0);
  EXPECT_EQ(GetU32(f.data, 16), 0u);
  // A length field that disagrees with the message.
  Bytes m = RequestFragment(3, 3000, 0, data.data(), 997, false);
  m.pop_back();
  EXPECT_EQ(Command(Y(m), 3).status, kStatusFragment);
  // Data beyond the announced total, and a last flag before the end.
  EXPECT_EQ(Command(Y(RequestFragment(4, 500, 0, data.data(), 501, true)), 4).status,
            kStatusFragment);
  EXPECT_EQ(Command(Y(RequestFragment(5, 2000, 0, data.data(), 997, true)), 5).status,
            kStatusFragment);
  // All data but no last flag.
  EXPECT_EQ(Command(Y(RequestFragment(6, 997, 0, data.data(), 997, false)), 6).status,
            kStatusFragment);
  EXPECT_TRUE(backend_.requests.empty());
}

TEST_F(SessionTest, LongReplyGoesInFragmentsThatWaitForTheClient) {
  SessionOptions o;
  o.reply_fragment_size = 100;  // 71 data bytes per fragment
  Start(o);
  NegotiateDefault();
  Bytes ask{50, 0};
  PutU32(ask, 200);  // reply: code, status and 200 bytes
  ReplyFrame f = Command(Y(ask), 1);
  auto frag = ParseReplyFragment(f.data);
  ASSERT_TRUE(frag);
  EXPECT_EQ(frag->total, 204u);
  EXPECT_EQ(frag->offset, 0u);
  EXPECT_EQ(frag->length, 71u);
  EXPECT_EQ(f.data.size(), 100u);
  EXPECT_FALSE(frag->last);
  const std::uint32_t transfer = frag->transfer;
  Bytes whole = frag->data;
  // Nothing more comes until the client acknowledges.
  EXPECT_TRUE(Drained());
  // A wrong transfer id is refused and does not disturb the transfer.
  EXPECT_EQ(Command(Y(ReplyFragmentAck(transfer + 1, 71)), 1).status, kStatusFragment);
  while (!frag->last) {
    f = Command(Y(ReplyFragmentAck(transfer, static_cast<std::uint32_t>(whole.size()))), 1);
    frag = ParseReplyFragment(f.data);
    ASSERT_TRUE(frag);
    EXPECT_EQ(frag->transfer, transfer);
    EXPECT_EQ(frag->offset, whole.size());
    EXPECT_EQ(frag->length, f.data.size() - 29);
    whole.insert(whole.end(), frag->data.begin(), frag->data.end());
  }
  ASSERT_EQ(whole.size(), 204u);
  EXPECT_EQ(GetU16(whole, 0), 50);
  EXPECT_EQ(whole[203], static_cast<std::uint8_t>(199 * 7));
  // The transfer is over; the next long reply uses a new transfer id.
  EXPECT_EQ(Command(Y(ReplyFragmentAck(transfer, 0)), 2).status, kStatusFragment);
  f = Command(Y(ask), 3);
  EXPECT_NE(ParseReplyFragment(f.data)->transfer, transfer);
  // A reply that fits one frame goes as it is.
  Bytes small{50, 0};
  PutU32(small, 96);
  EXPECT_EQ(Command(Y(small), 4).data.size(), 100u);
}

TEST_F(SessionTest, FaultDelayAndClose) {
  SessionOptions o;
  o.delay_ms = 250;
  o.close_after = 2;
  Start(o);
  NegotiateDefault();
  EXPECT_TRUE(io_.delays.empty());  // handshakes are answered at once
  Command(ReadMem(0x1000, 1), 1);
  ASSERT_EQ(io_.delays, std::vector<std::uint32_t>{250});
  // The acknowledgement goes out before the wait, the reply after it.
  EXPECT_EQ(io_.out[io_.out_at_delay[0] - 1], '+');
  SendFrame(ReadMem(0x1000, 1), 2);
  EXPECT_TRUE(session_->closed());
  EXPECT_TRUE(Drained());  // the second command frame is left unanswered
}

TEST_F(SessionTest, GarbageClosesTheSessionWithoutGrowingMemory) {
  SessionOptions o;
  o.max_noise = 4096;
  o.max_bad_frames = 8;
  Start(o);
  std::mt19937 rng(7);
  Bytes noise(1 << 20);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  Send(noise);
  EXPECT_TRUE(session_->closed());

  // Bytes without any start byte count as noise.
  Start(o);
  Send(Bytes(5000, 0x41));
  EXPECT_TRUE(session_->closed());
  // A sound frame in between keeps the session alive.
  Start(o);
  for (int i = 0; i < 20; ++i) {
    Send(RequestFrame(Text("!S!"), std::nullopt, 1));
    Send(RequestFrame(Text("!NA!")));
  }
  EXPECT_FALSE(session_->closed());
}

}  // namespace
}  // namespace qxsym::sim
