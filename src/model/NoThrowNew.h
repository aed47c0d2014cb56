// Objects, lists and buffers made without exceptions, and the codes their
// failure answers: a single new object that cannot be had answers
// symResNotOk, as a source does that gives no finer reason; a list or a
// buffer answers symResMemoryAllocError.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

#include "QXSymbols.h"

namespace qxsym {

constexpr QXSymResult kObjectAllocError = symResNotOk;
constexpr QXSymResult kListAllocError = symResMemoryAllocError;

// A new T, or null when memory ran out.
template <typename T, typename... Args>
std::unique_ptr<T> NewOrNull(Args&&... args) {
  return std::unique_ptr<T>(new (std::nothrow) T(std::forward<Args>(args)...));
}

// Makes a T into *out (a pointer to T or to a base of T): symResOk, or
// kObjectAllocError with *out left as it was.
template <typename T, typename Base, typename... Args>
QXSymResult MakeObject(std::unique_ptr<Base>* out, Args&&... args) {
  std::unique_ptr<T> made = NewOrNull<T>(std::forward<Args>(args)...);
  if (!made) return kObjectAllocError;
  *out = std::move(made);
  return symResOk;
}

// A buffer of size bytes into *out: symResOk, or kListAllocError.
inline QXSymResult MakeBuffer(std::unique_ptr<std::uint8_t[]>* out, std::size_t size) {
  out->reset(new (std::nothrow) std::uint8_t[size]);
  return *out ? symResOk : kListAllocError;
}

// A list of count objects, the i-th made by make(i) (a pointer, null when
// memory ran out), into *out: symResOk, or kListAllocError with *out left as
// it was and the objects made so far destroyed.
template <typename T, typename Make>
QXSymResult MakeList(std::uint32_t count, Make make, std::vector<std::unique_ptr<T>>* out) {
  std::vector<std::unique_ptr<T>> made;
  try {
    made.reserve(count);
  } catch (const std::bad_alloc&) {
    return kListAllocError;
  } catch (const std::length_error&) {
    return kListAllocError;
  }
  for (std::uint32_t i = 0; i < count; ++i) {
    std::unique_ptr<T> one = make(i);
    if (!one) return kListAllocError;
    made.push_back(std::move(one));
  }
  *out = std::move(made);
  return symResOk;
}

}  // namespace qxsym
