// qxsym-sim on a loopback port, spoken to with hand-encoded frames:
// negotiation, acknowledgements, sequence numbers, the memory, variable and
// symbol-service commands, fragmentation both ways, fault injection, and
// clients that misbehave.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <thread>

#include "SimServerFixture.h"

namespace qxsym::test {
namespace {

using simwire::Text;

class SimServerTest : public ::testing::Test {
 protected:
  void Launch(std::vector<std::string> args = {}, int filler = 0) {
    model_ = WriteModel(::testing::UnitTest::GetInstance()->current_test_info()->name(), filler);
    args.insert(args.begin(), {"--model", model_});
    std::string error;
    ASSERT_TRUE(sim_.Start(args, &error)) << error;
    EXPECT_EQ(sim_.host(), "127.0.0.1");
  }
  void TearDown() override {
    if (sim_.running()) {
      EXPECT_EQ(sim_.Stop(), 0);
    }
    if (!model_.empty()) std::remove(model_.c_str());
  }
  void Connect(RawClient& c) { ASSERT_TRUE(c.Connect(sim_.port())); }

  // Opens a workspace and the Blob tag; the references go to *ws and *tag.
  void OpenBlob(RawClient& c, Bytes* ws, Bytes* tag) {
    auto open = c.Transact(OpenWorkspaceRequest());
    ASSERT_TRUE(open);
    ASSERT_EQ(open->size(), 12u);
    ASSERT_EQ(simwire::GetU16(*open, 2), 0);
    ws->assign(open->begin() + 4, open->end());
    auto t = c.Transact(GetGlobalTagRequest(*ws, "Blob"));
    ASSERT_TRUE(t);
    ASSERT_EQ(simwire::GetU16(*t, 2), 0);
    tag->assign(t->begin() + 4, t->begin() + 12);
  }

  SimLauncher sim_;
  std::string model_;
};

TEST_F(SimServerTest, HandshakeBytesOfAControllerWithAcknowledgementsAndSequenceNumbers) {
  Launch();
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.SendRaw({0x10, 0x04, 0x00, 0x21, 0x4E, 0x41, 0x21, 0xD5}));  // "!NA!"
  Bytes got;
  for (int i = 0; i < 6; ++i) got.push_back(static_cast<std::uint8_t>(c.ReadByte()));
  EXPECT_EQ(got, (Bytes{'+', 0x02, 0x00, 0x00, 0x00, 0x02}));
  ASSERT_TRUE(c.SendRaw({'+', 0x10, 0x03, 0x00, 0x21, 0x53, 0x21, 0x98}));  // "!S!"
  got.clear();
  for (int i = 0; i < 6; ++i) got.push_back(static_cast<std::uint8_t>(c.ReadByte()));
  EXPECT_EQ(got, (Bytes{'+', 0x02, 0x00, 0x00, 0x00, 0x02}));
  ASSERT_TRUE(c.SendRaw({'+'}));
  // "m" for 4 bytes at the blob with sequence 0x1310: every control byte stuffed.
  c.seq = true;
  c.sequence = 0x1310;
  auto r = c.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->checksum_ok);
  EXPECT_EQ(r->seq, 0x1310);
  EXPECT_EQ(r->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(SimServerTest, ControllerWithoutAcknowledgementsAnswersTheFirstHandshakeAtOnce) {
  Launch({"--no-ack", "--no-seq"});
  RawClient c;
  Connect(c);
  // The client still expects an acknowledgement; it gets the reply instead.
  ASSERT_TRUE(c.SendFrame(Text("!NA!")));
  Bytes got;
  for (int i = 0; i < 5; ++i) got.push_back(static_cast<std::uint8_t>(c.ReadByte()));
  EXPECT_EQ(got, (Bytes{0x02, 0x00, 0x00, 0x01, 0x03}));
  // Without acknowledgements from here on; the refusal of sequence numbers.
  c.ack = false;
  auto s = c.Command(Text("!S!"));
  ASSERT_TRUE(s);
  EXPECT_EQ(s->data, Bytes{1});
  // A probe with a sequence number is refused, so the client turns it off again.
  c.seq = true;
  c.sequence = 1;
  ASSERT_TRUE(c.SendFrame(Text("!S!")));
  c.seq = false;
  s = c.ReadReply();
  ASSERT_TRUE(s);
  EXPECT_NE(s->status, 0);
  auto r = c.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

class SimServerModes : public SimServerTest,
                       public ::testing::WithParamInterface<std::pair<bool, bool>> {};

TEST_P(SimServerModes, ServesEveryCommandInEveryNegotiatedMode) {
  const auto [acks, seqs] = GetParam();
  std::vector<std::string> args;
  if (!acks) args.push_back("--no-ack");
  if (!seqs) args.push_back("--no-seq");
  Launch(args);
  RawClient c;
  Connect(c);
  if (!acks) {
    // The first handshake of a client that expects acknowledgements fails;
    // it retries without them.
    ASSERT_TRUE(c.SendFrame(Text("!NA!")));
    ASSERT_TRUE(c.ReadReply());
  }
  ASSERT_TRUE(c.Negotiate(acks, seqs));

  auto version = c.Transact(VersionRequest());
  ASSERT_TRUE(version);
  EXPECT_EQ(*version, (Bytes{7, 0, 0, 0, 3, 0, 1, 0}));

  // Memory commands on the model's image, seen by the symbol service too.
  const Bytes data = Pattern(300, 1);
  c.sequence++;
  auto w = c.Command(simwire::WriteMem(kBlobAddress + 10, data));
  ASSERT_TRUE(w);
  EXPECT_EQ(w->status, 0);
  c.sequence++;
  auto m = c.Command(simwire::ReadMem64(kBlobAddress + 10, 300));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->data, data);
  if (seqs) {
    EXPECT_EQ(m->seq, c.sequence);
  }
  Bytes ws, tag;
  OpenBlob(c, &ws, &tag);
  auto raw = c.Transact(GetRawRequest(ws, tag, 310));
  ASSERT_TRUE(raw);
  ASSERT_EQ(raw->size(), 8u + 310u);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), raw->begin() + 8 + 10));

  // Variable 0 is the DINT Counter; the reply echoes index and wire type.
  c.sequence++;
  auto v = c.Command({'i', 0, 0, 0});
  ASSERT_TRUE(v);
  EXPECT_EQ(v->status, 0);
  EXPECT_EQ(v->data, (Bytes{0, 0, 0, 0x78, 0x56, 0x34, 0x12}));
  c.sequence++;
  auto vw = c.Command({'I', 0, 0, 0, 1, 2, 3, 4});
  ASSERT_TRUE(vw);
  EXPECT_EQ(vw->status, 0);
  c.sequence++;
  m = c.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(m);
  EXPECT_EQ(m->data, (Bytes{1, 2, 3, 4}));
  c.sequence++;
  auto bad = c.Command({'i', 9, 0, 0});
  ASSERT_TRUE(bad);
  EXPECT_EQ(bad->status, 6);  // the client's "invalid parameter"

  // Outside the image.
  c.sequence++;
  auto out = c.Command(simwire::ReadMem(kBlobAddress - 1, 2));
  ASSERT_TRUE(out);
  EXPECT_NE(out->status, 0);
  EXPECT_TRUE(out->data.empty());
}

INSTANTIATE_TEST_SUITE_P(Modes, SimServerModes,
                         ::testing::Values(std::make_pair(true, true), std::make_pair(true, false),
                                           std::make_pair(false, true),
                                           std::make_pair(false, false)));

TEST_F(SimServerTest, AcknowledgementsRepeatAndRefuse) {
  Launch();
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  c.sequence = 5;
  // A request with a bad checksum is refused and not executed.
  ASSERT_TRUE(c.SendFrame(simwire::WriteMem(kBlobAddress, {0xAB}), 1));
  EXPECT_EQ(c.ReadByte(), '-');
  // Its repetition is served.
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kBlobAddress, 1)));
  EXPECT_EQ(c.ReadByte(), '+');
  auto first = c.ReadReply();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->data, Bytes{0});
  // A rejected reply is sent once more, identical; after the second "-" nothing comes.
  ASSERT_TRUE(c.SendRaw({'-'}));
  auto again = c.ReadReply();
  ASSERT_TRUE(again);
  EXPECT_EQ(again->data, first->data);
  EXPECT_EQ(again->seq, 5);
  ASSERT_TRUE(c.SendRaw({'-'}));
  EXPECT_EQ(c.ReadByte(300), RawClient::kTimeout);
  c.sequence = 6;
  auto next = c.Command(simwire::ReadMem(kBlobAddress, 1));
  ASSERT_TRUE(next);
  EXPECT_EQ(next->seq, 6);
}

TEST_F(SimServerTest, FragmentedRequestAndFragmentedReply) {
  Launch();
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  Bytes ws, tag;
  OpenBlob(c, &ws, &tag);
  const Bytes blob = Pattern(kBlobSize, 7);
  std::uint32_t sent = 0;
  auto set = c.Transact(SetRawRequest(ws, tag, blob), &sent);
  ASSERT_TRUE(set);
  EXPECT_EQ(simwire::GetU16(*set, 0), 45);
  EXPECT_EQ(simwire::GetU16(*set, 2), 0);
  EXPECT_EQ(sent, 5u);  // 4122 bytes in fragments of 997
  std::uint32_t received = 0;
  auto get = c.Transact(GetRawRequest(ws, tag, kBlobSize), nullptr, &received);
  ASSERT_TRUE(get);
  EXPECT_EQ(received, 5u);  // 4104 bytes in fragments of 995
  ASSERT_EQ(get->size(), 8u + kBlobSize);
  EXPECT_EQ(simwire::GetU32(*get, 4), kBlobSize);
  EXPECT_TRUE(std::equal(blob.begin(), blob.end(), get->begin() + 8));
  // The same bytes through the memory command.
  c.sequence++;
  auto m = c.Command(simwire::ReadMem(kBlobAddress + 1000, 1024));
  ASSERT_TRUE(m);
  EXPECT_TRUE(std::equal(m->data.begin(), m->data.end(), blob.begin() + 1000));
}

TEST_F(SimServerTest, MultiMegabyteSymbolTableInLargeFragments) {
  Launch({"--reply-fragment-size", "65532"}, 12000);
  const std::string file = ReadFile(model_);
  ASSERT_GT(file.size(), 2u << 20);
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  Bytes ws, tag;
  OpenBlob(c, &ws, &tag);
  auto size = c.Transact(WorkspaceRequest(8, ws));
  ASSERT_TRUE(size);
  ASSERT_EQ(size->size(), 8u);
  const std::uint32_t n = simwire::GetU32(*size, 4);
  EXPECT_EQ(n, file.size());
  Bytes req = WorkspaceRequest(9, ws);
  simwire::PutU32(req, n);
  std::uint32_t received = 0;
  auto table = c.Transact(req, nullptr, &received);
  ASSERT_TRUE(table);
  ASSERT_EQ(table->size(), n + 4u);
  EXPECT_EQ(std::string(table->begin() + 4, table->end()), file);
  EXPECT_EQ(received, (n + 4 + 65502) / 65503);
}

TEST_F(SimServerTest, MultiMegabyteSymbolTableInDefaultFragments) {
  Launch({}, 8000);
  const std::string file = ReadFile(model_);
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  Bytes ws, tag;
  OpenBlob(c, &ws, &tag);
  Bytes req = WorkspaceRequest(9, ws);
  simwire::PutU32(req, static_cast<std::uint32_t>(file.size()));
  auto table = c.Transact(req);
  ASSERT_TRUE(table);
  EXPECT_EQ(std::string(table->begin() + 4, table->end()), file);
}

TEST_F(SimServerTest, FaultBadChecksumOnEveryReplyFrame) {
  Launch({"--bad-checksum-every", "1"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));  // handshakes are never faulted
  c.sequence = 1;
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kBlobAddress, 2)));
  EXPECT_EQ(c.ReadByte(), '+');
  auto r = c.ReadReply();
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->checksum_ok);
  ASSERT_TRUE(c.SendRaw({'-'}));
  r = c.ReadReply();
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->checksum_ok);
  EXPECT_EQ(r->data, (Bytes{0, 0}));
}

TEST_F(SimServerTest, FaultNegativeAcknowledgementOnEverySecondFrame) {
  Launch({"--nak-every", "2"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  c.sequence = 1;
  ASSERT_TRUE(c.Command(simwire::WriteMem(kBlobAddress, {1})));
  c.sequence = 2;
  ASSERT_TRUE(c.SendFrame(simwire::WriteMem(kBlobAddress, {2})));
  EXPECT_EQ(c.ReadByte(), '-');
  auto r = c.Command(simwire::WriteMem(kBlobAddress, {2}));  // the repetition is frame 3
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  c.sequence = 3;
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kBlobAddress, 1)));
  EXPECT_EQ(c.ReadByte(), '-');
}

TEST_F(SimServerTest, FaultStaleReplyCarriesTheOldSequenceNumber) {
  Launch({"--stale-every", "2"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  c.sequence = 10;
  auto first = c.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->seq, 10);
  c.sequence = 11;
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kCounterAddress, 4)));
  EXPECT_EQ(c.ReadByte(), '+');
  auto stale = c.ReadReply();
  ASSERT_TRUE(stale);
  EXPECT_TRUE(stale->checksum_ok);
  EXPECT_EQ(stale->seq, 10);
  ASSERT_TRUE(c.SendRaw({'+'}));
  auto real = c.ReadReply();
  ASSERT_TRUE(real);
  EXPECT_EQ(real->seq, 11);
  EXPECT_EQ(real->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(SimServerTest, FaultDelayHoldsTheReplyButNotTheAcknowledgement) {
  Launch({"--delay", "30000"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));  // handshakes are not delayed
  c.sequence = 1;
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kBlobAddress, 1)));
  EXPECT_EQ(c.ReadByte(), '+');
  EXPECT_EQ(c.ReadByte(200), RawClient::kTimeout);
  // Stopping the server cuts the wait short (TearDown checks the clean exit).
}

TEST_F(SimServerTest, FaultCloseWhenTheNthCommandFrameArrives) {
  Launch({"--close-after", "2"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  c.sequence = 1;
  ASSERT_TRUE(c.Command(simwire::ReadMem(kBlobAddress, 1)));
  c.sequence = 2;
  ASSERT_TRUE(c.SendFrame(simwire::ReadMem(kBlobAddress, 1)));
  EXPECT_EQ(c.ReadByte(), RawClient::kClosed);
  // The server itself goes on serving.
  RawClient d;
  Connect(d);
  EXPECT_TRUE(d.Negotiate(true, true));
}

TEST_F(SimServerTest, GarbageClientIsDroppedAndOthersCarryOn) {
  Launch();
  RawClient good;
  Connect(good);
  ASSERT_TRUE(good.Negotiate(true, true));
  RawClient bad;
  Connect(bad);
  std::mt19937 rng(99);
  Bytes noise(1 << 20);
  for (auto& b : noise) b = static_cast<std::uint8_t>(rng());
  bad.SendRaw(noise);  // may fail once the server has closed
  EXPECT_TRUE(bad.ClosedByPeer());
  good.sequence = 1;
  auto r = good.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(SimServerTest, HostileFragmentTransfersAreBounded) {
  Launch({"--max-request", "65536", "--idle-timeout", "500"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  const Bytes data(997, 0x55);
  // A huge announced total is refused before anything is kept.
  c.sequence = 1;
  auto r =
      c.Command(simwire::Y(simwire::RequestFragment(1, 0xFFFFFFFF, 0, data.data(), 997, false)));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 4);
  // A transfer that never ends: the connection is closed when it goes quiet.
  c.sequence = 2;
  r = c.Command(simwire::Y(simwire::RequestFragment(2, 60000, 0, data.data(), 997, false)));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->status, 0);
  EXPECT_TRUE(c.ClosedByPeer());
  // So is a frame that never ends, and a client that never speaks.
  RawClient half;
  Connect(half);
  half.SendRaw({0x10, 0xFF, 0xFF, 'Y', 1, 2, 3});
  RawClient mute;
  Connect(mute);
  EXPECT_TRUE(half.ClosedByPeer());
  EXPECT_TRUE(mute.ClosedByPeer());
}

// Peak resident memory of a process in KiB, from /proc.
long PeakKiB(pid_t pid) {
  std::ifstream f("/proc/" + std::to_string(pid) + "/status");
  std::string key;
  while (f >> key) {
    if (key == "VmHWM:") {
      long kib = 0;
      f >> kib;
      return kib;
    }
  }
  return -1;
}

TEST_F(SimServerTest, ClientThatDoesNotReadItsRepliesCostsBoundedMemory) {
  // 16000 filler tags make a memory image of over 64 KiB.
  Launch({"--no-ack", "--no-seq", "--idle-timeout", "500"}, 16000);
  const long before = PeakKiB(sim_.pid());
  ASSERT_GT(before, 0);
  // 20000 requests for 60000 bytes each, sent at once and never read: a
  // single block of received requests asks for hundreds of MiB of replies.
  Bytes burst;
  for (int i = 0; i < 20000; ++i) {
    const Bytes f = simwire::RequestFrame(simwire::ReadMem(kBlobAddress, 60000));
    burst.insert(burst.end(), f.begin(), f.end());
  }
  RawClient flood;
  Connect(flood);
  flood.SendRaw(burst);
  // The server gives up on the client once sending has blocked for the idle time.
  EXPECT_TRUE(flood.ResetByPeer(10000));
  EXPECT_LT(PeakKiB(sim_.pid()) - before, 32 * 1024);
  RawClient other;
  Connect(other);
  ASSERT_TRUE(other.Negotiate(false, false));
  auto r = other.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

TEST_F(SimServerTest, ConnectionCapClosesTheExtraClient) {
  Launch({"--max-connections", "2"});
  RawClient a, b, extra;
  Connect(a);
  Connect(b);
  ASSERT_TRUE(a.Negotiate(true, true));
  ASSERT_TRUE(b.Negotiate(true, true));
  Connect(extra);
  EXPECT_TRUE(extra.ClosedByPeer());
  // Once a client leaves, a new one is served; the server notices the
  // departure a little later, so retry until it does.
  a.Close();
  bool served = false;
  for (int attempt = 0; attempt < 200 && !served; ++attempt) {
    RawClient next;
    Connect(next);
    served = next.Negotiate(true, true);
    if (!served) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(served);
}

// One peer that opens many connections and keeps them busy with handshakes
// gets its share of the places, not all of them: with the defaults (64 in
// all, 16 per peer) a client from another address is still served.
TEST_F(SimServerTest, OnePeerHoldingConnectionsLeavesPlacesForOthers) {
  Launch();
  constexpr std::uint32_t kHog = INADDR_LOOPBACK + 1;  // 127.0.0.2
  std::vector<RawClient> hog(64);
  int admitted = 0;
  for (RawClient& c : hog) {
    ASSERT_TRUE(c.Connect(sim_.port(), kHog));
    if (c.Negotiate(true, true)) ++admitted;
  }
  EXPECT_EQ(admitted, 16);
  int still_held = 0;
  for (RawClient& c : hog) still_held += c.Negotiate(true, true) ? 1 : 0;
  EXPECT_EQ(still_held, 16);

  RawClient other;
  Connect(other);
  ASSERT_TRUE(other.Negotiate(true, true));
  other.sequence = 1;
  auto r = other.Command(simwire::ReadMem(kCounterAddress, 4));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->data, (Bytes{0x78, 0x56, 0x34, 0x12}));
}

// Handshakes do not restart the idle clock, commands do: a client that only
// repeats handshakes is closed after the idle time, one that reads stays.
TEST_F(SimServerTest, HandshakesDoNotKeepAConnectionFromIdling) {
  Launch({"--idle-timeout", "300"});
  RawClient shaker, reader;
  Connect(shaker);
  Connect(reader);
  ASSERT_TRUE(shaker.Negotiate(true, true));
  ASSERT_TRUE(reader.Negotiate(true, true));
  bool shaker_closed = false;
  int reads = 0;
  // Every 50 ms a handshake from one and a read from the other, for twice
  // the idle time at least and until the handshaking client is gone.
  for (int round = 0; round < 60 && (!shaker_closed || round < 12); ++round) {
    if (!shaker_closed) shaker_closed = !shaker.Negotiate(true, true);
    ++reader.sequence;
    auto r = reader.Command(simwire::ReadMem(kCounterAddress, 4));
    ASSERT_TRUE(r) << "read " << round;
    EXPECT_EQ(r->seq, reader.sequence);
    ++reads;
    ::poll(nullptr, 0, 50);
  }
  EXPECT_TRUE(shaker_closed);
  EXPECT_GE(reads, 12);
}

TEST_F(SimServerTest, SigtermStopsCleanlyWithClientsConnected) {
  Launch();
  RawClient a, b;
  Connect(a);
  Connect(b);
  ASSERT_TRUE(a.Negotiate(true, true));
  EXPECT_EQ(sim_.Stop(), 0);
  EXPECT_TRUE(a.ClosedByPeer());
  EXPECT_TRUE(b.ClosedByPeer());
}

TEST_F(SimServerTest, VersionFromTheCommandLine) {
  Launch({"--version", "3.0.0.7"});
  RawClient c;
  Connect(c);
  ASSERT_TRUE(c.Negotiate(true, true));
  auto version = c.Transact(VersionRequest());
  ASSERT_TRUE(version);
  EXPECT_EQ(*version, (Bytes{7, 0, 0, 0, 3, 0, 0, 7}));
}

TEST(SimServerProgram, RefusesABadModelAndBadArguments) {
  SimLauncher sim;
  std::string error;
  EXPECT_FALSE(sim.Start({"--model", "/nonexistent/model.json"}, &error));
  EXPECT_FALSE(sim.Start({"--version", "3.x"}, &error));
  EXPECT_FALSE(sim.Start({"--reply-fragment-size", "10"}, &error));
}

}  // namespace
}  // namespace qxsym::test
