// The registry of every handle the library has given out and not taken back.
//
// A handle is a 32-bit id drawn from a process-wide counter. It is never 0
// and never in use twice: when the counter wraps, ids still registered are
// skipped. A released id comes round again only after every other id has
// been drawn (2^32 - 2 registrations later), so a handle from an earlier
// started period, or one already closed, misses for that long. The kind of
// object is recorded with it, so a handle of the wrong kind misses as well. The registry owns its
// objects (type-erased shared ownership keeps the right destructor). Library-allocated tag lists
// are registered by their address, as callers hand them back by pointer.
//
// Not synchronised: callers hold the library lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "QXSymbols.h"

namespace qxsym {

enum class HandleKind : std::uint8_t { kWorkspace, kTag, kType, kGroup };

class HandleRegistry {
 public:
  // Registers obj under a fresh handle. Returns 0 only when no memory is
  // left for the entry (the object is then not kept).
  std::uint32_t Add(HandleKind kind, std::shared_ptr<void> obj);

  // Sets the id the process-wide counter draws next and returns the one it
  // would have drawn. Internal: lets tests reach the wrap without 2^32
  // registrations.
  static std::uint32_t MoveCounterTo(std::uint32_t next);

  // The object behind handle, or null when it is absent or of another kind.
  void* Find(std::uint32_t handle, HandleKind kind) const;
  template <typename T>
  T* Find(std::uint32_t handle, HandleKind kind) const {
    return static_cast<T*>(Find(handle, kind));
  }

  // Takes the object out of the registry; null when absent or of another
  // kind. The caller decides where the object is destroyed.
  std::shared_ptr<void> Remove(std::uint32_t handle, HandleKind kind);

  // Tag lists allocated for the caller (n handles and a terminating 0). The
  // registry keeps each list's length, so walking a list never depends on a
  // terminator the caller may have overwritten.
  QXSymTagHandle* AddList(std::vector<QXSymTagHandle> list);
  bool HasList(const QXSymTagHandle* list) const;
  // Takes the list out; empty when it is not registered.
  std::vector<QXSymTagHandle> RemoveList(const QXSymTagHandle* list);
  // A copy of the list's entries; empty when it is not registered.
  std::vector<QXSymTagHandle> ListEntries(const QXSymTagHandle* list) const;

  // Forgets every handle and list; returns the objects so the caller can
  // destroy them outside its lock.
  std::vector<std::shared_ptr<void>> Clear();

  std::size_t size() const { return objects_.size() + lists_.size(); }

 private:
  struct Entry {
    HandleKind kind;
    std::shared_ptr<void> object;
  };
  std::map<std::uint32_t, Entry> objects_;
  std::map<const QXSymTagHandle*, std::vector<QXSymTagHandle>> lists_;
};

}  // namespace qxsym
