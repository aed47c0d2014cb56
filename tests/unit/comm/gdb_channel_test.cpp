// The channel against a scripted fake controller on 127.0.0.1: handshakes,
// repetitions, stale replies, status mapping, time-outs versus lost
// connections, memory and variable commands, and symbol-service messages in
// one frame or in fragments.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

#include "CGDBCommunication.h"
#include "CTCPComPort.h"
#include "GdbTestWire.h"

namespace qxsym {
namespace {

using test::Bytes;
using test::Cat;
using test::FakeConnection;
using test::GdbPeer;
using test::Le16;
using test::Le32;
using test::Le64;
using test::ReplyFrame;
using test::Request;
using test::Text;

const Bytes kHandshakeAck = {0x10, 0x04, 0x00, 0x21, 0x4E, 0x41, 0x21, 0xD5};
const Bytes kHandshakeSeq = {0x10, 0x03, 0x00, 0x21, 0x53, 0x21, 0x98};
const Bytes kZeroReply = {0x02, 0x00, 0x00, 0x00, 0x02};
const Bytes kOneReply = {0x02, 0x00, 0x00, 0x01, 0x03};

Bytes Pattern(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>((seed + i * 7) >> 1);
  return out;
}

// A symbol-service request: code, then filler.
Bytes Message(std::uint16_t code, std::size_t size) {
  Bytes out = Pattern(size, code);
  out[0] = static_cast<std::uint8_t>(code);
  out[1] = static_cast<std::uint8_t>(code >> 8);
  return out;
}

Bytes FragmentAck(std::uint32_t transfer, std::uint32_t offset, std::size_t size = 20) {
  Bytes out = Cat({Le16(0xFDEB), Bytes(10, 0), Le32(transfer), Le32(offset)});
  out.resize(size);
  return out;
}

Bytes ReplyFragment(std::uint32_t transfer, std::uint32_t total, const Bytes& data,
                    int length_adjust = 0) {
  return Cat({Le16(0xFDE8), Bytes(10, 0), Le32(transfer), Le32(total), Bytes(4, 0),
              Le32(static_cast<std::uint32_t>(static_cast<int>(data.size()) + length_adjust)),
              Bytes{0}, data});
}

// Requests seen by the controller thread, read back by the test.
class RequestLog {
 public:
  void Add(const Request& r) {
    std::lock_guard<std::mutex> guard(mutex_);
    requests_.push_back(r);
  }
  std::vector<Request> Get() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
};

class ChannelTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (channel_) {
      EXPECT_FALSE(channel_->busy()) << "an exchange still holds the connection";
    }
    if (channel_) channel_->Close();
    channel_.reset();
    fake_.Stop();
    for (const auto& m : fake_.mismatches()) ADD_FAILURE() << m;
  }

  // Every connection: handshake in the given modes, then body.
  void Serve(std::function<void(GdbPeer&)> body, bool ack = true, bool seq = true) {
    fake_.SetHandler([body, ack, seq](FakeConnection& c) {
      GdbPeer peer(c, ack, seq);
      if (!peer.Handshake()) return;
      body(peer);
      c.DrainUntilClosed();
    });
    ASSERT_TRUE(fake_.Start());
  }

  void Connect(std::uint16_t timeout_ms = 2000) {
    const QXSymServerAddress address = fake_.Address(timeout_ms);
    channel_ = std::make_unique<CGDBCommunication>();
    ASSERT_TRUE(channel_->Open(&address));
  }

  // Serves `count` requests, logging each and answering with reply(request).
  void ServeRequests(int count, std::function<Bytes(const Request&)> reply,
                     std::uint8_t status = 0) {
    Serve([this, count, reply, status](GdbPeer& peer) {
      for (int i = 0; i < count; ++i) {
        Request r;
        if (!peer.Read(&r)) return;
        log_.Add(r);
        peer.Reply(reply(r), status);
      }
    });
  }

  QXSymResult Transact(const Bytes& request, Bytes* response, std::uint32_t capacity = 8192) {
    response->assign(capacity + 32u, 0xEE);
    std::uint32_t size = capacity;
    const QXSymResult r = channel_->Transact(
        request.data(), static_cast<std::uint32_t>(request.size()), response->data(), &size);
    for (std::size_t i = capacity; i < response->size(); ++i) {
      EXPECT_EQ((*response)[i], 0xEE) << "written past the capacity at " << i;
    }
    EXPECT_LE(size, capacity);
    response->resize(std::min(size, capacity));
    return r;
  }

  test::FakeController fake_;
  std::unique_ptr<CGDBCommunication> channel_;
  RequestLog log_;
};

// ---- Handshakes ---------------------------------------------------------------

TEST_F(ChannelTest, ZeroAnswersTurnBothModesOn) {
  fake_.Expect(kHandshakeAck, Cat({Bytes{'+'}, kZeroReply}));
  fake_.Expect(Cat({Bytes{'+'}, kHandshakeSeq}), Cat({Bytes{'+'}, kZeroReply}));
  ASSERT_TRUE(fake_.Start());
  Connect();
  EXPECT_TRUE(channel_->ack_mode());
  EXPECT_TRUE(channel_->sequence_mode());
  EXPECT_EQ(channel_->sequence(), 0);
  EXPECT_TRUE(channel_->connected());
  // The client acknowledges the second reply too.
  ASSERT_TRUE(fake_.WaitForReceived(kHandshakeAck.size() + kHandshakeSeq.size() + 2));
  EXPECT_EQ(fake_.received().back(), '+');
}

TEST_F(ChannelTest, NonZeroAnswersTurnBothModesOff) {
  fake_.Expect(kHandshakeAck, Cat({Bytes{'+'}, kOneReply}));
  fake_.Expect(Cat({Bytes{'+'}, kHandshakeSeq}), kOneReply);
  ASSERT_TRUE(fake_.Start());
  Connect();
  EXPECT_FALSE(channel_->ack_mode());
  EXPECT_FALSE(channel_->sequence_mode());
}

TEST_F(ChannelTest, UnansweredHandshakeIsTriedInTheOtherMode) {
  // A controller without acknowledgements answers at once: its reply's first
  // byte is not "+", so the client asks again expecting no acknowledgement.
  fake_.Expect(kHandshakeAck, kZeroReply);
  fake_.Expect(kHandshakeAck, kZeroReply);
  // No answer to "!S!" without sequence number; one with sequence number 0.
  fake_.Expect(kHandshakeSeq, {});
  fake_.Expect({0x10, 0x05, 0x00, 0x00, 0x00, 0x21, 0x53, 0x21, 0x9A},
               {0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04});
  ASSERT_TRUE(fake_.Start());
  Connect(200);
  EXPECT_FALSE(channel_->ack_mode());
  EXPECT_TRUE(channel_->sequence_mode());
}

TEST_F(ChannelTest, SilentControllerLeavesTheDefaultsAndOpenSucceeds) {
  fake_.ExpectThenSilence(kHandshakeAck);
  ASSERT_TRUE(fake_.Start());
  Connect(50);
  EXPECT_TRUE(channel_->ack_mode());
  EXPECT_FALSE(channel_->sequence_mode());
  EXPECT_TRUE(channel_->connected());
}

// ---- Acknowledgements, repetitions, stale replies ---------------------------

TEST_F(ChannelTest, NegativeAcknowledgementRepeatsTheFrameOnce) {
  Serve([this](GdbPeer& peer) {
    FakeConnection& c = peer.connection();
    Request first, second;
    if (!test::ReadRequestFrame(c, true, &first)) return;
    c.Write(Bytes{'-'});
    if (!test::ReadRequestFrame(c, true, &second)) return;
    log_.Add(first);
    log_.Add(second);
    c.Write(Bytes{'+'});
    c.Write(ReplyFrame(0, Message(3, 6), second.sequence));
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(3, 12), &response), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].payload, requests[1].payload);
  EXPECT_EQ(requests[0].sequence, requests[1].sequence);
}

TEST_F(ChannelTest, SecondNegativeAcknowledgementFailsTheSend) {
  Serve([](GdbPeer& peer) {
    FakeConnection& c = peer.connection();
    Request r;
    for (int i = 0; i < 2; ++i) {
      if (!test::ReadRequestFrame(c, true, &r)) return;
      c.Write(Bytes{'-'});
    }
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(3, 12), &response), symResSocketError);
  EXPECT_EQ(channel_->last_error(), 14);
}

TEST_F(ChannelTest, StaleReplyIsSkippedWithoutUsingTheRepetition) {
  std::promise<Bytes> acks_promise;
  auto acks = acks_promise.get_future();
  Serve([&acks_promise](GdbPeer& peer) {
    Request r;
    if (!peer.Read(&r)) return;
    const Bytes reply = Message(5, 8);
    peer.connection().Write(
        Cat({ReplyFrame(0, Message(4, 8), r.sequence - 1), ReplyFrame(0, reply, r.sequence, true),
             ReplyFrame(0, reply, r.sequence)}));
    Bytes got;
    peer.connection().Read(3, &got);
    acks_promise.set_value(got);
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResOk);
  EXPECT_EQ(response, Message(5, 8));
  ASSERT_EQ(acks.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(acks.get(), (Bytes{'+', '-', '+'}));
}

TEST_F(ChannelTest, BadChecksumTwiceIsInternalError14) {
  Serve([](GdbPeer& peer) {
    Request r;
    if (!peer.Read(&r)) return;
    peer.connection().Write(Cat({ReplyFrame(0, Message(5, 8), r.sequence, true),
                                 ReplyFrame(0, Message(5, 8), r.sequence, true)}));
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResTimeoutError);
  EXPECT_EQ(channel_->last_error(), 14);
}

// ---- Results ----------------------------------------------------------------------

TEST_F(ChannelTest, ReplyStatusMapsToEachOperationsResult) {
  const std::vector<std::uint8_t> statuses = {15, 11, 6, 6, 3, 3, 6};
  Serve([statuses](GdbPeer& peer) {
    for (std::uint8_t status : statuses) {
      Request r;
      if (!peer.Read(&r)) return;
      peer.Reply({1, 2, 3, 4}, status);
    }
  });
  Connect();
  std::uint8_t buffer[16] = {};
  EXPECT_EQ(channel_->ReadMemory(0x100, 4, buffer), symResMemReadError);
  EXPECT_EQ(channel_->last_error(), 12);
  EXPECT_EQ(channel_->ReadMemory(0x100, 4, buffer), symResMemReadError);
  EXPECT_EQ(channel_->last_error(), 13);
  EXPECT_EQ(channel_->ReadVariable(1, 0, buffer, 16, 0), symResInvalidParameter);
  EXPECT_EQ(channel_->WriteVariable(1, 0, buffer, 4, 0), symResInvalidParameter);
  // An error status whose data overflows the 1-byte capacity becomes 11.
  EXPECT_EQ(channel_->WriteMemory(0x100, 4, buffer), symResMemWriteError);
  EXPECT_EQ(channel_->last_error(), 11);
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResTimeoutError);
  EXPECT_EQ(channel_->last_error(), 3);
  // Internal error 6 on a memory command is a plain read error.
  EXPECT_EQ(channel_->ReadMemory(0x100, 4, buffer), symResMemReadError);
}

TEST_F(ChannelTest, SilentPeerIsATimeout) {
  Serve([](GdbPeer& peer) {
    Request r;
    while (peer.Read(&r)) continue;  // acknowledged, never answered
  });
  Connect(100);
  std::uint8_t buffer[4];
  EXPECT_EQ(channel_->ReadMemory(0x100, 4, buffer), symResTimeoutError);
  EXPECT_TRUE(channel_->connected());
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResTimeoutError);
  EXPECT_EQ(channel_->last_error(), 15);
}

TEST_F(ChannelTest, ClosedPeerIsALostConnection) {
  Serve([](GdbPeer& peer) {
    Request r;
    if (peer.Read(&r)) peer.connection().Close();
  });
  Connect(2000);
  std::uint8_t buffer[4];
  EXPECT_EQ(channel_->ReadMemory(0x100, 4, buffer), symResConnectionLost);
  EXPECT_EQ(channel_->last_error(), 19);
  // The loss is remembered: later frames are refused at once.
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResSocketError);
  EXPECT_EQ(channel_->WriteMemory(0x100, 4, buffer), symResConnectionLost);
}

TEST_F(ChannelTest, LossNoticedWhileReceivingTheReplyIsATimeout) {
  Serve([](GdbPeer& peer) {
    Request r;
    if (peer.Read(&r)) peer.connection().Close();
  });
  Connect(2000);
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResTimeoutError);
  EXPECT_EQ(channel_->last_error(), 19);
  EXPECT_EQ(Transact(Message(5, 10), &response), symResSocketError);
}

TEST_F(ChannelTest, ReplyWithAnotherCommandCodeIsAProtocolError) {
  ServeRequests(2, [](const Request& r) {
    // The first reply answers another command; the second is one byte long.
    return r.sequence == 1 ? Message(6, 8) : Bytes{6};
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(5, 10), &response), symResProtocolError);
  EXPECT_EQ(response, Message(6, 8));
  EXPECT_EQ(Transact(Message(5, 10), &response), symResNotOk);
}

// ---- Memory and variables -----------------------------------------------------------

TEST_F(ChannelTest, MemoryReadsGoInChunksOf1024) {
  ServeRequests(3, [](const Request& r) {
    const std::uint32_t address = test::GetLe32(r.payload, 1);
    return Pattern(test::GetLe16(r.payload, 5), address);
  });
  Connect();
  Bytes buffer(2500);
  ASSERT_EQ(channel_->ReadMemory(0x1000, 2500, buffer.data()), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].payload, Cat({Text("m"), Le32(0x1000), Le16(1024)}));
  EXPECT_EQ(requests[1].payload, Cat({Text("m"), Le32(0x1400), Le16(1024)}));
  EXPECT_EQ(requests[2].payload, Cat({Text("m"), Le32(0x1800), Le16(452)}));
  // Each chunk is a command of its own.
  EXPECT_EQ(requests[0].sequence + 1, requests[1].sequence);
  EXPECT_EQ(requests[1].sequence + 1, requests[2].sequence);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 1024), Pattern(1024, 0x1000));
  EXPECT_EQ(Bytes(buffer.begin() + 2048, buffer.end()), Pattern(452, 0x1800));
}

TEST_F(ChannelTest, MemoryWritesCarryTheDataAsSecondPart) {
  ServeRequests(3, [](const Request&) { return Bytes{}; });
  Connect();
  const Bytes data = Pattern(2500, 99);
  ASSERT_EQ(channel_->WriteMemory(0x2000, 2500, data.data()), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].payload,
            Cat({Text("M"), Le32(0x2000), Bytes(data.begin(), data.begin() + 1024)}));
  EXPECT_EQ(requests[2].payload,
            Cat({Text("M"), Le32(0x2800), Bytes(data.begin() + 2048, data.end())}));
}

TEST_F(ChannelTest, WideAddressesCarryIntoTheHighHalf) {
  ServeRequests(4, [](const Request& r) {
    return r.payload[2] == 'm' ? Pattern(test::GetLe16(r.payload, 11), 1) : Bytes{};
  });
  Connect();
  Bytes buffer(2048);
  ASSERT_EQ(channel_->ReadMemory64(0xFFFFFC00ull, 2048, buffer.data()), symResOk);
  ASSERT_EQ(channel_->WriteMemory64(0x1FFFFFC00ull, 1025, buffer.data()), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[0].payload, Cat({Text("64m"), Le64(0xFFFFFC00ull), Le16(1024)}));
  EXPECT_EQ(requests[1].payload, Cat({Text("64m"), Le64(0x100000000ull), Le16(1024)}));
  EXPECT_EQ(Bytes(requests[2].payload.begin(), requests[2].payload.begin() + 11),
            Cat({Text("64M"), Le64(0x1FFFFFC00ull)}));
  EXPECT_EQ(requests[3].payload, Cat({Text("64M"), Le64(0x200000000ull), Bytes{buffer[1024]}}));
}

TEST_F(ChannelTest, MemoryArgumentsAreCheckedBeforeSending) {
  ServeRequests(0, [](const Request&) { return Bytes{}; });
  Connect();
  std::uint8_t buffer[8];
  EXPECT_EQ(channel_->ReadMemory(0, 4, buffer), symResInvalidParameter);
  EXPECT_EQ(channel_->ReadMemory(0x10, 0, buffer), symResInvalidParameter);
  EXPECT_EQ(channel_->ReadMemory(0x10, 4, nullptr), symResInvalidParameter);
  EXPECT_EQ(channel_->ReadMemory(0x10, -5, buffer), symResOk);
  EXPECT_EQ(channel_->WriteMemory(0x10, -5, buffer), symResOk);
  EXPECT_EQ(channel_->ReadMemory64(0, 4, buffer), symResInvalidParameter);
  EXPECT_EQ(channel_->WriteMemory64(1ull << 32, 0, buffer), symResInvalidParameter);
  EXPECT_EQ(channel_->WriteBit(0x10, 1, 1), symResNotImplemented);
  EXPECT_EQ(channel_->WriteBits64(0x10, 1, 8, buffer), symResNotImplemented);
  EXPECT_EQ(channel_->sequence(), 0);  // nothing was sent
}

TEST_F(ChannelTest, VariableReadsSkipThreeBytesAndRespectTheBuffer) {
  ServeRequests(3, [](const Request& r) {
    return r.sequence == 3 ? Bytes{9, 9, 9} : Bytes{9, 9, 9, 1, 2, 3, 4};
  });
  Connect();
  std::uint8_t buffer[8] = {};
  ASSERT_EQ(channel_->ReadVariable(7, 0xDEAD, buffer, 8, 1), symResOk);
  EXPECT_EQ(Bytes(buffer, buffer + 5), (Bytes{1, 2, 3, 4, 0}));
  EXPECT_EQ(channel_->ReadVariable(7, 0, buffer, 3, 1), symResInvalidBuffer);
  EXPECT_EQ(channel_->ReadVariable(7, 0, buffer, 8, 1), symResMemReadError);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[0].payload, (Bytes{'i', 7, 0, 5}));
}

TEST_F(ChannelTest, VariableWritesAreLimitedTo252Bytes) {
  ServeRequests(1, [](const Request&) { return Bytes{}; });
  Connect();
  const Bytes data = Pattern(253, 3);
  EXPECT_EQ(channel_->WriteVariable(0x0102, 0, data.data(), 253, 11), symResInvalidBuffer);
  EXPECT_EQ(channel_->sequence(), 0);
  ASSERT_EQ(channel_->WriteVariable(0x0102, 0, data.data(), 252, 11), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload,
            Cat({Bytes{'I', 0x02, 0x01, 8}, Bytes(data.begin(), data.begin() + 252)}));
}

TEST(WireTypeTest, IoTypesTranslate) {
  const std::uint8_t expected[13] = {0, 5, 2, 1, 2, 3, 4, 6, 7, 255, 1, 8, 9};
  for (int t = 0; t < 13; ++t) EXPECT_EQ(CGDBCommunication::WireType(t), expected[t]) << t;
  EXPECT_EQ(CGDBCommunication::WireType(13), 255);
  EXPECT_EQ(CGDBCommunication::WireType(254), 255);
  EXPECT_EQ(CGDBCommunication::WireType(255), 0);
}

// ---- Symbol-service messages ----------------------------------------------------

TEST_F(ChannelTest, RequestOf1024BytesGoesInOneFrame) {
  ServeRequests(1, [](const Request&) { return Message(9, 40); });
  Connect();
  Bytes response;
  ASSERT_EQ(Transact(Message(9, 1024), &response), symResOk);
  EXPECT_EQ(response, Message(9, 40));
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].payload, Cat({Text("Y"), Message(9, 1024)}));
}

// Serves a fragmented request: acknowledges with the offsets given, then
// answers with a reply.
void ServeFragments(test::FakeController* fake, RequestLog* log, std::vector<std::uint32_t> offsets,
                    std::size_t ack_size = 20) {
  fake->SetHandler([=](FakeConnection& c) {
    GdbPeer peer(c);
    if (!peer.Handshake()) return;
    Request r;
    if (!peer.Read(&r)) return;
    log->Add(r);
    const std::uint32_t transfer = test::GetLe32(r.payload, 1 + 10);
    for (std::uint32_t offset : offsets) {
      peer.Reply(FragmentAck(transfer, offset, ack_size));
      if (!peer.Read(&r)) return;
      log->Add(r);
    }
    peer.Reply(Message(12, 6));
    c.DrainUntilClosed();
  });
  ASSERT_TRUE(fake->Start());
}

Bytes RequestFragment(std::uint32_t transfer, const Bytes& request, std::uint32_t offset,
                      std::uint32_t length, bool last) {
  return Cat({Text("Y"), Le16(0xFDEA), Bytes(8, 0), Le32(transfer),
              Le32(static_cast<std::uint32_t>(request.size())), Le32(offset), Le32(length),
              Bytes{static_cast<std::uint8_t>(last ? 1 : 0)},
              Bytes(request.begin() + offset, request.begin() + offset + length)});
}

TEST_F(ChannelTest, RequestOf1025BytesGoesAs997And28) {
  ServeFragments(&fake_, &log_, {997});
  Connect();
  const Bytes request = Message(12, 1025);
  Bytes response;
  ASSERT_EQ(Transact(request, &response), symResOk);
  EXPECT_EQ(response, Message(12, 6));
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 2u);
  const std::uint32_t transfer = test::GetLe32(requests[0].payload, 11);
  EXPECT_EQ(requests[0].payload, RequestFragment(transfer, request, 0, 997, false));
  EXPECT_EQ(requests[1].payload, RequestFragment(transfer, request, 997, 28, true));
  // One sequence number for the whole transaction.
  EXPECT_EQ(requests[0].sequence, requests[1].sequence);
}

TEST_F(ChannelTest, AcknowledgementNamingOffsetZeroResendsTheFirstFragment) {
  ServeFragments(&fake_, &log_, {0, 997, 1994});
  Connect();
  const Bytes request = Message(12, 2000);
  Bytes response;
  ASSERT_EQ(Transact(request, &response), symResOk);
  const auto requests = log_.Get();
  ASSERT_EQ(requests.size(), 4u);
  const std::uint32_t transfer = test::GetLe32(requests[0].payload, 11);
  EXPECT_EQ(requests[1].payload, requests[0].payload);
  EXPECT_EQ(requests[2].payload, RequestFragment(transfer, request, 997, 997, false));
  EXPECT_EQ(requests[3].payload, RequestFragment(transfer, request, 1994, 6, true));
}

TEST_F(ChannelTest, ShortFragmentAcknowledgementBreaksTheTransfer) {
  ServeFragments(&fake_, &log_, {997}, 19);
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(12, 1025), &response), symResSegmentationError);
}

TEST_F(ChannelTest, AcknowledgementOfAnUnknownTransferBreaksTheTransfer) {
  Serve([](GdbPeer& peer) {
    Request r;
    if (!peer.Read(&r)) return;
    peer.Reply(FragmentAck(test::GetLe32(r.payload, 11) + 1, 997));
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(12, 1025), &response), symResSegmentationError);
}

TEST_F(ChannelTest, ControllerAskingForeverIsCutOff) {
  Serve([](GdbPeer& peer) {
    Request r;
    if (!peer.Read(&r)) return;
    const std::uint32_t transfer = test::GetLe32(r.payload, 11);
    for (int i = 0; i < 1000; ++i) {
      if (!peer.Reply(FragmentAck(transfer, 0)) || !peer.Read(&r)) return;
    }
  });
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(12, 1025), &response), symResSegmentationError);
}

// Answers one request with the given reply fragments, checking the
// client's acknowledgement after each but the last.
void ServeReplyFragments(test::FakeController* fake, RequestLog* log,
                         std::vector<Bytes> fragments) {
  fake->SetHandler([=](FakeConnection& c) {
    GdbPeer peer(c);
    if (!peer.Handshake()) return;
    Request r;
    if (!peer.Read(&r)) return;
    for (std::size_t i = 0; i < fragments.size(); ++i) {
      if (i != 0) {
        if (!peer.Read(&r)) return;
        log->Add(r);
      }
      peer.Reply(fragments[i]);
    }
    c.DrainUntilClosed();
  });
  ASSERT_TRUE(fake->Start());
}

TEST_F(ChannelTest, FragmentedReplyIsReassembled) {
  const Bytes reply = Message(9, 2500);
  ServeReplyFragments(&fake_, &log_,
                      {ReplyFragment(77, 2500, Bytes(reply.begin(), reply.begin() + 1000)),
                       ReplyFragment(77, 2500, Bytes(reply.begin() + 1000, reply.begin() + 2000)),
                       ReplyFragment(77, 2500, Bytes(reply.begin() + 2000, reply.end()))});
  Connect();
  Bytes response;
  ASSERT_EQ(Transact(Message(9, 10), &response, 2500), symResOk);
  EXPECT_EQ(response, reply);
  const auto acks = log_.Get();
  ASSERT_EQ(acks.size(), 2u);
  EXPECT_EQ(acks[0].payload, Cat({Text("Y"), Le16(0xFDE9), Bytes(8, 0), Le32(77), Le32(1000)}));
  EXPECT_EQ(acks[1].payload, Cat({Text("Y"), Le16(0xFDE9), Bytes(8, 0), Le32(77), Le32(2000)}));
}

TEST_F(ChannelTest, InconsistentLaterFragmentBreaksTheTransfer) {
  const Bytes reply = Message(9, 2000);
  ServeReplyFragments(&fake_, &log_,
                      {ReplyFragment(5, 2000, Bytes(reply.begin(), reply.begin() + 1000)),
                       ReplyFragment(5, 2000, Bytes(reply.begin() + 1000, reply.end()), -1)});
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(9, 10), &response, 4000), symResSegmentationError);
}

TEST_F(ChannelTest, InconsistentFirstFragmentIsAPlainReply) {
  ServeReplyFragments(&fake_, &log_, {ReplyFragment(5, 2000, Pattern(100, 1), 1)});
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(9, 10), &response), symResProtocolError);
  EXPECT_EQ(response.size(), 129u);
}

TEST_F(ChannelTest, FragmentFromAnotherTransferBreaksTheTransfer) {
  ServeReplyFragments(
      &fake_, &log_,
      {ReplyFragment(5, 2000, Pattern(1000, 1)), ReplyFragment(6, 2000, Pattern(1000, 2))});
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(9, 10), &response), symResSegmentationError);
}

TEST_F(ChannelTest, ReplyTotalBeyondTheCapacityBreaksTheTransfer) {
  ServeReplyFragments(&fake_, &log_,
                      {ReplyFragment(5, 0xFFFFFFF0u, Pattern(1000, 1)),
                       ReplyFragment(5, 0xFFFFFFF0u, Pattern(1000, 2))});
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(9, 10), &response, 1500), symResSegmentationError);
}

TEST_F(ChannelTest, EmptyFragmentAfterTheWholeTotalCompletesTheReply) {
  const Bytes reply = Message(9, 1200);
  ServeReplyFragments(&fake_, &log_, {ReplyFragment(8, 1200, reply), ReplyFragment(8, 1200, {})});
  Connect();
  Bytes response;
  ASSERT_EQ(Transact(Message(9, 10), &response, 4000), symResOk);
  EXPECT_EQ(response, reply);
  const auto acks = log_.Get();
  ASSERT_EQ(acks.size(), 1u);
  EXPECT_EQ(acks[0].payload, Cat({Text("Y"), Le16(0xFDE9), Bytes(8, 0), Le32(8), Le32(1200)}));
}

TEST_F(ChannelTest, EmptyFragmentBeforeTheTotalBreaksTheTransfer) {
  ServeReplyFragments(&fake_, &log_,
                      {ReplyFragment(8, 1200, Pattern(1000, 1)), ReplyFragment(8, 1200, {})});
  Connect();
  Bytes response;
  EXPECT_EQ(Transact(Message(9, 10), &response, 1200), symResSegmentationError);
}

TEST_F(ChannelTest, FragmentsBeyondTheAnnouncedTotalBreakTheTransfer) {
  ServeReplyFragments(
      &fake_, &log_,
      {ReplyFragment(5, 1500, Pattern(1000, 1)), ReplyFragment(5, 1500, Pattern(600, 2))});
  Connect();
  Bytes response;
  // Capacity 1500 fits the announced total; the overflowing fragment must
  // not be written past it (Transact checks the guard bytes).
  EXPECT_EQ(Transact(Message(9, 10), &response, 1500), symResSegmentationError);
}

// ---- Lifecycle -------------------------------------------------------------------------

TEST_F(ChannelTest, CloseWakesAnExchangeBlockedOnAnotherThread) {
  std::promise<void> request_seen;
  auto seen = request_seen.get_future();
  Serve([&request_seen](GdbPeer& peer) {
    Request r;
    if (peer.Read(&r)) request_seen.set_value();
  });
  Connect(10000);
  std::shared_ptr<CCommunication> channel(std::move(channel_));
  std::shared_ptr<CCommunication> copy = channel;
  auto done = std::async(std::launch::async, [copy] {
    std::uint8_t request[10] = {5, 0};
    std::uint8_t response[64];
    std::uint32_t size = sizeof(response);
    return copy->Transact(request, sizeof(request), response, &size);
  });
  copy.reset();
  ASSERT_EQ(seen.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_TRUE(channel->Close());
  EXPECT_FALSE(channel->connected());
  channel.reset();  // the exchange still holds its own reference
  ASSERT_EQ(done.wait_for(std::chrono::seconds(5)), std::future_status::ready)
      << "Close did not wake the exchange";
  // Woken while waiting for the reply, or for its acknowledgement.
  const QXSymResult result = done.get();
  EXPECT_TRUE(result == symResTimeoutError || result == symResSocketError) << result;
  fake_.Stop();
}

TEST_F(ChannelTest, ClosedChannelRefusesEveryExchange) {
  ServeRequests(0, [](const Request&) { return Bytes{}; });
  Connect();
  EXPECT_TRUE(channel_->Close());
  EXPECT_TRUE(channel_->Close());
  std::uint8_t buffer[16];
  std::uint32_t size = sizeof(buffer);
  EXPECT_EQ(channel_->Transact(buffer, 4, buffer, &size), symResConnectionLost);
  EXPECT_EQ(channel_->ReadMemory(1, 1, buffer), symResConnectionLost);
  EXPECT_EQ(channel_->WriteVariable(1, 0, buffer, 1, 0), symResConnectionLost);
}

TEST(CreateCommunicationTest, OnlyProtocolZeroMakesAChannel) {
  EXPECT_EQ(CreateCommunication(nullptr), nullptr);
  QXSymServerAddress address{};
  std::snprintf(address.ip, sizeof(address.ip), "127.0.0.1");
  for (std::int32_t protocol : {1, 2, 3, -1}) {
    std::memcpy(&address.protocol, &protocol, sizeof(protocol));
    EXPECT_EQ(CreateCommunication(&address), nullptr) << protocol;
  }
}

TEST(CreateCommunicationTest, FailedConnectGivesNull) {
  // A port that was free a moment ago: the connect is refused.
  test::FakeController probe;
  ASSERT_TRUE(probe.Start());
  QXSymServerAddress address = probe.Address(500);
  probe.Stop();
  EXPECT_EQ(CreateCommunication(&address), nullptr);
}

TEST(CreateCommunicationTest, OpenChannelOverTcp) {
  test::FakeController fake;
  fake.SetHandler([](FakeConnection& c) {
    GdbPeer peer(c);
    peer.Handshake();
    c.DrainUntilClosed();
  });
  ASSERT_TRUE(fake.Start());
  QXSymServerAddress address = fake.Address(1000);
  std::snprintf(address.ip, sizeof(address.ip), "localhost");
  auto channel = CreateCommunication(&address);
  ASSERT_NE(channel, nullptr);
  EXPECT_TRUE(channel->connected());
  auto* gdb = dynamic_cast<CGDBCommunication*>(channel.get());
  ASSERT_NE(gdb, nullptr);
  EXPECT_TRUE(gdb->ack_mode());
  EXPECT_TRUE(gdb->sequence_mode());
  EXPECT_EQ(gdb->timeout_ms(), 1000);
  EXPECT_TRUE(channel->Close());
  EXPECT_FALSE(channel->connected());
}

}  // namespace
}  // namespace qxsym
