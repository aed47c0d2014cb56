#include "HandleRegistry.h"

#include <atomic>
#include <limits>
#include <new>
#include <utility>

namespace qxsym {

namespace {
// Process-wide, never reset: an id comes round again only after every other
// 32-bit id has been drawn, across start and stop.
std::atomic<std::uint32_t> next_handle{1};
}  // namespace

std::uint32_t HandleRegistry::MoveCounterTo(std::uint32_t next) {
  return next_handle.exchange(next, std::memory_order_relaxed);
}

std::uint32_t HandleRegistry::Add(HandleKind kind, std::shared_ptr<void> obj) {
  // After a wrap, 0 and ids still registered are skipped. Among any
  // size() + 2 consecutive draws at least one is neither, so this ends; it
  // only fails when the map cannot take another entry.
  const std::size_t draws = objects_.size() + 2;
  for (std::size_t i = 0; i < draws; ++i) {
    const std::uint32_t h = next_handle.fetch_add(1, std::memory_order_relaxed);
    if (h == 0 || objects_.count(h) != 0) continue;
    try {
      objects_.emplace(h, Entry{kind, std::move(obj)});
    } catch (const std::bad_alloc&) {
      return 0;
    }
    return h;
  }
  return 0;
}

void* HandleRegistry::Find(std::uint32_t handle, HandleKind kind) const {
  auto it = objects_.find(handle);
  if (it == objects_.end() || it->second.kind != kind) return nullptr;
  return it->second.object.get();
}

std::shared_ptr<void> HandleRegistry::Remove(std::uint32_t handle, HandleKind kind) {
  auto it = objects_.find(handle);
  if (it == objects_.end() || it->second.kind != kind) return nullptr;
  std::shared_ptr<void> obj = std::move(it->second.object);
  objects_.erase(it);
  return obj;
}

QXSymTagHandle* HandleRegistry::AddList(std::vector<QXSymTagHandle> list) {
  if (list.empty()) list.push_back(0);
  QXSymTagHandle* p = list.data();  // stays put when the vector is moved
  lists_.emplace(p, std::move(list));
  return p;
}

bool HandleRegistry::HasList(const QXSymTagHandle* list) const {
  return lists_.find(list) != lists_.end();
}

std::vector<QXSymTagHandle> HandleRegistry::RemoveList(const QXSymTagHandle* list) {
  auto it = lists_.find(list);
  if (it == lists_.end()) return {};
  std::vector<QXSymTagHandle> owned = std::move(it->second);
  lists_.erase(it);
  return owned;
}

std::vector<QXSymTagHandle> HandleRegistry::ListEntries(const QXSymTagHandle* list) const {
  auto it = lists_.find(list);
  if (it == lists_.end()) return {};
  return it->second;
}

std::vector<std::shared_ptr<void>> HandleRegistry::Clear() {
  std::vector<std::shared_ptr<void>> out;
  out.reserve(objects_.size());
  for (auto& kv : objects_) out.push_back(std::move(kv.second.object));
  objects_.clear();
  lists_.clear();
  return out;
}

}  // namespace qxsym
