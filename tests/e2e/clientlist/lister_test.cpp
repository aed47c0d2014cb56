// The client core's lister against the simulator over TCP and the host
// table in this process: complete and exact beyond one list reply for names
// of any bytes, streamed, with extra connections that come up, are refused,
// stay silent or fail, and bounded when the counts lie.
#include "Lister.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "ApiSource.h"
#include "ListModel.h"
#include "ListProxy.h"
#include "QXSymbols.h"

namespace qxsym::test {
namespace {

using client::Encoding;
using client::Lister;
using client::ListOptions;
using client::TagInfo;

// The model file of this test process, removed when it ends.
const std::string& ModelPath() {
  struct File {
    std::string path = "/tmp/qxsym-clientlist-" + std::to_string(::getpid()) + ".json";
    File() { std::ofstream(path) << ModelJson(ListModelTags()); }
    ~File() { std::remove(path.c_str()); }
  };
  static const File file;
  return file.path;
}

// Opens extra connections to one address, counting the attempts; the
// handles it gave out are checked to be closed afterwards.
struct Extras {
  QXSymServerAddress address{};
  std::atomic<int> attempts{0};
  std::mutex mutex;
  std::vector<QXSymWorkspaceHandle> opened;

  client::OpenExtra Fn() {
    return [this] {
      ++attempts;
      QXSymWorkspaceHandle h = 0;
      const QXSymResult r = QXSym_OpenWorkspace(0, &address, &h);
      if (r != symResOk && r != symResOkServerNotFullSupport) return QXSymWorkspaceHandle{0};
      std::lock_guard<std::mutex> lock(mutex);
      opened.push_back(h);
      return h;
    };
  }
  void ExpectAllClosed() {
    for (QXSymWorkspaceHandle h : opened) EXPECT_EQ(QXSym_IsValidWorkspace(h), symResInvalidHandle);
  }
};

struct Listing {
  std::vector<TagInfo> tags;
  std::set<std::string> names;
  bool ok = true;
  QXSymResult rc = symResOk;
  int batches = 0;
  std::uint64_t requests = 0;
};

Listing List(QXSymWorkspaceHandle ws, ListOptions options, client::OpenExtra open = nullptr,
             Encoding encoding = Encoding::kUtf8) {
  Listing out;
  Lister lister(ws, encoding, std::move(open), std::move(options));
  for (int calls = 0; calls < 100000; ++calls) {
    std::vector<TagInfo> batch;
    bool done = false;
    if (!lister.Next(&batch, &done, &out.rc)) {
      out.ok = false;
      break;
    }
    if (!batch.empty()) ++out.batches;
    for (TagInfo& t : batch) {
      EXPECT_TRUE(out.names.insert(t.name).second) << "handed out twice: " << t.name;
      out.tags.push_back(std::move(t));
    }
    if (done) break;
  }
  out.requests = lister.requests();
  return out;
}

class ListerTest : public ::testing::TestWithParam<SourceKind> {
 protected:
  void SetUp() override {
    ASSERT_EQ(QXSym_Init(), symResOk);
    Start({});
  }
  void Start(const std::vector<std::string>& args) {
    std::string error;
    ASSERT_TRUE(source_.Start(GetParam(), ModelPath(), args, &error)) << error;
    address_ = source_.address();
    ASSERT_EQ(QXSym_OpenWorkspace(0, &address_, &ws_), symResOk);
    extras_.address = address_;
    if (!remote()) baseline_objects_ = source_.host_table()->service().object_count();
  }
  void TearDown() override {
    extras_.ExpectAllClosed();
    // Every tag listed was closed at the source.
    if (!remote()) {
      EXPECT_EQ(source_.host_table()->service().object_count(), baseline_objects_);
    }
    if (ws_ != 0) {
      EXPECT_EQ(QXSym_CloseWorkspace(ws_), symResOk);
    }
    EXPECT_EQ(QXSym_Shutdown(), symResOk);
  }
  bool remote() const { return GetParam() == SourceKind::kSimulator; }

  ApiSource source_;
  QXSymServerAddress address_{};
  QXSymWorkspaceHandle ws_ = 0;
  Extras extras_;
  std::size_t baseline_objects_ = 0;
  const std::vector<ModelTag> model_ = ListModelTags();
};

TEST_P(ListerTest, ListsExactlyWhatTheFilterMatchesForNamesOfAnyBytes) {
  const char* filters[] = {"",
                           "*",
                           "Motor*",
                           "*5",
                           "GVL.*",
                           "$*",
                           "zo*",
                           "*\xC3\xAB*",
                           "M?tor0?1*",
                           "*.*",
                           "*o*o*",
                           "Motor0001",
                           "MIXED*",
                           "?",
                           "Nothing*",
                           "*r0??",
                           ("\xC3\x9C"
                            "ber*")};
  for (const char* f : filters) {
    ListOptions o;
    o.filter = f;
    const Listing l = List(ws_, o);
    ASSERT_TRUE(l.ok) << f << ": " << l.rc;
    EXPECT_EQ(l.names, Expected(model_, f)) << "filter '" << f << "'";
  }
}

TEST_P(ListerTest, NamesWithPathMarksAreFoundWhole) {
  for (const char* name : {"GVL.Speed007", "Motor.Temp", "a.b.c", "$Sys003"}) {
    QXSymTagHandle t = 0;
    ASSERT_EQ(QXSym_GetGlobalTag(ws_, name, &t), symResOk) << name;
    char buf[QXSYM_MAX_STRING];
    std::uint16_t len = sizeof buf;
    EXPECT_EQ(QXSym_GetTagName(t, buf, &len), symResOk);
    EXPECT_STREQ(buf, name);
    EXPECT_EQ(QXSym_CloseTag(t), symResOk);
  }
}

TEST_P(ListerTest, HandsOutBatchesAsFoundAndRefusesBadOptions) {
  ListOptions o;
  Lister lister(ws_, Encoding::kUtf8, nullptr, o);
  std::vector<TagInfo> batch;
  bool done = true;
  QXSymResult rc = symResOk;
  ASSERT_TRUE(lister.Next(&batch, &done, &rc));
  EXPECT_FALSE(batch.empty());
  EXPECT_LT(batch.size(), model_.size());
  EXPECT_FALSE(done);

  ListOptions bad;
  bad.connections = client::kMaxListConnections + 1;
  EXPECT_FALSE(List(ws_, bad).ok);
  bad.connections = 1;
  bad.filter = std::string(300, '*');
  const Listing l = List(ws_, bad);
  EXPECT_FALSE(l.ok);
  EXPECT_EQ(l.rc, symResInvalidParameter);
}

TEST_P(ListerTest, NamesArriveInTheSessionEncoding) {
  ListOptions o;
  o.filter = "zo*";
  const Listing latin1 = List(ws_, o, nullptr, Encoding::kLatin1);
  ASSERT_TRUE(latin1.ok);
  // Each byte of the stored name is one character in Latin-1.
  EXPECT_EQ(latin1.names.count("Zo\xC3\x83\xC2\xAB"
                               "001"),
            1u);
  EXPECT_EQ(latin1.names.size(), Expected(model_, "zo*").size());
}

TEST_P(ListerTest, DetailsAndDescriptionsMatchTheModel) {
  ListOptions o;
  o.details = true;
  o.descriptions = true;
  o.connections = 3;
  const Listing l = List(ws_, o, extras_.Fn());
  ASSERT_TRUE(l.ok) << l.rc;
  ASSERT_EQ(l.tags.size(), model_.size());
  std::size_t checked = 0;
  for (const TagInfo& t : l.tags) {
    for (const ModelTag& m : model_) {
      if (m.name != t.name) continue;
      ++checked;
      EXPECT_EQ(t.type_name, m.type) << t.name;
      EXPECT_EQ(t.description, m.description) << t.name;
      EXPECT_EQ((t.flags & client::kTagReadOnly) != 0, m.read_only) << t.name;
      EXPECT_EQ((t.flags & client::kTagBitAddress) != 0, m.bit >= 0) << t.name;
      if (m.type == "LREAL") {
        EXPECT_EQ(t.size, 8u) << t.name;
        EXPECT_EQ(t.tyvar, static_cast<std::uint32_t>(QXSymTyVarLReal)) << t.name;
      }
    }
    // Basic type and sizes as a lookup by name gives them with the tag:
    // the ones of the tag's own type, also where types share a size.
    QXSymTagHandle h = 0;
    ASSERT_EQ(QXSym_GetGlobalTag(ws_, t.name.c_str(), &h), symResOk) << t.name;
    QXSymTyVar tyvar{};
    std::uint32_t size = 0;
    std::uint32_t full_size = 0;
    EXPECT_EQ(QXSym_GetTagDataTypeVar(h, &tyvar), symResOk);
    EXPECT_EQ(QXSym_GetTagDataSize(h, &size), symResOk);
    EXPECT_EQ(QXSym_GetTagDataFullSize(h, &full_size), symResOk);
    EXPECT_EQ(t.tyvar, static_cast<std::uint32_t>(tyvar)) << t.name;
    EXPECT_EQ(t.size, size) << t.name;
    EXPECT_EQ(t.full_size, full_size) << t.name;
    EXPECT_EQ(QXSym_CloseTag(h), symResOk);
  }
  EXPECT_EQ(checked, model_.size());
}

TEST_P(ListerTest, FactsOfOneTypeAreAskedOncePerListing) {
  // Over one connection the plan's requests are the same for both
  // listings; what the full one adds per tag is its type name, read-only
  // flag and description, the bit address of a BOOL, and the basic type
  // and both sizes once for each type name.
  ListOptions names;
  const Listing n = List(ws_, names);
  ListOptions full;
  full.details = full.descriptions = true;
  const Listing f = List(ws_, full);
  ASSERT_TRUE(n.ok && f.ok) << n.rc << " " << f.rc;
  ASSERT_EQ(f.tags.size(), model_.size());
  std::set<std::string> types;
  std::uint64_t bools = 0;
  for (const ModelTag& m : model_) {
    types.insert(m.type);
    bools += m.type == "BOOL" ? 1 : 0;
  }
  EXPECT_EQ(f.requests - n.requests, 3 * model_.size() + bools + 3 * types.size());
  // A second listing learns the types anew (it may meet another source).
  const Listing again = List(ws_, full);
  EXPECT_EQ(again.requests, f.requests);
}

TEST_P(ListerTest, ExtraConnectionsJoinAndAreClosed) {
  for (unsigned n : {1u, 3u, 8u}) {
    ListOptions o;
    o.connections = n;
    const Listing l = List(ws_, o, extras_.Fn());
    ASSERT_TRUE(l.ok) << n << ": " << l.rc;
    EXPECT_EQ(l.names, Expected(model_, "")) << n;
  }
  // The host table may be through before an extra connection is needed.
  if (remote()) {
    EXPECT_GE(extras_.attempts.load(), 2);
  }
  EXPECT_LE(extras_.attempts.load(), 2 + 7);
}

TEST_P(ListerTest, SmallListingOpensNoExtraConnection) {
  ListOptions o;
  o.filter = "$*";
  o.connections = 8;
  const Listing l = List(ws_, o, extras_.Fn());
  ASSERT_TRUE(l.ok);
  EXPECT_EQ(l.names.size(), 160u);
  EXPECT_EQ(extras_.attempts.load(), 0);
  EXPECT_EQ(l.batches, 1);
}

// Counts of a source that never add up: one more than there are, or far too
// many for every filter.
std::atomic<int> g_lie{0};
QXSymDA_QueryGlobalTagsNum g_real_count = nullptr;
QXSymResult LyingCount(uint32_t ctx, const char* filter, uint32_t* count) {
  const QXSymResult r = g_real_count(ctx, filter, count);
  if (r == symResOk) *count = g_lie.load() == 1 ? *count + 1 : 100000;
  return r;
}

TEST_P(ListerTest, CountsThatNeverAddUpFailFast) {
  if (remote()) GTEST_SKIP() << "the host table is made to lie";
  static QXSymDirectAccessTable lying;
  lying = *source_.host_table()->table();
  g_real_count = lying.QueryGlobalTagsNum;
  lying.QueryGlobalTagsNum = &LyingCount;
  QXSymServerAddress a{};
  a.protocol = symProtDirectAccess;
  const QXSymDirectAccessTable* t = &lying;
  std::memcpy(a.ip, &t, sizeof t);
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  for (int lie : {1, 2}) {
    g_lie = lie;
    ListOptions o;
    o.filter = lie == 1 ? "" : "Motor*";
    o.connections = 3;
    extras_.address = a;
    const Listing l = List(ws, o, extras_.Fn());
    EXPECT_FALSE(l.ok) << lie;
    EXPECT_EQ(l.rc, symResBufferOverflow) << lie;
    // Each tag named once at the most, and a few counts and lists.
    EXPECT_LT(l.requests, 2 * model_.size() + 200) << lie;
  }
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
}

TEST_P(ListerTest, ControllerThatRefusesMoreClientsCostsOneAttempt) {
  if (!remote()) GTEST_SKIP() << "a connection limit of the simulator";
  ASSERT_EQ(QXSym_CloseWorkspace(ws_), symResOk);
  ws_ = 0;
  source_.simulator().Stop();
  Start({"--max-connections", "2"});
  ListOptions o;
  o.connections = 8;
  const Listing l = List(ws_, o, extras_.Fn());
  ASSERT_TRUE(l.ok) << l.rc;
  EXPECT_EQ(l.names, Expected(model_, ""));
  EXPECT_EQ(extras_.attempts.load(), 2);  // one came up, the next was refused
  EXPECT_EQ(extras_.opened.size(), 1u);
}

TEST_P(ListerTest, SilentExtraConnectionDoesNotHoldTheListingUp) {
  if (!remote()) GTEST_SKIP() << "a relay over TCP";
  ListProxy proxy(source_.simulator().host(), source_.simulator().port(), [](int i) {
    return ListProxy::Plan{i > 0, 0};
  });
  QXSymServerAddress a = address_;
  a.port = proxy.port();
  a.timeout = 300;
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  extras_.address = a;
  ListOptions o;
  o.connections = 4;
  const Listing l = List(ws, o, extras_.Fn());
  ASSERT_TRUE(l.ok) << l.rc;
  EXPECT_EQ(l.names, Expected(model_, ""));
  EXPECT_EQ(extras_.attempts.load(), 1);
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
}

TEST_P(ListerTest, FailedExtraConnectionHandsItsWorkOn) {
  if (!remote()) GTEST_SKIP() << "a relay over TCP";
  // The second connection is cut in the middle of the listing.
  ListProxy proxy(source_.simulator().host(), source_.simulator().port(), [](int i) {
    return ListProxy::Plan{false, i == 1 ? 3000u : 0u};
  });
  QXSymServerAddress a = address_;
  a.port = proxy.port();
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  extras_.address = a;
  ListOptions o;
  o.connections = 3;
  o.details = true;
  const Listing l = List(ws, o, extras_.Fn());
  ASSERT_TRUE(l.ok) << l.rc;
  EXPECT_EQ(proxy.cuts(), 1);
  EXPECT_EQ(l.names, Expected(model_, ""));
  EXPECT_EQ(QXSym_CloseWorkspace(ws), symResOk);
}

TEST_P(ListerTest, ListerGoneInTheMiddleClosesWhatItOpened) {
  ListOptions o;
  o.connections = 3;
  o.details = true;
  {
    Lister lister(ws_, Encoding::kUtf8, extras_.Fn(), o);
    std::vector<TagInfo> batch;
    bool done = false;
    QXSymResult rc = symResOk;
    ASSERT_TRUE(lister.Next(&batch, &done, &rc));
    // The host table may be through while the first extra connection opens.
    if (remote()) {
      EXPECT_FALSE(done);
    }
    ASSERT_TRUE(lister.Next(&batch, &done, &rc));  // lists half named may be left
  }
  // TearDown: the extra workspaces are closed, and with the host table the
  // source holds no tag of the listing any more.
  ListOptions all;
  EXPECT_EQ(List(ws_, all).names, Expected(model_, ""));
}

TEST_P(ListerTest, FailureOnTheOwnConnectionFailsTheListing) {
  if (!remote()) GTEST_SKIP() << "a relay over TCP";
  ListProxy proxy(source_.simulator().host(), source_.simulator().port(), [](int i) {
    return ListProxy::Plan{false, i == 0 ? 4000u : 0u};
  });
  QXSymServerAddress a = address_;
  a.port = proxy.port();
  a.timeout = 500;
  QXSymWorkspaceHandle ws = 0;
  ASSERT_EQ(QXSym_OpenWorkspace(0, &a, &ws), symResOk);
  extras_.address = a;
  ListOptions o;
  o.connections = 2;
  const Listing l = List(ws, o, extras_.Fn());
  EXPECT_FALSE(l.ok);
  EXPECT_NE(l.rc, symResOk);
  QXSym_CloseWorkspace(ws);
}

INSTANTIATE_TEST_SUITE_P(Sources, ListerTest,
                         ::testing::Values(SourceKind::kSimulator, SourceKind::kHostTable),
                         [](const ::testing::TestParamInfo<SourceKind>& i) {
                           return std::string(SourceName(i.param));
                         });

}  // namespace
}  // namespace qxsym::test
