#include "AllocCounter.h"

#include <malloc.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

namespace qxsym::bench {
namespace {

std::atomic<std::uint64_t> g_allocations{0};
std::atomic<std::uint64_t> g_live{0};
std::atomic<std::uint64_t> g_peak{0};
thread_local int t_paused = 0;

void* Allocate(std::size_t size, std::size_t alignment) {
  if (size == 0) size = 1;
  void* p = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    p = std::malloc(size);
  } else if (::posix_memalign(&p, alignment, size) != 0) {
    p = nullptr;
  }
  if (p == nullptr) return nullptr;
  if (t_paused == 0) g_allocations.fetch_add(1, std::memory_order_relaxed);
  // The usable size is what free will give back, so the books balance.
  const std::uint64_t live = g_live.fetch_add(::malloc_usable_size(p), std::memory_order_relaxed) +
                             ::malloc_usable_size(p);
  std::uint64_t peak = g_peak.load(std::memory_order_relaxed);
  while (live > peak && !g_peak.compare_exchange_weak(peak, live, std::memory_order_relaxed)) {
  }
  return p;
}

void Release(void* p) {
  if (p == nullptr) return;
  g_live.fetch_sub(::malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}

void* AllocateOrThrow(std::size_t size, std::size_t alignment) {
  void* p = Allocate(size, alignment);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}

}  // namespace

AllocStats CurrentAllocStats() {
  AllocStats s;
  s.allocations = g_allocations.load(std::memory_order_relaxed);
  s.live_bytes = g_live.load(std::memory_order_relaxed);
  s.peak_bytes = g_peak.load(std::memory_order_relaxed);
  return s;
}

void ResetAllocPeak() { g_peak.store(g_live.load(std::memory_order_relaxed)); }

AllocCountPause::AllocCountPause() { ++t_paused; }
AllocCountPause::~AllocCountPause() { --t_paused; }

}  // namespace qxsym::bench

using qxsym::bench::AllocateOrThrow;

void* operator new(std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new[](std::size_t n) { return AllocateOrThrow(n, 0); }
void* operator new(std::size_t n, std::align_val_t a) {
  return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a) {
  return AllocateOrThrow(n, static_cast<std::size_t>(a));
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  return qxsym::bench::Allocate(n, 0);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
  return qxsym::bench::Allocate(n, 0);
}
void* operator new(std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return qxsym::bench::Allocate(n, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t n, std::align_val_t a, const std::nothrow_t&) noexcept {
  return qxsym::bench::Allocate(n, static_cast<std::size_t>(a));
}

void operator delete(void* p) noexcept { qxsym::bench::Release(p); }
void operator delete[](void* p) noexcept { qxsym::bench::Release(p); }
void operator delete(void* p, std::size_t) noexcept { qxsym::bench::Release(p); }
void operator delete[](void* p, std::size_t) noexcept { qxsym::bench::Release(p); }
void operator delete(void* p, std::align_val_t) noexcept { qxsym::bench::Release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { qxsym::bench::Release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { qxsym::bench::Release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  qxsym::bench::Release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { qxsym::bench::Release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { qxsym::bench::Release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  qxsym::bench::Release(p);
}
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept {
  qxsym::bench::Release(p);
}
