// The COM channel against the project's reference server, in this process.
// Runs on Linux on the portable COM layer and under Wine on Wine's COM.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "CFerrolinkCommunication.h"
#include "FerrolinkReferenceServer.h"
#include "QXSymbols.h"

namespace qxsym {
namespace {

using test::FerrolinkReferenceServer;
using test::FerrolinkServerState;
using test::MemoryBackend;

constexpr std::uint32_t kBase = 0x1000;

class FerrolinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    memory_ = std::make_shared<MemoryBackend>(kBase, 8192);
    for (std::size_t i = 0; i < memory_->memory().size(); ++i) {
      memory_->memory()[i] = static_cast<std::uint8_t>(i * 7);
    }
    state_->backend = memory_;
    server_ = std::make_unique<FerrolinkReferenceServer>(state_);
    ASSERT_TRUE(server_->registered());
  }
  void TearDown() override {
    channel_.reset();
    server_.reset();
    EXPECT_EQ(state_->live_objects, 0);  // every object released
    CoUninitialize();
  }

  bool Open(const char16_t* protocol, const char* name = "plc1") {
    state_->protocol = protocol;
    QXSymServerAddress a{};
    std::snprintf(a.ip, sizeof a.ip, "%s", name);
    channel_ = std::make_unique<CFerrolinkCommunication>();
    return channel_->Open(&a);
  }
  std::vector<std::uint8_t> Memory(std::uint32_t address, std::size_t n) {
    const auto& m = memory_->memory();
    return {m.begin() + (address - kBase), m.begin() + (address - kBase + n)};
  }

  std::shared_ptr<FerrolinkServerState> state_ = std::make_shared<FerrolinkServerState>();
  std::shared_ptr<MemoryBackend> memory_;
  std::unique_ptr<FerrolinkReferenceServer> server_;
  std::unique_ptr<CFerrolinkCommunication> channel_;
};

TEST_F(FerrolinkTest, GdbTargetsUseTheServersMemoryMethods) {
  ASSERT_TRUE(Open(u"GDB"));
  EXPECT_EQ(state_->connected_to, u"plc1");
  EXPECT_TRUE(channel_->direct_memory());
  std::uint8_t buf[16];
  ASSERT_EQ(channel_->ReadMemory(kBase + 4, 16, buf), symResOk);
  EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 16), Memory(kBase + 4, 16));
  const std::uint8_t data[3] = {9, 8, 7};
  ASSERT_EQ(channel_->WriteMemory(kBase + 100, 3, data), symResOk);
  EXPECT_EQ(Memory(kBase + 100, 3), std::vector<std::uint8_t>(data, data + 3));
  EXPECT_EQ(state_->calls[49], 1);
  EXPECT_EQ(state_->calls[50], 1);
  EXPECT_EQ(state_->calls[26], 0);
  EXPECT_EQ(channel_->ReadMemory(kBase + 8190, 16, buf), symResMemReadError);  // server refuses

  // The high half of a 64-bit address is dropped.
  ASSERT_EQ(channel_->ReadMemory64(0x100000000ull | (kBase + 0x10), 4, buf), symResOk);
  EXPECT_EQ(state_->last_address, kBase + 0x10);
}

TEST_F(FerrolinkTest, OtherTargetsUseGenericRequestsWithTheirTarget) {
  struct {
    const char16_t* protocol;
    long target;
  } cases[] = {{u"CanOpen", 0}, {u"Profibus", 512}, {u"canopen", 512}, {u"", 512}};
  for (const auto& c : cases) {
    ASSERT_TRUE(Open(c.protocol));
    EXPECT_FALSE(channel_->direct_memory());
    std::uint8_t buf[5];
    ASSERT_EQ(channel_->ReadMemory(kBase + 0x102, 5, buf), symResOk);
    EXPECT_EQ(state_->last_target, c.target);
    EXPECT_EQ(state_->last_request, (std::vector<std::uint8_t>{2, 0x02, 0x11, 0, 0, 5, 0}));
    EXPECT_EQ(state_->last_capacity, 6);
    EXPECT_EQ(std::vector<std::uint8_t>(buf, buf + 5), Memory(kBase + 0x102, 5));

    const std::uint8_t data[2] = {0xBE, 0xEF};
    ASSERT_EQ(channel_->WriteMemory(kBase + 0x200, 2, data), symResOk);
    EXPECT_EQ(state_->last_request,
              (std::vector<std::uint8_t>{1, 0x00, 0x12, 0, 0, 2, 0, 0xBE, 0xEF}));
    EXPECT_EQ(state_->last_capacity, 1);
    EXPECT_EQ(Memory(kBase + 0x200, 2), std::vector<std::uint8_t>(data, data + 2));
  }
  EXPECT_EQ(state_->calls[49] + state_->calls[50], 0);
}

TEST_F(FerrolinkTest, GenericReadsCheckSizeAndMarker) {
  ASSERT_TRUE(Open(u"Serial"));
  std::vector<std::uint8_t> buf(4097, 0);
  const int requests = state_->calls[26];
  EXPECT_EQ(channel_->ReadMemory(kBase, 4097, buf.data()), symResMemReadError);
  EXPECT_EQ(state_->calls[26], requests);  // refused without calling the server
  ASSERT_EQ(channel_->ReadMemory(kBase, 4096, buf.data()), symResOk);
  // Only the low 16 bits of the size count: 0x10004 reads 4 bytes.
  ASSERT_EQ(channel_->ReadMemory(kBase, 0x10004, buf.data()), symResOk);
  EXPECT_EQ(state_->last_request[5], 4);

  // Without the marker the data arrive but the read fails, also when an
  // earlier answer left a marker at that place.
  ASSERT_EQ(channel_->ReadMemory(kBase, 8, buf.data()), symResOk);
  state_->send_marker = false;
  EXPECT_EQ(channel_->ReadMemory(kBase, 8, buf.data()), symResMemReadError);
  state_->send_marker = true;
  state_->marker = 0x55;
  std::fill(buf.begin(), buf.end(), 0);
  EXPECT_EQ(channel_->ReadMemory(kBase, 8, buf.data()), symResMemReadError);
  EXPECT_EQ(std::vector<std::uint8_t>(buf.begin(), buf.begin() + 8), Memory(kBase, 8));
  const std::uint8_t one = 1;
  EXPECT_EQ(channel_->WriteMemory(kBase, 1, &one), symResMemWriteError);
}

TEST_F(FerrolinkTest, BitsVariablesAndWhatIsNotImplemented) {
  ASSERT_TRUE(Open(u"GDB"));
  const std::uint16_t word = 0xABCD;
  ASSERT_EQ(channel_->WriteBits(kBase, 4, 16, &word), symResOk);
  EXPECT_EQ(state_->last_value, 0xABCDu);
  EXPECT_EQ(state_->last_bit_width, 16u);
  EXPECT_EQ(state_->last_bit_offset, 4u);
  const std::uint8_t three = 3;
  ASSERT_EQ(channel_->WriteBits(kBase, 0, 1, &three), symResOk);
  EXPECT_EQ(state_->last_value, 1u);  // the lowest bit only
  EXPECT_EQ(channel_->WriteBits(kBase, 0, 3, &three), symResInvalidParameter);
  ASSERT_EQ(channel_->WriteBit64(0x700000000ull | kBase, 9, 1), symResOk);
  EXPECT_EQ(state_->last_address, kBase);
  EXPECT_EQ(Memory(kBase + 1, 1)[0] & 2, 2);

  memory_->numbers[3] = 0x12345678;
  memory_->texts[4] = u"hello";
  std::uint8_t buf[16];
  std::memset(buf, 0xEE, sizeof buf);
  ASSERT_EQ(channel_->ReadVariable(3, 0, buf, 16, 5), symResOk);
  EXPECT_EQ(state_->last_type, VT_I4);
  std::uint32_t v = 0;
  std::memcpy(&v, buf, 4);
  EXPECT_EQ(v, 0x12345678u);
  for (int i = 8; i < 16; ++i) EXPECT_EQ(buf[i], 0) << i;  // nothing beyond the value field
  ASSERT_EQ(channel_->ReadVariable(4, 0, buf, 4, 8), symResOk);
  EXPECT_STREQ(reinterpret_cast<const char*>(buf), "hel");  // cut and terminated
  state_->value_valid = false;
  EXPECT_EQ(channel_->ReadVariable(3, 0, buf, 4, 5), symResNotOk);
  state_->timed_out = true;
  EXPECT_EQ(channel_->ReadVariable(3, 0, buf, 4, 5), symResTimeoutError);
  EXPECT_EQ(channel_->ReadVariable(99, 0, buf, 4, 5), symResNotOk);  // server call fails

  const VARTYPE expected[] = {VT_VOID, VT_BOOL, VT_ERROR, VT_I2,  VT_UI2,
                              VT_I4,   VT_UI4,  VT_R4,    VT_BSTR};
  for (std::uint8_t io = 0; io < 9; ++io)
    EXPECT_EQ(CFerrolinkCommunication::VarTypeOf(io), expected[io]);
  EXPECT_EQ(CFerrolinkCommunication::VarTypeOf(9), VT_ERROR);
  EXPECT_EQ(CFerrolinkCommunication::VarTypeOf(255), VT_NULL);

  std::uint32_t size = 4;
  EXPECT_EQ(channel_->Transact(buf, 4, buf, &size), symResNotImplemented);
  EXPECT_EQ(channel_->WriteVariable(3, 0, buf, 4, 5), symResNotImplemented);
  EXPECT_TRUE(channel_->Close());
  EXPECT_EQ(channel_->ReadMemory(kBase, 4, buf), symResNotInited);
  EXPECT_EQ(channel_->WriteBit(kBase, 0, 1), symResNotInited);
  EXPECT_EQ(channel_->ReadVariable(3, 0, buf, 4, 5), symResNotInited);
}

TEST_F(FerrolinkTest, FailedOpenLeavesNoServerBehind) {
  const int factory_only = state_->live_objects;
  state_->fail_connect = true;
  EXPECT_FALSE(Open(u"GDB"));
  EXPECT_EQ(state_->live_objects, factory_only);
  state_->fail_connect = false;
  state_->fail_get_target = true;
  EXPECT_FALSE(Open(u"GDB"));
  EXPECT_EQ(state_->live_objects, factory_only);
  state_->fail_get_target = false;
  state_->fail_protocol_name = true;
  EXPECT_FALSE(Open(u"GDB"));
  EXPECT_EQ(state_->live_objects, factory_only);
  server_.reset();  // class no longer registered
  EXPECT_FALSE(Open(u"GDB"));
}

// The channel reaches the methods by their places in the method table; the
// server must have them there.
TEST_F(FerrolinkTest, MethodsSitAtTheirPositions) {
  IUnknown* object = nullptr;
  ASSERT_EQ(CoCreateInstance(kFerrolinkServerClass, nullptr, CLSCTX_ALL, IID_IUnknown,
                             reinterpret_cast<void**>(&object)),
            S_OK);
  IFerrolinkConnection* connection = nullptr;
  ASSERT_EQ(object->QueryInterface(kFerrolinkConnectionIid, reinterpret_cast<void**>(&connection)),
            S_OK);
  object->Release();
  void** table = *reinterpret_cast<void***>(connection);
  using Connect = HRESULT(STDMETHODCALLTYPE*)(IFerrolinkConnection*, BSTR);
  using GetTarget = HRESULT(STDMETHODCALLTYPE*)(IFerrolinkConnection*, IUnknown**);
  BSTR name = SysAllocString(reinterpret_cast<const OLECHAR*>(u"x"));
  EXPECT_EQ(reinterpret_cast<Connect>(table[7])(connection, name), S_OK);
  SysFreeString(name);
  IUnknown* target = nullptr;
  EXPECT_EQ(reinterpret_cast<GetTarget>(table[14])(connection, &target), S_OK);
  EXPECT_EQ(state_->calls[7], 1);
  EXPECT_EQ(state_->calls[14], 1);
  connection->Release();

  IFerrolinkTarget* t = nullptr;
  ASSERT_EQ(target->QueryInterface(kFerrolinkTargetIid, reinterpret_cast<void**>(&t)), S_OK);
  target->Release();
  table = *reinterpret_cast<void***>(t);
  LONG flag = 0;
  using Flag = HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, LONG*);
  reinterpret_cast<Flag>(table[17])(t, &flag);
  reinterpret_cast<Flag>(table[21])(t, &flag);
  BSTR protocol = nullptr;
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, BSTR*)>(table[13])(t, &protocol);
  SysFreeString(protocol);
  BYTE buf[4];
  using Memory = HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, ULONG, LONG, BYTE*);
  reinterpret_cast<Memory>(table[49])(t, kBase, 4, buf);
  reinterpret_cast<Memory>(table[50])(t, kBase, 4, buf);
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, ULONG, ULONG, BYTE)>(table[58])(
      t, kBase, 0, 1);
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, ULONG, BYTE, ULONG, ULONG)>(
      table[59])(t, kBase, 8, 0, 1);
  BYTE request[7] = {2, 0, 0x10, 0, 0, 1, 0};
  LONG capacity = sizeof buf;
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, LONG, BYTE*, LONG, BYTE*, LONG*)>(
      table[26])(t, 0, request, 7, buf, &capacity);
  VARIANT v;
  VariantInit(&v);
  reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IFerrolinkTarget*, USHORT, LONG, VARTYPE, VARIANT*)>(
      table[28])(t, 1, 0, VT_I4, &v);
  VariantClear(&v);
  for (int position : {13, 17, 21, 26, 28, 49, 50, 58, 59}) {
    EXPECT_EQ(state_->calls[position], 1) << position;
  }
  t->Release();
}

// Protocol 1 opens a workspace through this channel where COM exists: the
// channel connects, and the symbol service it lacks refuses the workspace.
TEST_F(FerrolinkTest, WorkspaceOnProtocolOne) {
  ASSERT_EQ(QXSym_Init(), symResOk);
  QXSymServerAddress a{};
  const std::int32_t protocol = 1;
  std::memcpy(&a.protocol, &protocol, sizeof protocol);
  std::snprintf(a.ip, sizeof a.ip, "plc1");
  QXSymWorkspaceHandle ws = 0;
  const QXSymResult r = QXSym_OpenWorkspace(0, &a, &ws);
#if defined(_WIN32)
  EXPECT_EQ(r, symResNotImplemented);
  EXPECT_EQ(state_->calls[7], 1);
#else
  EXPECT_EQ(r, symResInvalidAddress);  // no COM channel on this system
  EXPECT_EQ(state_->calls[7], 0);
#endif
  EXPECT_EQ(ws, 0);
  EXPECT_EQ(QXSym_Shutdown(), symResOk);
}

}  // namespace
}  // namespace qxsym
