// The tag-level cases of the shared vector table, played against the
// simulator's own model of tests/vectors/model.json: the leaves the model
// lays out, its values, and writes carried out leaf by leaf through the leaf
// codec. The client core plays the same cases against a running simulator;
// this run keeps the table itself true to the model.
#include <gtest/gtest.h>

#include <memory>

#include "LeafCodec.h"
#include "SymbolModel.h"
#include "vectors.h"

namespace qxsym::client {
namespace {

using sim::SymbolModel;
using sim::SymbolView;
using sim::Type;
using sim::TypeKind;
using vectors::Json;

struct Leaf {
  std::string path;
  std::uint32_t offset;
  const Type* type;
};

// The index text of element `linear` of an array: "[1,2]" with declared bounds.
std::string IndexText(const Type& array, std::uint64_t linear) {
  std::vector<std::int64_t> index(array.dims.size());
  for (std::size_t d = array.dims.size(); d-- > 0;) {
    index[d] = array.dims[d].lower + static_cast<std::int64_t>(linear % array.dims[d].count());
    linear /= array.dims[d].count();
  }
  std::string out = "[";
  for (std::size_t d = 0; d < index.size(); ++d) out += (d ? "," : "") + std::to_string(index[d]);
  return out + "]";
}

void Walk(const Type& type, const std::string& path, std::uint32_t offset, std::vector<Leaf>* out) {
  if (type.is_array()) {
    const std::uint64_t count = type.size / type.element->size;
    for (std::uint64_t i = 0; i < count; ++i) {
      Walk(*type.element, path + IndexText(type, i),
           offset + static_cast<std::uint32_t>(i * type.element->size), out);
    }
  } else if (type.kind == TypeKind::kStruct || type.kind == TypeKind::kFunctionBlock) {
    for (const sim::Member& m : type.members)
      Walk(*m.type, path + "." + m.name, offset + m.offset, out);
  } else {
    out->push_back({path, offset, &type});
  }
}

class TagTable {
 public:
  explicit TagTable(std::shared_ptr<SymbolModel> model) : model_(std::move(model)) {}

  void Run(const Json& c) {
    const std::string op = c.at("op");
    if (op == "read") {
      vectors::CheckKeys(c, {"op", "path", "encoding", "leaves", "error", "message", "fault"});
      Read(c.at("path"), c, vectors::EncodingOf(c));
    } else if (op == "read_set") {
      vectors::CheckKeys(c, {"op", "paths", "encoding", "results", "fault"});
      ASSERT_EQ(c.at("paths").size(), c.at("results").size());
      for (std::size_t i = 0; i < c.at("paths").size(); ++i) {
        Json one = c.at("results")[i];
        if (c.contains("fault")) one["fault"] = c.at("fault");
        Read(c.at("paths")[i], one, vectors::EncodingOf(c));
      }
    } else if (op == "layout") {
      vectors::CheckKeys(c, {"op", "path", "bounds", "leaves"});
      Layout(c);
    } else if (op == "write") {
      vectors::CheckKeys(
          c, {"op", "path", "encoding", "value", "raw", "read", "then", "error", "message"});
      Write(c);
    } else {
      ADD_FAILURE() << "unknown op '" << op << "'";
    }
  }

 private:
  std::vector<Leaf> LeavesOf(const SymbolView& view) {
    std::vector<Leaf> leaves;
    Walk(*view.type, view.name, 0, &leaves);
    return leaves;
  }

  void ExpectLeafValue(const SymbolView& base, const Leaf& leaf, const Json& want, Encoding e) {
    std::vector<std::uint8_t> bytes(leaf.type->size);
    ASSERT_TRUE(model_->ReadMemory(base.address + leaf.offset, bytes.size(), bytes.data()));
    LeafValue v;
    CodecError err;
    ASSERT_TRUE(DecodeLeaf(leaf.type->tyvar, bytes.data(), bytes.size(), e, &v, &err));
    EXPECT_TRUE(vectors::SameValue(v, want)) << leaf.path;
  }

  void Read(const std::string& path, const Json& c, Encoding e) {
    SymbolView view;
    QXSymResult r = model_->Resolve(path, &view);
    if (c.contains("fault")) {
      EXPECT_EQ(r, symResOk) << path;
      EXPECT_TRUE(vectors::IsResultName(c.at("error")));
      return;
    }
    if (c.contains("error")) {
      EXPECT_EQ(vectors::ResultName(r), c.at("error").get<std::string>()) << path;
      return;
    }
    ASSERT_EQ(r, symResOk) << path;
    const std::vector<Leaf> leaves = LeavesOf(view);
    const Json& want = c.at("leaves");
    ASSERT_EQ(leaves.size(), want.size()) << path << ": the table lists another number of leaves";
    auto it = want.begin();
    for (const Leaf& leaf : leaves) {
      EXPECT_EQ(leaf.path, it.key()) << "the leaves differ in name or order";
      ExpectLeafValue(view, leaf, it.value(), e);
      ++it;
    }
  }

  void Layout(const Json& c) {
    SymbolView view;
    ASSERT_EQ(model_->Resolve(c.at("path"), &view), symResOk);
    const std::vector<Leaf> leaves = LeavesOf(view);
    const Json& want = c.at("leaves");
    ASSERT_EQ(leaves.size(), want.size());
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      EXPECT_EQ(leaves[i].path, want[i].at("path").get<std::string>());
      EXPECT_EQ(leaves[i].offset, want[i].at("offset").get<std::uint32_t>()) << leaves[i].path;
      EXPECT_EQ(leaves[i].type->size, want[i].at("size").get<std::uint32_t>()) << leaves[i].path;
      EXPECT_EQ(TyVarName(leaves[i].type->tyvar), want[i].at("type").get<std::string>());
    }
    if (!c.contains("bounds")) return;
    ASSERT_TRUE(view.type->is_array());
    ASSERT_EQ(view.type->dims.size(), c.at("bounds").size());
    for (std::size_t d = 0; d < view.type->dims.size(); ++d) {
      EXPECT_EQ(view.type->dims[d].lower, c.at("bounds")[d][0].get<std::int64_t>());
      EXPECT_EQ(view.type->dims[d].upper, c.at("bounds")[d][1].get<std::int64_t>());
    }
  }

  // The result of one leaf of a written value, its bytes in *bytes.
  QXSymResult EncodeOne(const SymbolView& base, const std::string& key, const Json& value,
                        Encoding e, SymbolView* leaf, std::vector<std::uint8_t>* bytes) {
    QXSymResult r = model_->Resolve(key, leaf);
    if (r != symResOk) return r;
    EXPECT_TRUE(leaf->tag == base.tag && leaf->address >= base.address &&
                leaf->address < base.address + base.type->size)
        << key << " lies outside " << base.name;
    // One value for a structure or an array is not every value it holds.
    if (leaf->type->is_complex()) return symResInvalidParameter;
    CodecError err;
    if (!EncodeLeaf(leaf->type->tyvar, vectors::ValueOf(value), leaf->type->size, e, bytes, &err)) {
      return err.code;
    }
    return base.read_only ? symResReadOnlyTag : symResOk;
  }

  void Write(const Json& c) {
    const Encoding e = vectors::EncodingOf(c);
    SymbolView base;
    ASSERT_EQ(model_->Resolve(c.at("path"), &base), symResOk);
    std::vector<std::pair<SymbolView, std::vector<std::uint8_t>>> writes;
    QXSymResult r = symResOk;
    for (auto it = c.at("value").begin(); it != c.at("value").end() && r == symResOk; ++it) {
      writes.emplace_back();
      r = EncodeOne(base, it.key(), it.value(), e, &writes.back().first, &writes.back().second);
    }
    EXPECT_EQ(vectors::ResultName(r), c.value("error", "symResOk"));
    if (r == symResOk) {
      for (auto& [leaf, bytes] : writes) {
        ASSERT_TRUE(model_->WriteMemory(leaf.address, bytes.size(), bytes.data()));
      }
    }
    if (c.contains("raw")) {
      std::vector<std::uint8_t> raw(base.type->size);
      ASSERT_TRUE(model_->ReadMemory(base.address, raw.size(), raw.data()));
      EXPECT_EQ(vectors::ToHex(raw), c.at("raw").get<std::string>());
    }
    SymbolView shown;
    ASSERT_EQ(model_->Resolve(c.value("read", c.at("path").get<std::string>()), &shown), symResOk);
    for (const Leaf& leaf : LeavesOf(shown)) {
      if (c.at("then").contains(leaf.path))
        ExpectLeafValue(shown, leaf, c.at("then").at(leaf.path), e);
    }
    for (auto it = c.at("then").begin(); it != c.at("then").end(); ++it) {
      SymbolView leaf;
      EXPECT_EQ(model_->Resolve(it.key(), &leaf), symResOk) << it.key();
      EXPECT_EQ(leaf.name, it.key()) << "a leaf of 'then' outside the tag read, or misspelt";
    }
  }

  std::shared_ptr<SymbolModel> model_;
};

TEST(TagVectorTable, EveryCaseHoldsOnTheModel) {
  const Json& table = vectors::Table();
  ASSERT_TRUE(table.is_object());
  std::string error;
  auto model =
      SymbolModel::LoadFile(QXSYM_VECTORS_DIR "/" + table.at("model").get<std::string>(), &error);
  ASSERT_NE(model, nullptr) << error;
  TagTable run(model);
  std::size_t count = 0;
  for (const vectors::Group& g : vectors::GroupsOf("tag")) {
    for (std::size_t i = 0; i < g.cases->size(); ++i) {
      SCOPED_TRACE(g.name + ", case " + std::to_string(i) + ": " + (*g.cases)[i].dump());
      run.Run((*g.cases)[i]);
      ++count;
    }
  }
  EXPECT_GT(count, 50u);
}

}  // namespace
}  // namespace qxsym::client
