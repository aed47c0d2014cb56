#include "SymbolCache.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <vector>

namespace qxsym::client {
namespace {

namespace fs = std::filesystem;

constexpr char kMagic[8] = {'Q', 'X', 'S', 'Y', 'M', 'T', 'Y', 'P'};
constexpr char kPrefix[] = "qxsym-";
constexpr char kSuffix[] = ".types";

std::uint64_t Fnv(const void* data, std::size_t n, std::uint64_t h = 1469598103934665603ull) {
  const auto* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; ++i) {
    h ^= p[i];
    h *= 1099511628211ull;
  }
  return h;
}

std::string Hex(std::uint64_t v) {
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(v));
  return text;
}

class Writer {
 public:
  template <typename T>
  void Put(T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      out_.push_back(static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xFF));
    }
  }
  void Name(const std::string& s) {
    Put(static_cast<std::uint16_t>(s.size()));
    out_ += s;
  }
  void Raw(const char* p, std::size_t n) { out_.append(p, n); }
  std::string& bytes() { return out_; }

 private:
  std::string out_;
};

// Reads from a byte range; every read is checked against its end, and a
// failed read leaves ok() false for good.
class Reader {
 public:
  Reader(const char* p, std::size_t n) : p_(p), left_(n) {}
  template <typename T>
  T Get() {
    std::uint64_t v = 0;
    const char* at = p_;
    if (!Take(sizeof(T))) return 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      v |= static_cast<std::uint64_t>(static_cast<unsigned char>(at[i])) << (8 * i);
    }
    return static_cast<T>(v);
  }
  std::string Name() {
    const std::uint16_t n = Get<std::uint16_t>();
    if (n == 0 || n > kMaxCacheName || !Take(n)) {
      ok_ = false;
      return {};
    }
    return std::string(p_ - n, n);
  }
  bool Take(std::size_t n) {
    if (!ok_ || n > left_) return ok_ = false;
    p_ += n;
    left_ -= n;
    return true;
  }
  std::size_t left() const { return left_; }
  bool ok() const { return ok_; }
  void Fail() { ok_ = false; }

 private:
  const char* p_;
  std::size_t left_;
  bool ok_ = true;
};

// Types in an order where each comes after the types it refers to.
void Order(const TypeNode* node, std::map<const TypeNode*, std::uint32_t>* index,
           std::vector<const TypeNode*>* order) {
  if (node == nullptr || index->count(node) != 0) return;
  if (node->element != nullptr) Order(node->element, index, order);
  for (const TypeNode::Member& m : node->members) Order(m.type, index, order);
  index->emplace(node, static_cast<std::uint32_t>(order->size()));
  order->push_back(node);
}

void PutNode(const TypeNode& n, const std::map<const TypeNode*, std::uint32_t>& index, Writer* w) {
  w->Name(n.name);
  w->Put(static_cast<std::uint8_t>(n.kind));
  w->Put(n.size);
  w->Put(n.properties);
  w->Put(n.tyvar);
  if (n.kind == TypeNode::Kind::kArray) {
    w->Put(static_cast<std::uint8_t>(n.dims.size()));
    for (std::uint32_t d : n.dims) w->Put(d);
    for (std::int64_t l : n.lower) w->Put(static_cast<std::uint64_t>(l));
    w->Put(index.at(n.element));
    w->Put(n.stride);
  } else if (n.kind == TypeNode::Kind::kRecord) {
    w->Put(static_cast<std::uint32_t>(n.members.size()));
    for (const TypeNode::Member& m : n.members) {
      w->Name(m.name);
      w->Put(m.offset);
      w->Put(index.at(m.type));
    }
  }
}

// The type referred to by the next index: one read before this node.
const TypeNode* Ref(Reader* r, const std::vector<TypeNode*>& made) {
  const std::uint32_t i = r->Get<std::uint32_t>();
  if (!r->ok() || i >= made.size()) {
    r->Fail();
    return nullptr;
  }
  return made[i];
}

bool GetArray(Reader* r, const std::vector<TypeNode*>& made, TypeNode* n) {
  const std::uint8_t dims = r->Get<std::uint8_t>();
  if (dims == 0 || dims > kMaxDims) return false;
  n->count = 1;
  for (std::uint8_t d = 0; d < dims; ++d) {
    n->dims.push_back(r->Get<std::uint32_t>());
    n->count *= n->dims.back();
    if (n->dims.back() == 0 || n->count > UINT32_MAX) return false;
  }
  for (std::uint8_t d = 0; d < dims; ++d) {
    n->lower.push_back(static_cast<std::int64_t>(r->Get<std::uint64_t>()));
  }
  n->element = Ref(r, made);
  n->stride = r->Get<std::uint32_t>();
  return r->ok() && n->element->size <= n->stride &&
         static_cast<std::uint64_t>(n->stride) * n->count == n->size;
}

bool GetRecord(Reader* r, const std::vector<TypeNode*>& made, const WalkLimits& limits,
               TypeNode* n) {
  const std::uint32_t count = r->Get<std::uint32_t>();
  // Each member takes at least 11 bytes: nothing is reserved for a count
  // the rest of the file cannot hold.
  if (count > limits.max_children || count > r->left() / 11) return false;
  n->members.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    TypeNode::Member m;
    m.name = r->Name();
    m.offset = r->Get<std::uint32_t>();
    m.type = Ref(r, made);
    if (!r->ok() || static_cast<std::uint64_t>(m.offset) + m.type->size > n->size) return false;
    n->members.push_back(std::move(m));
  }
  return true;
}

std::unique_ptr<TypeNode> GetNode(Reader* r, const std::vector<TypeNode*>& made,
                                  const WalkLimits& limits) {
  auto n = std::make_unique<TypeNode>();
  n->name = r->Name();
  const std::uint8_t kind = r->Get<std::uint8_t>();
  n->size = r->Get<std::uint32_t>();
  n->properties = r->Get<std::uint32_t>();
  n->tyvar = r->Get<std::uint32_t>();
  if (!r->ok() || kind > static_cast<std::uint8_t>(TypeNode::Kind::kRecord)) return nullptr;
  n->kind = static_cast<TypeNode::Kind>(kind);
  bool ok = true;
  if (n->kind == TypeNode::Kind::kArray) ok = GetArray(r, made, n.get());
  if (n->kind == TypeNode::Kind::kRecord) ok = GetRecord(r, made, limits, n.get());
  return ok && r->ok() ? std::move(n) : nullptr;
}

}  // namespace

std::string CacheControllerKey(const QXSymServerAddress& address) {
  const std::string host(address.ip, strnlen(address.ip, sizeof address.ip));
  const std::string key =
      std::to_string(address.protocol) + "|" + host + "|" + std::to_string(address.port);
  return Hex(Fnv(key.data(), key.size()));
}

std::string CacheFileName(const std::string& controller, std::uint64_t fingerprint) {
  return kPrefix + controller + "-" + Hex(fingerprint) + kSuffix;
}

std::string EncodeCache(const TypeCatalog& catalog, std::uint64_t fingerprint) {
  std::map<const TypeNode*, std::uint32_t> index;
  std::vector<const TypeNode*> order;
  for (const auto& [name, node] : catalog.nodes()) Order(node.get(), &index, &order);
  Writer w;
  w.Raw(kMagic, sizeof kMagic);
  w.Put(kCacheVersion);
  w.Put(fingerprint);
  w.Put(static_cast<std::uint32_t>(order.size()));
  for (const TypeNode* n : order) PutNode(*n, index, &w);
  w.Put(Fnv(w.bytes().data(), w.bytes().size()));
  return std::move(w.bytes());
}

std::unique_ptr<TypeCatalog> DecodeCache(const std::string& bytes, std::uint64_t fingerprint,
                                         const WalkLimits& limits) {
  constexpr std::size_t kHeader = sizeof kMagic + 4 + 8 + 4;
  if (bytes.size() < kHeader + 8 || bytes.size() > kMaxCacheBytes ||
      std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return nullptr;
  }
  const std::size_t body = bytes.size() - 8;
  Reader hash(bytes.data() + body, 8);
  if (hash.Get<std::uint64_t>() != Fnv(bytes.data(), body)) return nullptr;
  Reader r(bytes.data() + sizeof kMagic, body - sizeof kMagic);
  const std::uint32_t version = r.Get<std::uint32_t>();
  const std::uint64_t print = r.Get<std::uint64_t>();
  const std::uint32_t count = r.Get<std::uint32_t>();
  // A type takes at least 16 bytes.
  if (version != kCacheVersion || print != fingerprint || count > limits.max_nodes ||
      count > r.left() / 16) {
    return nullptr;
  }
  auto catalog = std::make_unique<TypeCatalog>(limits);
  std::vector<TypeNode*> made;
  made.reserve(count);
  for (std::uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<TypeNode> node = GetNode(&r, made, limits);
    if (node == nullptr) return nullptr;
    made.push_back(node.get());
    if (!catalog->Adopt(std::move(node))) return nullptr;
  }
  return r.left() == 0 ? std::move(catalog) : nullptr;
}

std::unique_ptr<TypeCatalog> LoadCache(const std::string& directory, const std::string& controller,
                                       std::uint64_t fingerprint, const WalkLimits& limits) {
  const fs::path path = fs::path(directory) / CacheFileName(controller, fingerprint);
  std::error_code ec;
  const std::uintmax_t size = fs::file_size(path, ec);
  if (ec || size > kMaxCacheBytes) return nullptr;
  std::ifstream in(path, std::ios::binary);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return nullptr;
  // Grown since its size was taken: not the file that was measured.
  if (in.peek() != std::ifstream::traits_type::eof()) return nullptr;
  return DecodeCache(bytes, fingerprint, limits);
}

bool StoreCache(const std::string& directory, const std::string& controller,
                std::uint64_t fingerprint, const TypeCatalog& catalog) {
  const std::string bytes = EncodeCache(catalog, fingerprint);
  if (bytes.size() > kMaxCacheBytes) return false;
  std::error_code ec;
  const fs::path dir(directory);
  fs::create_directories(dir, ec);
  // A name of its own per writer: writers in other processes or threads
  // never share a temporary file, and the rename replaces the file whole.
  static std::atomic<std::uint64_t> serial{0};
  const std::uint64_t unique =
      std::random_device{}() ^
      (static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())
       << 16) ^
      ++serial;
  const fs::path target = dir / CacheFileName(controller, fingerprint);
  const fs::path temp = dir / (".tmp-" + Hex(unique) + "-" + target.filename().string());
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), static_cast<std::streamsize>(bytes.size())) || !out.flush()) {
      out.close();
      fs::remove(temp, ec);
      return false;
    }
  }
  fs::rename(temp, target, ec);
  if (ec) {
    fs::remove(temp, ec);
    return false;
  }
  // Files of this controller's earlier programs are of no more use.
  const std::string mine = kPrefix + controller + "-";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind(mine, 0) == 0 && name != target.filename().string()) {
      std::error_code ignored;
      fs::remove(it->path(), ignored);
    }
  }
  return true;
}

}  // namespace qxsym::client
