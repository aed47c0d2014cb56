// The call shape every exported function shares:
//  - Boundary: no exception crosses the C boundary (a bad_alloc answers
//    symResMemoryAllocError, anything else symResNotOk).
//  - Call: the boundary, then the checks in their fixed order: started
//    (symResNotInited), handle not 0 (symResInvalidHandle), the function's
//    own argument checks.
//  - OnCopy: the copy form (look up and clone under the lock, run outside
//    it); OnRegistered: the short form (run under the lock).
//  - MakeOnCopy and Publish: a new object is made on a copy, registered, and
//    its handle written for the caller.
//  - PublishTags and PublishTagList: tag lists registered all or nothing.
// Exported functions are then a few lines each: their checks and one call.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <type_traits>
#include <utility>

#include "HandleRegistry.h"
#include "LibraryState.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientType.h"
#include "QXSymClientWorkspace.h"
#include "QXSymbols.h"

namespace qxsym {
namespace api {

inline LibraryState& State() { return LibraryState::Get(); }
inline std::uint32_t Id(int handle) { return static_cast<std::uint32_t>(handle); }

template <typename T>
struct KindOf;
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

// The C boundary: runs body and turns an escaping exception into a result
// code, no_memory for a bad_alloc and symResNotOk for anything else.
template <typename Body>
QXSymResult Boundary(Body&& body, QXSymResult no_memory = symResMemoryAllocError) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return no_memory;
  } catch (...) {
    return symResNotOk;
  }
}

// The boundary and the started check; body does the rest.
template <typename Body>
QXSymResult Call(Body&& body) noexcept {
  return Boundary([&]() -> QXSymResult {
    if (!State().started()) return symResNotInited;
    return body();
  });
}

// The boundary, started, handle not 0, then args_ok (false: bad_args).
template <typename Body>
QXSymResult Call(int handle, bool args_ok, Body&& body,
                 QXSymResult bad_args = symResInvalidParameter) noexcept {
  return Call([&]() -> QXSymResult {
    if (handle == 0) return symResInvalidHandle;
    if (!args_ok) return bad_args;
    return body();
  });
}

// Clones the registered object under the lock, releases the lock and runs op
// on the copy, which is destroyed before returning.
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

// Runs op on the registered object while holding the lock.
template <typename T, typename Op>
QXSymResult WithRegistered(int handle, Op&& op) {
  std::lock_guard<std::mutex> guard(State().lock());
  T* obj = State().registry().Find<T>(Id(handle), KindOf<T>::value);
  if (obj == nullptr) return symResInvalidHandle;
  return op(*obj);
}

// The copy form with the common checks.
template <typename T, typename Op>
QXSymResult OnCopy(int handle, bool args_ok, Op&& op,
                   QXSymResult bad_args = symResInvalidParameter) noexcept {
  return Call(
      handle, args_ok, [&] { return WithCopy<T>(handle, op); }, bad_args);
}

// The short form with the common checks.
template <typename T, typename Op>
QXSymResult OnRegistered(int handle, bool args_ok, Op&& op) noexcept {
  return Call(handle, args_ok, [&] { return WithRegistered<T>(handle, op); });
}

// Registers obj and writes its handle to *out; answers ok then. When no
// handle or no memory is left nothing is kept: symResMemoryAllocError (the
// boundary answers a bad_alloc the same way), *out untouched. Registered
// workspaces and groups get the library state as the sink of what they
// leave behind.
template <typename T>
QXSymResult Publish(std::unique_ptr<T> obj, int* out, QXSymResult ok = symResOk) {
  [[maybe_unused]] T* raw = obj.get();
  std::shared_ptr<void> shared(std::shared_ptr<T>(std::move(obj)));
  std::uint32_t h = 0;
  {
    std::lock_guard<std::mutex> guard(State().lock());
    h = State().registry().Add(KindOf<T>::value, std::move(shared));
    // Only a registered object hands its leftovers to the library; one that
    // failed to register closes them as it goes.
    if constexpr (std::is_same_v<T, QXSymClientWorkspace> || std::is_same_v<T, QXSymClientGroup>) {
      if (h != 0) raw->SetRetiredSink(&State());
    }
  }
  if (h == 0) return symResMemoryAllocError;
  *out = static_cast<int>(h);
  return ok;
}

// make(T& copy, std::unique_ptr<Made>*) makes a new object on a copy of the
// registered T; it is published to *out. A null out: symResInvalidParameter,
// checked with args_ok.
template <typename Made, typename T, typename Make>
QXSymResult MakeOnCopy(int handle, bool args_ok, int* out, Make&& make) noexcept {
  return Call(handle, args_ok && out != nullptr, [&]() -> QXSymResult {
    std::unique_ptr<Made> made;
    const QXSymResult r = WithCopy<T>(handle, [&](T& obj) { return make(obj, &made); });
    if (r != symResOk) return r;
    return Publish(std::move(made), out);
  });
}

// Takes the object out of the registry under the lock and destroys it after
// the lock is released, so a channel that waits for an exchange to end while
// closing never holds up other callers. Absent: symResInvalidHandle.
template <typename T>
QXSymResult Forget(int handle) {
  std::shared_ptr<void> obj;
  {
    std::lock_guard<std::mutex> guard(State().lock());
    obj = State().registry().Remove(Id(handle), KindOf<T>::value);
  }
  return obj ? symResOk : symResInvalidHandle;
}

// Whether a failed release at the source leaves nothing there to release:
// the connection broke, and with it the session that held the object, or
// the source no longer knows the object (its program was replaced, which
// drops every reference issued before). The handle is released all the
// same then, so handles of a lost connection or of an old program never
// pile up in a program that runs for months.
inline bool NothingLeftAtSource(QXSymResult r) {
  return r == symResConnectionLost || r == symResSocketError || r == symResInvalidHandle;
}

// Both handles looked up under the lock (group first), then op on the
// registered group with the registered tag, still under the lock.
template <typename Op>
QXSymResult OnGroupAndTag(int group, int tag, Op&& op) noexcept {
  return Call([&]() -> QXSymResult {
    if (group == 0 || tag == 0) return symResInvalidHandle;
    std::lock_guard<std::mutex> guard(State().lock());
    auto* g = State().registry().Find<QXSymClientGroup>(Id(group), HandleKind::kGroup);
    if (g == nullptr) return symResInvalidHandle;
    auto* t = State().registry().Find<QXSymClientTag>(Id(tag), HandleKind::kTag);
    if (t == nullptr) return symResInvalidHandle;
    return op(*g, *t);
  });
}

// Both handles looked up under the lock (group first) and copied, then op on
// the copies outside it: for the membership changes, which exchange with the
// controller and must not hold up calls on other workspaces meanwhile. The
// copies share the registered group's member table.
template <typename Op>
QXSymResult OnGroupAndTagCopies(int group, int tag, Op&& op) noexcept {
  return Call([&]() -> QXSymResult {
    if (group == 0 || tag == 0) return symResInvalidHandle;
    std::unique_ptr<QXSymClientGroup> g;
    std::unique_ptr<QXSymClientTag> t;
    {
      std::lock_guard<std::mutex> guard(State().lock());
      auto* rg = State().registry().Find<QXSymClientGroup>(Id(group), HandleKind::kGroup);
      if (rg == nullptr) return symResInvalidHandle;
      auto* rt = State().registry().Find<QXSymClientTag>(Id(tag), HandleKind::kTag);
      if (rt == nullptr) return symResInvalidHandle;
      g = rg->Clone();
      t = rt->Clone();
    }
    if (!g || !t) return symResMemoryAllocError;
    return op(*g, *t);
  });
}

// Registers every tag of list and writes their handles to out[0..n-1]. All
// or nothing: when memory or handles run out, no tag stays registered and
// out is untouched.
QXSymResult PublishTags(QXSymClientWorkspace::TagList* list, QXSymTagHandle* out);

// Registers every tag of list together with a library-allocated list of
// their handles and a terminating 0, in one step: on success *tags and
// *count are written; on failure nothing stays registered and both are
// untouched.
QXSymResult PublishTagList(QXSymClientWorkspace::TagList* list, QXSymTagHandle** tags,
                           std::uint32_t* count);

}  // namespace api
}  // namespace qxsym
