// The library's channel (CreateCommunication, CGDBCommunication) against
// qxsym-sim: every negotiation mode, fragmentation both ways, a time-out and
// a lost connection. Server and client were written separately from the
// wire format, so each checks the other.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "CGDBCommunication.h"
#include "SimServerFixture.h"

namespace qxsym::test {
namespace {

std::unique_ptr<CCommunication> OpenChannel(std::uint16_t port, std::uint16_t timeout_ms = 5000) {
  QXSymServerAddress a{};
  a.protocol = symProtGDB_TCP;
  std::strcpy(a.ip, "127.0.0.1");
  a.port = port;
  a.timeout = timeout_ms;
  return CreateCommunication(&a);
}

class ChannelTest : public ::testing::Test {
 protected:
  void Launch(std::vector<std::string> args = {}, int filler = 0) {
    if (model_.empty()) {
      model_ = WriteModel(
          std::string("channel-") + ::testing::UnitTest::GetInstance()->current_test_info()->name(),
          filler);
    }
    args.insert(args.begin(), {"--model", model_});
    std::string error;
    ASSERT_TRUE(sim_.Start(args, &error)) << error;
  }
  void TearDown() override {
    if (sim_.running()) {
      EXPECT_EQ(sim_.Stop(), 0);
    }
    if (!model_.empty()) std::remove(model_.c_str());
  }

  // Transact with a fresh reply buffer of `capacity` bytes.
  QXSymResult Call(CCommunication& ch, const Bytes& request, Bytes* reply,
                   std::uint32_t capacity = 8192) {
    reply->assign(capacity, 0);
    std::uint32_t size = capacity;
    const QXSymResult r = ch.Transact(request.data(), static_cast<std::uint32_t>(request.size()),
                                      reply->data(), &size);
    if (r == symResOk) reply->resize(std::min(size, capacity));
    return r;
  }
  void OpenBlob(CCommunication& ch, Bytes* ws, Bytes* tag) {
    Bytes reply;
    ASSERT_EQ(Call(ch, OpenWorkspaceRequest(), &reply, 12), symResOk);
    ASSERT_EQ(simwire::GetU16(reply, 2), 0);
    ws->assign(reply.begin() + 4, reply.begin() + 12);
    ASSERT_EQ(Call(ch, GetGlobalTagRequest(*ws, "Blob"), &reply, 24), symResOk);
    ASSERT_EQ(simwire::GetU16(reply, 2), 0);
    tag->assign(reply.begin() + 4, reply.begin() + 12);
  }

  SimLauncher sim_;
  std::string model_;
};

struct Mode {
  std::vector<std::string> args;
  bool ack;
  bool seq;
};
void PrintTo(const Mode& m, std::ostream* os) {
  *os << (m.ack ? "acks" : "no acks") << ", "
      << (m.seq ? "sequence numbers" : "no sequence numbers");
}

class ChannelModes : public ChannelTest, public ::testing::WithParamInterface<Mode> {};

TEST_P(ChannelModes, NegotiatesAndServesTransactMemoryAndVariables) {
  Launch(GetParam().args);
  auto ch = OpenChannel(sim_.port());
  ASSERT_TRUE(ch);
  auto* gdb = dynamic_cast<CGDBCommunication*>(ch.get());
  ASSERT_NE(gdb, nullptr);
  EXPECT_EQ(gdb->ack_mode(), GetParam().ack);
  EXPECT_EQ(gdb->sequence_mode(), GetParam().seq);

  Bytes reply;
  ASSERT_EQ(Call(*ch, VersionRequest(), &reply, 8), symResOk);
  EXPECT_EQ(reply, (Bytes{7, 0, 0, 0, 3, 0, 1, 0}));

  // 2500 bytes go as three memory commands each way.
  const Bytes data = Pattern(2500, 3);
  EXPECT_EQ(ch->WriteMemory(kBlobAddress + 100, 2500, data.data()), symResOk);
  Bytes back(2500);
  EXPECT_EQ(ch->ReadMemory64(kBlobAddress + 100, 2500, back.data()), symResOk);
  EXPECT_EQ(back, data);
  EXPECT_EQ(ch->ReadMemory(0xFFFF0000u, 16, back.data()), symResMemReadError);

  std::uint8_t value[4] = {};
  EXPECT_EQ(ch->ReadVariable(0, 0, value, sizeof value, 0), symResOk);
  EXPECT_EQ(Bytes(value, value + 4), (Bytes{0x78, 0x56, 0x34, 0x12}));
  EXPECT_EQ(ch->ReadVariable(7, 0, value, sizeof value, 0), symResInvalidParameter);
  const std::uint8_t fresh[4] = {9, 8, 7, 6};
  EXPECT_EQ(ch->WriteVariable(0, 0, fresh, 4, 0), symResOk);
  EXPECT_EQ(ch->ReadMemory(kCounterAddress, 4, value), symResOk);
  EXPECT_EQ(Bytes(value, value + 4), (Bytes{9, 8, 7, 6}));
}

INSTANTIATE_TEST_SUITE_P(Modes, ChannelModes,
                         ::testing::Values(Mode{{}, true, true}, Mode{{"--no-ack"}, false, true},
                                           Mode{{"--no-seq"}, true, false},
                                           Mode{{"--no-ack", "--no-seq"}, false, false}),
                         [](const ::testing::TestParamInfo<Mode>& param_info) {
                           const Mode& m = param_info.param;
                           return std::string(m.ack ? "Ack" : "NoAck") + (m.seq ? "Seq" : "NoSeq");
                         });

TEST_F(ChannelTest, RequestOf1025BytesAndFragmentedReplies) {
  Launch();
  auto ch = OpenChannel(sim_.port());
  ASSERT_TRUE(ch);
  Bytes ws, tag;
  OpenBlob(*ch, &ws, &tag);
  // 18-byte header, offset and size, 999 bytes: one byte over a single frame.
  const Bytes part = Pattern(999, 5);
  const Bytes set = SetRawRequest(ws, tag, part);
  ASSERT_EQ(set.size(), 1025u);
  Bytes reply;
  ASSERT_EQ(Call(*ch, set, &reply, 8), symResOk);
  EXPECT_EQ(simwire::GetU16(reply, 2), 0);
  // 1007 bytes come back in one frame.
  ASSERT_EQ(Call(*ch, GetRawRequest(ws, tag, 999), &reply, 1007), symResOk);
  ASSERT_EQ(reply.size(), 1007u);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), reply.begin() + 8));

  // The whole blob both ways: fragments in each direction.
  const Bytes blob = Pattern(kBlobSize, 11);
  ASSERT_EQ(Call(*ch, SetRawRequest(ws, tag, blob), &reply, 8), symResOk);
  EXPECT_EQ(simwire::GetU16(reply, 2), 0);
  ASSERT_EQ(Call(*ch, GetRawRequest(ws, tag, kBlobSize), &reply, kBlobSize + 8), symResOk);
  ASSERT_EQ(reply.size(), kBlobSize + 8u);
  EXPECT_TRUE(std::equal(blob.begin(), blob.end(), reply.begin() + 8));

  // A second channel sees the same memory.
  auto other = OpenChannel(sim_.port());
  ASSERT_TRUE(other);
  Bytes mem(kBlobSize);
  EXPECT_EQ(other->ReadMemory(kBlobAddress, kBlobSize, mem.data()), symResOk);
  EXPECT_EQ(mem, blob);
}

TEST_F(ChannelTest, MultiMegabyteSymbolTable) {
  Launch({}, 8000);
  const std::string file = ReadFile(model_);
  auto ch = OpenChannel(sim_.port());
  ASSERT_TRUE(ch);
  Bytes ws, tag;
  OpenBlob(*ch, &ws, &tag);
  Bytes reply;
  ASSERT_EQ(Call(*ch, WorkspaceRequest(8, ws), &reply, 8), symResOk);
  const std::uint32_t n = simwire::GetU32(reply, 4);
  ASSERT_EQ(n, file.size());
  Bytes req = WorkspaceRequest(9, ws);
  simwire::PutU32(req, n);
  ASSERT_EQ(Call(*ch, req, &reply, n + 12), symResOk);
  ASSERT_EQ(reply.size(), n + 4u);
  EXPECT_EQ(std::string(reply.begin() + 4, reply.end()), file);
}

#ifdef QXSYM_GENMODEL_PATH
TEST_F(ChannelTest, SymbolTableOfAGeneratedPlant) {
  model_ = ::testing::TempDir() + "/plant-" + std::to_string(::getpid()) + ".json";
  const std::string command =
      std::string(QXSYM_GENMODEL_PATH) + " --tags 10000 --seed 3 -o " + model_;
  ASSERT_EQ(std::system(command.c_str()), 0);
  const std::string file = ReadFile(model_);
  ASSERT_GT(file.size(), 1u << 20);
  Launch();
  auto ch = OpenChannel(sim_.port());
  ASSERT_TRUE(ch);
  Bytes reply;
  ASSERT_EQ(Call(*ch, OpenWorkspaceRequest(), &reply, 12), symResOk);
  const Bytes ws(reply.begin() + 4, reply.begin() + 12);
  Bytes req = WorkspaceRequest(9, ws);
  simwire::PutU32(req, static_cast<std::uint32_t>(file.size()));
  ASSERT_EQ(Call(*ch, req, &reply, static_cast<std::uint32_t>(file.size()) + 12), symResOk);
  ASSERT_EQ(reply.size(), file.size() + 4);
  EXPECT_EQ(simwire::GetU16(reply, 2), 0);
  EXPECT_EQ(std::string(reply.begin() + 4, reply.end()), file);
}
#endif

TEST_F(ChannelTest, DelayedReplyTimesOut) {
  Launch({"--delay", "1500"});
  auto ch = OpenChannel(sim_.port(), 200);
  ASSERT_TRUE(ch);
  auto* gdb = dynamic_cast<CGDBCommunication*>(ch.get());
  EXPECT_TRUE(gdb->ack_mode());  // the handshakes are answered at once
  Bytes reply;
  EXPECT_EQ(Call(*ch, VersionRequest(), &reply, 8), symResTimeoutError);
}

TEST_F(ChannelTest, LostConnection) {
  Launch({"--close-after", "2"});
  auto ch = OpenChannel(sim_.port());
  ASSERT_TRUE(ch);
  Bytes reply;
  ASSERT_EQ(Call(*ch, VersionRequest(), &reply, 8), symResOk);
  // The server drops the connection on the second command frame.
  const QXSymResult lost = Call(*ch, VersionRequest(), &reply, 8);
  EXPECT_TRUE(lost == symResSocketError || lost == symResTimeoutError) << lost;
  std::uint8_t b[4];
  EXPECT_EQ(ch->ReadMemory(kCounterAddress, 4, b), symResConnectionLost);
  EXPECT_NE(Call(*ch, VersionRequest(), &reply, 8), symResOk);

  // A controller that vanishes altogether.
  auto other = OpenChannel(sim_.port());
  ASSERT_TRUE(other);
  sim_.Kill();
  EXPECT_NE(Call(*other, VersionRequest(), &reply, 8), symResOk);
  EXPECT_EQ(other->ReadMemory(kCounterAddress, 4, b), symResConnectionLost);
}

}  // namespace
}  // namespace qxsym::test
