// The shapes shared by the exported functions: the boundary that turns any
// escaping exception into a result code, the registry lookups, the copy form
// (clone under the lock, run outside it) and registration of new objects.
#pragma once

#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "HandleRegistry.h"
#include "LibraryState.h"
#include "QXSymClientGroup.h"
#include "QXSymClientWorkspace.h"
#include "QXSymbols.h"

namespace qxsym {
namespace api {

inline LibraryState& State() { return LibraryState::Get(); }
inline bool Started() { return State().started(); }
inline std::uint32_t Id(int handle) { return static_cast<std::uint32_t>(handle); }

// Runs body; no exception crosses the C boundary.
template <typename Body>
QXSymResult Guard(Body&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return symResMemoryAllocError;
  } catch (...) {
    return symResNotOk;
  }
}

template <typename T>
struct KindOf;
}  // namespace api

class QXSymClientTag;
class QXSymClientType;

namespace api {
template <>
struct KindOf<QXSymClientWorkspace> {
  static constexpr HandleKind value = HandleKind::kWorkspace;
};
template <>
struct KindOf<QXSymClientTag> {
  static constexpr HandleKind value = HandleKind::kTag;
};
template <>
struct KindOf<QXSymClientType> {
  static constexpr HandleKind value = HandleKind::kType;
};
template <>
struct KindOf<QXSymClientGroup> {
  static constexpr HandleKind value = HandleKind::kGroup;
};

// Copy form: clone the registered object under the lock, release the lock,
// and run op on the copy. The copy is destroyed before returning.
template <typename T, typename Op>
QXSymResult WithCopy(int handle, Op&& op) {
  std::unique_ptr<T> copy;
  {
    std::lock_guard<std::mutex> guard(State().lock());
    T* obj = State().registry().Find<T>(Id(handle), KindOf<T>::value);
    if (obj == nullptr) return symResInvalidHandle;
    copy = obj->Clone();
  }
  if (!copy) return symResMemoryAllocError;
  return op(*copy);
}

// Short form: run op on the registered object while holding the lock.
template <typename T, typename Op>
QXSymResult WithRegistered(int handle, Op&& op) {
  std::lock_guard<std::mutex> guard(State().lock());
  T* obj = State().registry().Find<T>(Id(handle), KindOf<T>::value);
  if (obj == nullptr) return symResInvalidHandle;
  return op(*obj);
}

// Registers a new object and returns its handle (0 when none is left).
// Workspaces and groups get the library state as the sink of what they leave
// behind. Callers hold the library lock.
template <typename T>
int RegisterLocked(std::unique_ptr<T> obj) {
  if constexpr (std::is_same_v<T, QXSymClientWorkspace> || std::is_same_v<T, QXSymClientGroup>) {
    obj->SetRetiredSink(&State());
  }
  std::shared_ptr<T> shared(std::move(obj));
  return static_cast<int>(
      State().registry().Add(KindOf<T>::value, std::static_pointer_cast<void>(shared)));
}

template <typename T>
int Register(std::unique_ptr<T> obj) {
  std::lock_guard<std::mutex> guard(State().lock());
  return RegisterLocked(std::move(obj));
}

// Takes the registered object out of the registry under the lock; the caller
// destroys it after the lock is released, so a channel that waits for an
// exchange to end while closing never holds up other callers.
template <typename T>
std::shared_ptr<void> Unregister(int handle) {
  std::lock_guard<std::mutex> guard(State().lock());
  return State().registry().Remove(Id(handle), KindOf<T>::value);
}

}  // namespace api
}  // namespace qxsym
