#include "SymbolService.h"

#include <random>
#include <utility>

namespace qxsym::sim {

namespace {

std::uint32_t Mix(std::uint64_t x) {
  // splitmix64 finaliser: every id gives an unrelated-looking check word.
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  return static_cast<std::uint32_t>(x ^ (x >> 32));
}

}  // namespace

SymbolService::SymbolService(std::shared_ptr<SymbolModel> model)
    : SymbolService(std::move(model), Limits()) {}

SymbolService::SymbolService(std::shared_ptr<SymbolModel> model, const Limits& limits)
    : model_(std::move(model)), limits_(limits) {
  // A random check key and a random first id: references of another
  // service, or of an earlier run, are not taken for this one's.
  std::random_device random;
  secret_ = random();
  next_id_ = 1 + random() % 0x40000000u;
}

void SymbolService::SetVersion(std::uint8_t major, std::uint8_t minor, std::uint8_t revision,
                               std::uint8_t build) {
  std::lock_guard<std::mutex> lock(mutex_);
  version_[0] = major;
  version_[1] = minor;
  version_[2] = revision;
  version_[3] = build;
}

void SymbolService::GetVersion(std::uint8_t* major, std::uint8_t* minor, std::uint8_t* revision,
                               std::uint8_t* build) const {
  std::lock_guard<std::mutex> lock(mutex_);
  *major = version_[0];
  *minor = version_[1];
  *revision = version_[2];
  *build = version_[3];
}

SymRef SymbolService::RefFor(std::uint32_t id) const {
  SymRef r;
  r.w0 = id;
  r.w1 = Mix((static_cast<std::uint64_t>(secret_) << 32) | id);
  return r;
}

std::uint32_t SymbolService::IdOf(const SymRef& ref) const {
  return ref.w0 != 0 && RefFor(ref.w0).w1 == ref.w1 ? ref.w0 : 0;
}

// ---- Program change -----------------------------------------------------------------

std::shared_lock<std::shared_mutex> SymbolService::ShareProgram() const {
  std::lock_guard<std::mutex> gate(reload_gate_);
  return std::shared_lock<std::shared_mutex>(program_mutex_);
}

std::shared_ptr<SymbolModel> SymbolService::program() const {
  std::shared_lock<std::shared_mutex> program = ShareProgram();
  return model_;
}

std::size_t SymbolService::Reload(std::shared_ptr<SymbolModel> next) {
  if (!next) return 0;
  std::lock_guard<std::mutex> gate(reload_gate_);
  std::unique_lock<std::shared_mutex> program(program_mutex_);
  std::lock_guard<std::mutex> lock(mutex_);
  const std::size_t kept = next->KeepValuesOf(*model_);
  // Every object holds views or types of the old model: none survives.
  objects_.clear();
  for (auto& entry : workspaces_) {
    entry.second.objects.clear();
    entry.second.types.clear();
  }
  model_ = std::move(next);
  return kept;
}

std::size_t SymbolService::workspace_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return workspaces_.size();
}

std::size_t SymbolService::object_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return objects_.size();
}

// ---- Registry helpers (mutex_ held) ---------------------------------------------

std::uint32_t SymbolService::NextIdLocked() {
  std::uint32_t id = next_id_++;
  if (next_id_ == 0) next_id_ = 1;
  return id;
}

QXSymResult SymbolService::RoomLocked(const Workspace& w, std::size_t more) const {
  if (w.objects.size() + more > limits_.max_objects_per_workspace ||
      objects_.size() + more > limits_.max_objects) {
    return symResMaxReached;
  }
  return symResOk;
}

template <typename Self, typename Found>
QXSymResult SymbolService::FindIn(Self& self, std::uint32_t ws, std::uint32_t id, Kind kind,
                                  Found** out) {
  if (self.workspaces_.count(ws) == 0) return symResInvalidWorkspace;
  auto it = self.objects_.find(id);
  if (it == self.objects_.end() || it->second.kind != kind || it->second.ws != ws) {
    return symResInvalidHandle;
  }
  *out = &it->second;
  return symResOk;
}

QXSymResult SymbolService::FindLocked(std::uint32_t ws, std::uint32_t id, Kind kind, Object** out) {
  return FindIn(*this, ws, id, kind, out);
}

QXSymResult SymbolService::FindLocked(std::uint32_t ws, std::uint32_t id, Kind kind,
                                      const Object** out) const {
  return FindIn(*this, ws, id, kind, out);
}

std::uint32_t SymbolService::AddObjectLocked(std::uint32_t ws, Workspace& w, Object object) {
  std::uint32_t id = NextIdLocked();
  object.ws = ws;
  objects_.emplace(id, std::move(object));
  w.objects.insert(id);
  return id;
}

// ---- Workspaces ---------------------------------------------------------------------

QXSymResult SymbolService::OpenWorkspace(std::uint8_t selector, std::uint32_t* ws) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (workspaces_.size() >= limits_.max_workspaces) return symResMaxReached;
  std::uint32_t id = NextIdLocked();
  workspaces_[id].selector = selector;
  *ws = id;
  return symResOk;
}

QXSymResult SymbolService::CloseWorkspace(std::uint32_t ws) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = workspaces_.find(ws);
  if (it == workspaces_.end()) return symResInvalidWorkspace;
  for (std::uint32_t id : it->second.objects) objects_.erase(id);
  workspaces_.erase(it);
  return symResOk;
}

QXSymResult SymbolService::CheckWorkspace(std::uint32_t ws) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return workspaces_.count(ws) != 0 ? symResOk : symResInvalidWorkspace;
}

// ---- Tags -------------------------------------------------------------------------------

QXSymResult SymbolService::NewTag(std::uint32_t ws, const SymbolView& view, std::uint32_t* tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto w = workspaces_.find(ws);
  if (w == workspaces_.end()) return symResInvalidWorkspace;
  QXSymResult r = RoomLocked(w->second, 1);
  if (r != symResOk) return r;
  Object o;
  o.kind = Kind::kTag;
  o.view = view;
  *tag = AddObjectLocked(ws, w->second, std::move(o));
  return symResOk;
}

QXSymResult SymbolService::NewTags(std::uint32_t ws, const std::vector<std::size_t>& globals,
                                   std::vector<std::uint32_t>* tags) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto w = workspaces_.find(ws);
  if (w == workspaces_.end()) return symResInvalidWorkspace;
  QXSymResult r = RoomLocked(w->second, globals.size());
  if (r != symResOk) return r;
  tags->clear();
  tags->reserve(globals.size());
  for (std::size_t index : globals) {
    Object o;
    o.kind = Kind::kTag;
    o.view = model_->GlobalView(index);
    tags->push_back(AddObjectLocked(ws, w->second, std::move(o)));
  }
  return symResOk;
}

QXSymResult SymbolService::FindTag(std::uint32_t ws, std::uint32_t tag, SymbolView* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Object* o;
  QXSymResult r = FindLocked(ws, tag, Kind::kTag, &o);
  if (r == symResOk) *out = o->view;
  return r;
}

QXSymResult SymbolService::CloseTag(std::uint32_t ws, std::uint32_t tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* o;
  QXSymResult r = FindLocked(ws, tag, Kind::kTag, &o);
  if (r != symResOk) return r;
  workspaces_[ws].objects.erase(tag);
  objects_.erase(tag);
  return symResOk;
}

// ---- Types ------------------------------------------------------------------------------

QXSymResult SymbolService::TypeId(std::uint32_t ws, const Type* type, std::uint32_t* id) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto w = workspaces_.find(ws);
  if (w == workspaces_.end()) return symResInvalidWorkspace;
  auto known = w->second.types.find(type);
  if (known != w->second.types.end()) {
    *id = known->second;
    return symResOk;
  }
  QXSymResult r = RoomLocked(w->second, 1);
  if (r != symResOk) return r;
  Object o;
  o.kind = Kind::kType;
  o.type = type;
  *id = AddObjectLocked(ws, w->second, std::move(o));
  w->second.types.emplace(type, *id);
  return symResOk;
}

QXSymResult SymbolService::FindType(std::uint32_t ws, std::uint32_t id, const Type** out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const Object* o;
  QXSymResult r = FindLocked(ws, id, Kind::kType, &o);
  if (r == symResOk) *out = o->type;
  return r;
}

// ---- Groups -----------------------------------------------------------------------------

QXSymResult SymbolService::CreateGroup(std::uint32_t ws, std::uint32_t* group) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto w = workspaces_.find(ws);
  if (w == workspaces_.end()) return symResInvalidWorkspace;
  QXSymResult r = RoomLocked(w->second, 1);
  if (r != symResOk) return r;
  Object o;
  o.kind = Kind::kGroup;
  *group = AddObjectLocked(ws, w->second, std::move(o));
  return symResOk;
}

QXSymResult SymbolService::DeleteGroup(std::uint32_t ws, std::uint32_t group) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* o;
  QXSymResult r = FindLocked(ws, group, Kind::kGroup, &o);
  if (r != symResOk) return r;
  workspaces_[ws].objects.erase(group);
  objects_.erase(group);
  return symResOk;
}

QXSymResult SymbolService::GroupAddTag(std::uint32_t ws, std::uint32_t group, std::uint32_t tag,
                                       std::uint32_t* member_size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* g;
  QXSymResult r = FindLocked(ws, group, Kind::kGroup, &g);
  if (r != symResOk) return r;
  Object* t;
  if (FindLocked(ws, tag, Kind::kTag, &t) != symResOk) return symResInvalidGroupTag;
  for (const GroupMember& m : g->members) {
    if (m.tag == tag) return symResHandleAlreadyExists;
  }
  const std::uint32_t size = SymbolModel::DataSize(t->view);
  if (g->members.size() >= limits_.max_group_members ||
      g->group_size + size > limits_.max_group_size) {
    return symResMaxReached;
  }
  g->members.push_back(GroupMember{tag, t->view, size});
  g->group_size += size;
  *member_size = size;
  return symResOk;
}

QXSymResult SymbolService::GroupRemoveTag(std::uint32_t ws, std::uint32_t group,
                                          std::uint32_t tag) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* g;
  QXSymResult r = FindLocked(ws, group, Kind::kGroup, &g);
  if (r != symResOk) return r;
  for (auto it = g->members.begin(); it != g->members.end(); ++it) {
    if (it->tag == tag) {
      g->group_size -= it->size;
      g->members.erase(it);
      return symResOk;
    }
  }
  return symResInvalidGroupTag;
}

// The members' views are read in place, under the service's lock, so a
// group read costs no copy of each member's name; the model takes its
// memory lock inside (always in this order).
QXSymResult SymbolService::GroupRead(std::uint32_t ws, std::uint32_t group, std::uint64_t size,
                                     std::vector<std::uint8_t>* out) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* g;
  QXSymResult r = FindLocked(ws, group, Kind::kGroup, &g);
  if (r != symResOk) return r;
  if (g->members.empty()) return symResGroupIsEmpty;
  if (size != g->group_size) return symResInvalidGroupSize;
  std::vector<const SymbolView*>& views = g->scratch_views;
  views.clear();
  for (const GroupMember& m : g->members) views.push_back(&m.view);
  return model_->ReadValues(views, out);
}

QXSymResult SymbolService::GroupWrite(std::uint32_t ws, std::uint32_t group,
                                      const std::uint8_t* data, std::uint64_t size) {
  std::lock_guard<std::mutex> lock(mutex_);
  Object* g;
  QXSymResult r = FindLocked(ws, group, Kind::kGroup, &g);
  if (r != symResOk) return r;
  if (g->members.empty()) return symResGroupIsEmpty;
  if (size != g->group_size) return symResInvalidGroupSize;
  std::vector<const SymbolView*>& views = g->scratch_views;
  views.clear();
  for (const GroupMember& m : g->members) views.push_back(&m.view);
  return model_->WriteValues(views, data, static_cast<std::size_t>(size));
}

}  // namespace qxsym::sim
