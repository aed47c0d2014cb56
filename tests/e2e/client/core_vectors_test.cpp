// The tag-level cases of the shared vector table (tests/vectors/values.json)
// through the core's C interface: on one source started fresh with the
// table's model, in the order of the file; the fault cases on a simulator
// with that fault.
#include <fstream>
#include <map>

#include "CoreFixture.h"
#include "vectors.h"

namespace qxsym::test {
namespace {

namespace vectors = client::vectors;
using client::LeafValue;
using client::ValueKind;
using vectors::Json;

LeafValue FromCore(const QXSymCoreValue& v) {
  LeafValue out;
  out.kind = static_cast<ValueKind>(v.kind);
  out.b = v.boolean != 0;
  out.i = v.i;
  out.u = v.u;
  out.f = v.f;
  const char* text = reinterpret_cast<const char*>(v.data);
  if (out.kind == ValueKind::kText) out.text.assign(text, text + v.length);
  if (out.kind == ValueKind::kBytes) out.bytes.assign(v.data, v.data + v.length);
  return out;
}

QXSymCoreValue ToCore(const LeafValue& v) {
  QXSymCoreValue out{};
  out.kind = static_cast<std::uint32_t>(v.kind);
  out.boolean = v.b ? 1 : 0;
  out.i = v.i;
  out.u = v.u;
  out.f = v.f;
  if (v.kind == ValueKind::kText) {
    out.data = reinterpret_cast<const std::uint8_t*>(v.text.data());
    out.length = static_cast<std::uint32_t>(v.text.size());
  } else if (v.kind == ValueKind::kBytes) {
    out.data = v.bytes.data();
    out.length = static_cast<std::uint32_t>(v.bytes.size());
  }
  return out;
}

std::string Label(const QXSymCoreLeaf& leaf, std::uint32_t k) {
  if (leaf.num_dims == 0) return leaf.path;
  std::string out = std::string(leaf.path) + "[";
  std::vector<std::int64_t> index(leaf.num_dims);
  for (std::uint32_t d = leaf.num_dims; d-- > 0;) {
    index[d] = leaf.lower[d] + k % leaf.dims[d];
    k /= leaf.dims[d];
  }
  for (std::uint32_t d = 0; d < leaf.num_dims; ++d) {
    out += (d ? "," : "") + std::to_string(index[d]);
  }
  return out + "]";
}

// One value per element: path, offset, size, basic type.
struct Flat {
  std::string path;
  std::uint32_t offset, size, tyvar;
};
std::vector<Flat> Flatten(const QXSymCoreLayout& layout) {
  std::vector<Flat> out;
  for (std::uint32_t i = 0; i < layout.leaf_count; ++i) {
    const QXSymCoreLeaf& l = layout.leaves[i];
    for (std::uint32_t k = 0; k < l.count; ++k) {
      out.push_back({Label(l, k), l.offset + k * l.element_size, l.element_size, l.tyvar});
    }
  }
  return out;
}

std::uint32_t EncodingNumber(const Json& c) {
  switch (vectors::EncodingOf(c)) {
    case client::Encoding::kUtf8:
      return QXSymCoreUtf8;
    case client::Encoding::kWindows1252:
      return QXSymCoreWindows1252;
    default:
      return QXSymCoreLatin1;
  }
}

class CoreVectorsTest : public CoreTest {
 protected:
  std::string Model() const override { return QXSYM_VECTORS_DIR "/model.json"; }
  std::vector<std::string> SimArgs() const override { return faults_ ? kFault : kPlain; }

  QXSymCoreHandle SessionFor(const Json& c) {
    const std::uint32_t e = EncodingNumber(c);
    if (sessions_.count(e) == 0) sessions_[e] = e == QXSymCoreLatin1 ? session_ : OpenSession(e);
    return sessions_[e];
  }

  // Leaves read from path, compared with `want` (all of them, or only
  // those listed when `some`).
  void CheckLeaves(const QXSymCoreReadItem& item, const Json& want, bool some,
                   const std::string& where) {
    ASSERT_EQ(item.result, symResOk) << where << ": " << item.message;
    const std::vector<Flat> flat = Flatten(*item.layout);
    ASSERT_EQ(flat.size(), item.value_count) << where;
    std::map<std::string, std::size_t> at;
    for (std::size_t k = 0; k < flat.size(); ++k) at[flat[k].path] = k;
    if (!some) {
      ASSERT_EQ(want.size(), flat.size()) << where;
    }
    std::size_t k = 0;
    for (const auto& [path, value] : want.items()) {
      if (!some) {
        EXPECT_EQ(flat[k].path, path) << where << " leaf " << k;
      }
      ASSERT_EQ(at.count(path), 1u) << where << ": no leaf " << path;
      EXPECT_TRUE(vectors::SameValue(FromCore(item.values[at[path]]), value))
          << where << " " << path;
      ++k;
    }
  }

  void Check(const Json& want_error, QXSymResult rc, const char* message,
             const std::string& where) {
    EXPECT_EQ(vectors::ResultName(rc), want_error.get<std::string>()) << where << ": " << message;
  }

  void Read(const Json& c, const std::string& where);
  void ReadSet(const Json& c, const std::string& where);
  void Layout(const Json& c, const std::string& where);
  void Write(const Json& c, const std::string& where);
  std::string Raw(const std::string& path);
  void RunAll(bool faults);

  static inline const std::vector<std::string> kPlain = {"--scan", "0"};
  static inline const std::vector<std::string> kFault = {"--scan", "0", "--short-reply"};
  bool faults_ = false;
  std::map<std::uint32_t, QXSymCoreHandle> sessions_;
};

void CoreVectorsTest::Read(const Json& c, const std::string& where) {
  vectors::CheckKeys(c, {"op", "path", "encoding", "leaves", "error", "fault"});
  const std::string path = c["path"];
  const char* p = path.c_str();
  const QXSymCoreReadItem* items = nullptr;
  QXSymCore_Read(SessionFor(c), &p, 1, &items);
  ASSERT_NE(items, nullptr) << where;
  if (c.contains("error")) {
    Check(c["error"], static_cast<QXSymResult>(items[0].result), items[0].message, where);
    EXPECT_EQ(items[0].value_count, 0u) << where;
  } else {
    CheckLeaves(items[0], c["leaves"], false, where);
  }
}

void CoreVectorsTest::ReadSet(const Json& c, const std::string& where) {
  vectors::CheckKeys(c, {"op", "paths", "encoding", "results", "fault"});
  std::vector<std::string> paths = c["paths"].get<std::vector<std::string>>();
  std::vector<const char*> ps;
  for (const std::string& p : paths) ps.push_back(p.c_str());
  const QXSymCoreReadItem* items = nullptr;
  QXSymCore_Read(SessionFor(c), ps.data(), static_cast<std::uint32_t>(ps.size()), &items);
  ASSERT_NE(items, nullptr) << where;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    const Json& r = c["results"][i];
    const std::string at = where + " " + paths[i];
    if (r.contains("error")) {
      Check(r["error"], static_cast<QXSymResult>(items[i].result), items[i].message, at);
    } else {
      CheckLeaves(items[i], r["leaves"], false, at);
    }
  }
}

void CoreVectorsTest::Layout(const Json& c, const std::string& where) {
  vectors::CheckKeys(c, {"op", "path", "leaves", "bounds", "encoding", "error"});
  const std::string path = c["path"];
  const QXSymCoreLayout* layout = nullptr;
  const char* message = nullptr;
  const QXSymResult rc = QXSymCore_Describe(SessionFor(c), path.c_str(), &layout, &message);
  if (c.contains("error")) return Check(c["error"], rc, message, where);
  ASSERT_EQ(rc, symResOk) << where << ": " << message;
  const std::vector<Flat> flat = Flatten(*layout);
  ASSERT_EQ(flat.size(), c["leaves"].size()) << where;
  for (std::size_t k = 0; k < flat.size(); ++k) {
    const Json& l = c["leaves"][k];
    EXPECT_EQ(flat[k].path, l["path"].get<std::string>()) << where << " leaf " << k;
    EXPECT_EQ(flat[k].offset, l["offset"].get<std::uint32_t>()) << where << " " << flat[k].path;
    EXPECT_EQ(flat[k].size, l["size"].get<std::uint32_t>()) << where << " " << flat[k].path;
    EXPECT_EQ(flat[k].tyvar, vectors::TyVarOf(l["type"])) << where << " " << flat[k].path;
  }
  if (!c.contains("bounds")) return;
  ASSERT_EQ(layout->num_dims, c["bounds"].size()) << where;
  for (std::uint32_t d = 0; d < layout->num_dims; ++d) {
    EXPECT_EQ(layout->lower[d], c["bounds"][d][0].get<std::int64_t>()) << where;
    EXPECT_EQ(layout->lower[d] + layout->dims[d] - 1, c["bounds"][d][1].get<std::int64_t>())
        << where;
  }
}

std::string CoreVectorsTest::Raw(const std::string& path) {
  QXSymWorkspaceHandle ws = 0;
  QXSymTagHandle tag = 0;
  std::uint32_t size = 0;
  EXPECT_EQ(QXSym_OpenWorkspace(0, &address_, &ws), symResOk);
  EXPECT_EQ(QXSym_GetGlobalTag(ws, path.c_str(), &tag), symResOk) << path;
  EXPECT_EQ(QXSym_GetTagDataFullSize(tag, &size), symResOk);
  std::vector<std::uint8_t> bytes(size);
  EXPECT_EQ(QXSym_GetTagRawValue_Ptr(tag, bytes.data(), size), symResOk);
  QXSym_CloseTag(tag);
  QXSym_CloseWorkspace(ws);
  return vectors::ToHex(bytes);
}

void CoreVectorsTest::Write(const Json& c, const std::string& where) {
  vectors::CheckKeys(
      c, {"op", "path", "encoding", "value", "error", "message", "raw", "then", "read"});
  std::vector<std::string> keys;
  std::vector<LeafValue> values;
  for (const auto& [key, typed] : c["value"].items()) {
    keys.push_back(key);
    values.push_back(vectors::ValueOf(typed));
  }
  std::vector<QXSymCoreValue> core(values.size());
  std::vector<QXSymCoreWriteItem> items(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) {
    core[i] = ToCore(values[i]);
    items[i] = {keys[i].c_str(), &core[i], 1};
  }
  const QXSymCoreWriteResult* results = nullptr;
  const QXSymResult rc = QXSymCore_Write(SessionFor(c), items.data(),
                                         static_cast<std::uint32_t>(items.size()), &results);
  std::string messages;
  for (std::size_t i = 0; results != nullptr && i < items.size(); ++i) {
    messages += std::string(results[i].message) + "\n";
  }
  if (c.contains("error")) {
    Check(c["error"], rc, messages.c_str(), where);
    for (const Json& piece : c.value("message", Json::array())) {
      EXPECT_NE(messages.find(piece.get<std::string>()), std::string::npos)
          << where << ": " << messages;
    }
  } else {
    EXPECT_EQ(rc, symResOk) << where << ": " << messages;
  }
  if (c.contains("raw")) {
    EXPECT_EQ(Raw(c["path"]), c["raw"].get<std::string>()) << where;
  }
  if (!c.contains("then")) return;
  const std::string read = c.value("read", c["path"].get<std::string>());
  const char* p = read.c_str();
  const QXSymCoreReadItem* got = nullptr;
  QXSymCore_Read(SessionFor(c), &p, 1, &got);
  ASSERT_NE(got, nullptr) << where;
  CheckLeaves(got[0], c["then"], true, where + " then");
}

void CoreVectorsTest::RunAll(bool faults) {
  std::size_t ran = 0;
  for (const Json& group : vectors::Table()["tag"]) {
    const Json& cases = group["cases"];
    for (std::size_t i = 0; i < cases.size(); ++i) {
      const Json& c = cases[i];
      if (c.contains("fault") != faults) continue;
      const std::string where =
          group["group"].get<std::string>() + " #" + std::to_string(i) + " " + c.dump();
      const std::string op = c["op"];
      if (op == "read") {
        Read(c, where);
      } else if (op == "read_set") {
        ReadSet(c, where);
      } else if (op == "layout") {
        Layout(c, where);
      } else if (op == "write") {
        Write(c, where);
      } else {
        ADD_FAILURE() << where << ": unknown op";
      }
      ++ran;
    }
  }
  EXPECT_GT(ran, 0u);
}

TEST_P(CoreVectorsTest, TagCasesHoldInOrder) { RunAll(false); }

QXSYM_CORE_BOTH_SOURCES(CoreVectorsTest);

class CoreVectorFaultsTest : public CoreVectorsTest {
 protected:
  void SetUp() override {
    faults_ = true;
    CoreVectorsTest::SetUp();
  }
};

TEST_P(CoreVectorFaultsTest, ShortValueRepliesFailEveryTagRead) { RunAll(true); }

INSTANTIATE_TEST_SUITE_P(Simulator, CoreVectorFaultsTest,
                         ::testing::Values(SourceKind::kSimulator));

}  // namespace
}  // namespace qxsym::test
