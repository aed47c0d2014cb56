// A byte buffer that lives on the stack up to N bytes and on the heap above.
// Allocation failure is reported through ok(), never by an exception, so the
// operations can answer a result code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace qxsym {

template <std::size_t N>
class ScratchBuffer {
 public:
  explicit ScratchBuffer(std::size_t size) : size_(size) {
    if (size <= N) {
      data_ = inline_;
    } else {
      heap_.reset(new (std::nothrow) std::uint8_t[size]);
      data_ = heap_.get();
    }
  }
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  bool ok() const { return data_ != nullptr; }
  std::uint8_t* data() { return data_; }
  std::size_t size() const { return size_; }

 private:
  std::uint8_t inline_[N];
  std::unique_ptr<std::uint8_t[]> heap_;
  std::uint8_t* data_ = nullptr;
  std::size_t size_;
};

}  // namespace qxsym
