// Workspaces and global tags through the exported functions, against both
// sources.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ApiFixture.h"

namespace qxsym::test {
namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

std::string TempPath(const char* name) {
  return std::string(::testing::TempDir()) + "qxsym_" + name + "_" + std::to_string(::getpid());
}

using WorkspaceTest = ApiTest;

TEST_P(WorkspaceTest, VersionRuleDecidesTheOpen) {
  struct Case {
    const char* version;
    std::uint8_t v[4];
    QXSymResult expected;
  } cases[] = {{"3.0.0.7", {3, 0, 0, 7}, symResOkServerNotFullSupport},
               {"3.0.1.0", {3, 0, 1, 0}, symResOk},
               {"3.1.0.0", {3, 1, 0, 0}, symResOk},
               {"2.9.9.9", {2, 9, 9, 9}, symResServerNotCompatible},
               {"4.0.0.0", {4, 0, 0, 0}, symResServerNotCompatible}};
  for (const Case& c : cases) {
    ApiSource src;
    std::string error;
    ASSERT_TRUE(src.Start(GetParam(), DemoModelPath(), {"--version", c.version}, &error)) << error;
    if (src.host_table()) src.host_table()->service().SetVersion(c.v[0], c.v[1], c.v[2], c.v[3]);
    QXSymServerAddress a = src.address();
    QXSymWorkspaceHandle ws = 12345;
    EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), c.expected) << c.version;
    if (c.expected == symResServerNotCompatible) {
      EXPECT_EQ(ws, 0);
      EXPECT_EQ(QXSym_IsValidWorkspace(ws), symResInvalidHandle);
    } else {
      ASSERT_NE(ws, 0);
      std::uint8_t v[4] = {};
      EXPECT_EQ(QXSym_GetServerVersion(ws, &v[0], &v[1], &v[2], &v[3]), symResOk);
      EXPECT_EQ(0, std::memcmp(v, c.v, 4)) << c.version;
      EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
    }
  }
}

TEST_P(WorkspaceTest, LookupsListsAndFilters) {
  std::uint32_t total = 0;
  ASSERT_EQ(QXSym_GetGlobalTagsNum(ws_, &total), symResOk);
  EXPECT_EQ(total, 32u);

  QXSymTagHandle* list = nullptr;
  std::uint32_t n = 0;
  ASSERT_EQ(QXSym_GetGlobalTags(ws_, &list, &n), symResOk);
  ASSERT_EQ(n, total);
  EXPECT_EQ(list[n], 0);  // terminated
  EXPECT_EQ(TagName(list[0]), "EStopOk");
  EXPECT_EQ(TagName(list[n - 1]), "Heatmap");
  QXSymTagHandle first = list[0];
  ASSERT_EQ(QXSym_FreeTagList(list), symResOk);
  EXPECT_EQ(QXSym_CloseTag(first), symResInvalidHandle);  // closed with the list

  std::uint32_t cnt = 0;
  ASSERT_EQ(QXSym_QueryGlobalTagsNum(ws_, "cnt*", &cnt), symResOk);  // case-insensitive glob
  EXPECT_EQ(cnt, 8u);
  ASSERT_EQ(QXSym_QueryGlobalTags(ws_, "Cnt?int", &list, &n), symResOk);
  ASSERT_EQ(n, 4u);  // CntSint, CntDint, CntLint and no CntUsint
  for (std::uint32_t i = 0; i < n; ++i) EXPECT_EQ(TagName(list[i]).size(), 7u);
  ASSERT_EQ(QXSym_FreeTagList(list), symResOk);

  // A null filter is the empty filter, which the simulator lets match every tag.
  ASSERT_EQ(QXSym_QueryGlobalTagsNum(ws_, nullptr, &cnt), symResOk);
  EXPECT_EQ(cnt, total);
  ASSERT_EQ(QXSym_QueryGlobalTags(ws_, "nothing*", &list, &n), symResOk);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(list[0], 0);
  EXPECT_EQ(QXSym_FreeTagList(list), symResOk);

  // Caller arrays: exact size works; a smaller one is refused whole.
  std::vector<QXSymTagHandle> arr(cnt + 1, -7);
  ASSERT_EQ(QXSym_QueryFillGlobalTagList(ws_, "Cnt*", arr.data(), 8), symResOk);
  EXPECT_EQ(TagName(arr[0]), "CntSint");
  EXPECT_EQ(arr[8], -7);  // nothing past the count, no terminator
  for (int i = 0; i < 8; ++i) EXPECT_EQ(QXSym_CloseTag(arr[i]), symResOk);
  std::vector<QXSymTagHandle> small(3, -7);
  const std::size_t host_objects = remote() ? 0 : source_.host_table()->service().object_count();
  EXPECT_EQ(QXSym_QueryFillGlobalTagList(ws_, "Cnt*", small.data(), 3), symResBufferOverflow);
  EXPECT_EQ(small, std::vector<QXSymTagHandle>(3, -7));
  // A refused list leaves no tag open at the host.
  if (!remote()) {
    EXPECT_EQ(source_.host_table()->service().object_count(), host_objects);
  }
  EXPECT_EQ(QXSym_FillGlobalTagList(ws_, small.data(), 0), symResInvalidParameter);
  EXPECT_EQ(QXSym_FreeTagList(small.data()), symResInvalidHandle);  // not the library's

  QXSymTagHandle t = 99;
  EXPECT_EQ(QXSym_GetGlobalTag(ws_, "NoSuchTag", &t), symResSymbolNotFound);
  EXPECT_EQ(t, 99);
  t = Tag("line.main.speed");
  EXPECT_EQ(TagName(t), "Line.Main.Speed");
  EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(WorkspaceTest, SymbolTableDownloadAndOverwriteRules) {
  const std::string path = TempPath(SourceName(GetParam()));
  std::remove(path.c_str());
  if (!remote()) {
    EXPECT_EQ(QXSym_GetSymbolTable(ws_, path.c_str(), 1), symResNotImplemented);
    EXPECT_FALSE(std::ifstream(path).good());  // no file touched
    return;
  }
  ASSERT_EQ(QXSym_GetSymbolTable(ws_, path.c_str(), 0), symResOk);
  EXPECT_EQ(ReadFile(path), ReadFile(DemoModelPath()));
  // An existing file without overwrite is refused before the handle is looked at.
  EXPECT_EQ(QXSym_GetSymbolTable(ws_, path.c_str(), 0), symResFileAlreadyExists);
  EXPECT_EQ(QXSym_GetSymbolTable(424242, path.c_str(), 0), symResFileAlreadyExists);
  { std::ofstream(path) << "old"; }
  ASSERT_EQ(QXSym_GetSymbolTable(ws_, path.c_str(), 1), symResOk);
  EXPECT_EQ(ReadFile(path), ReadFile(DemoModelPath()));
  EXPECT_EQ(QXSym_GetSymbolTable(ws_, "/nonexistent-dir/x/table.json", 1), symResCannotOpenFile);
  EXPECT_EQ(QXSym_GetSymbolTable(ws_, nullptr, 1), symResInvalidParameter);
  std::remove(path.c_str());
}

TEST_P(WorkspaceTest, CloseInvalidatesHandleAndStrandsItsObjects) {
  QXSymTagHandle t = Tag("CntInt");
  QXSymWorkspaceHandle ws2 = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &address_, &ws2), symResOk);
  EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResOk);
  EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResInvalidHandle);
  EXPECT_EQ(QXSym_IsValidWorkspace(ws_), symResInvalidHandle);
  ws_ = 0;
  // The tag outlives its workspace as a handle but can no longer reach it.
  std::int16_t v = 0;
  const QXSymResult r = QXSym_GetTagValue_Ptr(t, &v, sizeof v);
  EXPECT_EQ(r, remote() ? symResConnectionLost : symResInvalidWorkspace);
  // The other workspace is unaffected.
  EXPECT_EQ(QXSym_IsValidWorkspace(ws2), symResOk);
  EXPECT_EQ(QXSym_CloseWorkspace(ws2), symResOk);
}

TEST_P(WorkspaceTest, WrongKindsNullsAndUnknownHandles) {
  QXSymTagHandle t = Tag("CntInt");
  std::uint32_t n = 0;
  EXPECT_EQ(QXSym_GetGlobalTagsNum(t, &n), symResInvalidHandle);  // a tag is not a workspace
  EXPECT_EQ(QXSym_CloseTag(ws_), symResInvalidHandle);            // and a workspace is not a tag
  EXPECT_EQ(QXSym_CloseType(t), symResInvalidHandle);
  EXPECT_EQ(QXSym_ReadGroup(t), symResInvalidHandle);
  EXPECT_EQ(QXSym_GetGlobalTagsNum(0, &n), symResInvalidHandle);
  EXPECT_EQ(QXSym_GetGlobalTagsNum(ws_ + 100000, &n), symResInvalidHandle);
  EXPECT_EQ(QXSym_GetGlobalTagsNum(ws_, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetGlobalTag(ws_, nullptr, &t), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetGlobalTag(ws_, "CntInt", nullptr), symResInvalidParameter);
  std::uint8_t a, b, c;
  EXPECT_EQ(QXSym_GetServerVersion(ws_, &a, &b, &c, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_GetGlobalTags(ws_, nullptr, &n), symResInvalidParameter);
  EXPECT_EQ(QXSym_FreeTagList(nullptr), symResInvalidParameter);
  QXSymWorkspaceHandle ws = 0;
  EXPECT_EQ(QXSym_OpenWorkspace(0, nullptr, nullptr), symResInvalidParameter);
  EXPECT_EQ(QXSym_OpenWorkspace(0, nullptr, &ws), symResInvalidAddress);
  EXPECT_EQ(QXSym_CloseTag(t), symResOk);
}

TEST_P(WorkspaceTest, NotStartedAnswers) {
  QXSymTagHandle t = Tag("CntInt");
  ASSERT_EQ(QXSym_Shutdown(), symResOk);
  std::uint32_t n = 0;
  QXSymWorkspaceHandle ws = 0;
  EXPECT_EQ(QXSym_OpenWorkspace(0, nullptr, nullptr), symResNotInited);
  EXPECT_EQ(QXSym_GetGlobalTagsNum(ws_, &n), symResNotInited);
  EXPECT_EQ(QXSym_GetTagDataSize(t, nullptr), symResNotInited);
  EXPECT_EQ(QXSym_CloseType(t), symResNotInited);
  EXPECT_EQ(QXSym_ReadGroup(0), symResNotInited);
  EXPECT_EQ(QXSym_FreeTagList(nullptr), symResNotInited);
  EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResNotInited);
  EXPECT_EQ(QXSym_GetCodeId(0, nullptr, 0, 0, 0), symResNotImplemented);
  EXPECT_EQ(QXSym_GetGlobalTagsMap(0, nullptr), symResNotImplemented);
  // After the next start the earlier handles are unknown, and a new workspace works.
  ASSERT_EQ(QXSym_Init(), symResOk);
  EXPECT_EQ(QXSym_GetGlobalTagsNum(ws_, &n), symResInvalidHandle);
  EXPECT_EQ(QXSym_CloseTag(t), symResInvalidHandle);
  ASSERT_EQ(QXSym_OpenWorkspace(0, &address_, &ws), symResOk);
  EXPECT_NE(ws, ws_);
  ws_ = ws;
}

INSTANTIATE_TEST_SUITE_P(Sources, WorkspaceTest,
                         ::testing::Values(SourceKind::kSimulator, SourceKind::kHostTable),
                         [](const ::testing::TestParamInfo<SourceKind>& i) {
                           return std::string(SourceName(i.param));
                         });

// Addresses that cannot be attached.
TEST(OpenWorkspaceTest, AddressesThatCannotAttach) {
  ASSERT_EQ(QXSym_Init(), symResOk);
  QXSymWorkspaceHandle ws = 77;
  QXSymServerAddress a{};
  std::int32_t seven = 7;
  std::memcpy(&a.protocol, &seven, sizeof seven);
  EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResInvalidAddress);
  EXPECT_EQ(ws, 0);
  a = QXSymServerAddress{};
  a.protocol = symProtDirectAccess;  // null table pointer
  EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResInvalidAddress);

  // A loopback port that nobody listens on.
  int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
  socklen_t len = sizeof sa;
  ASSERT_EQ(::getsockname(s, reinterpret_cast<sockaddr*>(&sa), &len), 0);
  ::close(s);
  a = QXSymServerAddress{symProtGDB_TCP, "127.0.0.1", ntohs(sa.sin_port), 500};
  EXPECT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResInvalidAddress);
  EXPECT_EQ(QXSym_Shutdown(), symResOk);
}

}  // namespace
}  // namespace qxsym::test
