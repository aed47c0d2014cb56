#include <cstdlib>
#include <new>

#include "FailingAllocator.h"

namespace {

thread_local long countdown = 0;  // 0: not armed
thread_local bool failed = false;

// True when this allocation is the one chosen to fail.
bool ShouldFail() {
  if (countdown == 0) return false;
  if (--countdown != 0) return false;
  failed = true;
  return true;
}

void* Allocate(std::size_t n) {
  if (ShouldFail()) return nullptr;
  return std::malloc(n != 0 ? n : 1);
}

}  // namespace

namespace qxsym::test {

void FailNthAllocation(long nth) {
  failed = false;
  countdown = nth;
}

bool Disarm() {
  countdown = 0;
  return failed;
}

}  // namespace qxsym::test

void* operator new(std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) {
  if (void* p = Allocate(n)) return p;
  throw std::bad_alloc();
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return Allocate(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
