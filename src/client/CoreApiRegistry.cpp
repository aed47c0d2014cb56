#include "CoreApiRegistry.h"

#include <random>

namespace qxsym::client::capi {
namespace {

// Longest text or byte string taken from a caller's value.
constexpr std::uint32_t kMaxValueBytes = 1u << 24;

}  // namespace

Registry& Registry::Get() {
  static Registry* registry = new Registry();  // outlives every static destructor
  return *registry;
}

QXSymCoreHandle Registry::Add(Kind kind, std::shared_ptr<Object> object) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (next_ == 0) {
    // A random first id: ids of an earlier run are not taken for this one's.
    std::random_device random;
    next_ = 1 + random() % 0x40000000u;
  }
  while (next_ == 0 || objects_.count(next_) != 0) ++next_;
  const QXSymCoreHandle id = next_++;
  objects_[id] = {kind, std::move(object)};
  return id;
}

std::shared_ptr<Object> Registry::Find(QXSymCoreHandle id, Kind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = objects_.find(id);
  if (it == objects_.end() || it->second.first != kind) return nullptr;
  return it->second.second;
}

std::shared_ptr<Object> Registry::Remove(QXSymCoreHandle id, Kind kind) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = objects_.find(id);
  if (it == objects_.end() || it->second.first != kind) return nullptr;
  std::shared_ptr<Object> object = std::move(it->second.second);
  objects_.erase(it);
  return object;
}

void EndSubscription(SubscriptionObject& s) {
  std::lock_guard<std::mutex> lock(s.owner->wait_mutex);
  s.closed = true;
  s.subscription.reset();
  s.owner->wake.notify_all();
}

void CLayout::Set(std::shared_ptr<const Layout> from) {
  layout = std::move(from);
  c = QXSymCoreLayout{};
  leaves.assign(layout->leaves.size(), QXSymCoreLeaf{});
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    const Leaf& l = layout->leaves[i];
    QXSymCoreLeaf& c = leaves[i];
    c.path = l.path.c_str();
    c.offset = l.offset;
    c.size = l.size;
    c.tyvar = l.tyvar;
    c.element_size = l.element_size;
    c.count = l.count;
    c.num_dims = static_cast<std::uint32_t>(l.dims.size());
    for (std::size_t d = 0; d < l.dims.size() && d < QXSYMCORE_MAX_DIMS; ++d) {
      c.dims[d] = l.dims[d];
      c.lower[d] = l.lower[d];
    }
  }
  c.path = layout->path.c_str();
  c.type_name = layout->type_name.c_str();
  c.size = layout->size;
  c.leaf_count = static_cast<std::uint32_t>(leaves.size());
  c.leaves = leaves.data();
  c.value_count = layout->value_count;
  c.type_properties = layout->type_properties;
  c.num_dims = static_cast<std::uint32_t>(layout->dims.size());
  for (std::size_t d = 0; d < layout->dims.size() && d < QXSYMCORE_MAX_DIMS; ++d) {
    c.dims[d] = layout->dims[d];
    c.lower[d] = layout->lower[d];
  }
}

void ToC(const LeafValue& value, QXSymCoreValue* out) {
  *out = QXSymCoreValue{};
  out->kind = static_cast<std::uint32_t>(value.kind);
  out->boolean = value.b ? 1 : 0;
  out->i = value.i;
  out->u = value.u;
  out->f = value.f;
  if (value.kind == ValueKind::kText) {
    out->data = reinterpret_cast<const std::uint8_t*>(value.text.c_str());
    out->length = static_cast<std::uint32_t>(value.text.size());
  } else if (value.kind == ValueKind::kBytes) {
    out->data = value.bytes.data();
    out->length = static_cast<std::uint32_t>(value.bytes.size());
  }
}

bool FromC(const QXSymCoreValue& value, LeafValue* out) {
  if (value.kind < QXSymCoreBool || value.kind > QXSymCoreBytes) return false;
  if (value.length > kMaxValueBytes || (value.length != 0 && value.data == nullptr)) return false;
  *out = LeafValue{};
  out->kind = static_cast<ValueKind>(value.kind);
  out->b = value.boolean != 0;
  out->i = value.i;
  out->u = value.u;
  out->f = value.f;
  const char* text = reinterpret_cast<const char*>(value.data);
  if (out->kind == ValueKind::kText) out->text.assign(text, text + value.length);
  if (out->kind == ValueKind::kBytes) out->bytes.assign(value.data, value.data + value.length);
  return true;
}

}  // namespace qxsym::client::capi
