// Bounds-checked little-endian writer and reader for wire records.
// Every request and reply is built and parsed through these; nothing casts a
// packed struct over a buffer. A writer or reader that ran out of room stays
// failed: later calls do nothing and ok() answers false.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qxsym {

class WireWriter {
 public:
  WireWriter(void* buffer, std::size_t capacity)
      : data_(static_cast<std::uint8_t*>(buffer)), capacity_(capacity) {}

  WireWriter& U8(std::uint8_t v) { return Put(v, 1); }
  WireWriter& U16(std::uint16_t v) { return Put(v, 2); }
  WireWriter& U32(std::uint32_t v) { return Put(v, 4); }
  WireWriter& U64(std::uint64_t v) { return Put(v, 8); }

  // Raw bytes as they are.
  WireWriter& Bytes(const void* src, std::size_t n) {
    if (!Reserve(n)) return *this;
    if (n != 0) std::memcpy(data_ + size_, src, n);
    size_ += n;
    return *this;
  }
  // n zero bytes.
  WireWriter& Zeros(std::size_t n) {
    if (!Reserve(n)) return *this;
    if (n != 0) std::memset(data_ + size_, 0, n);
    size_ += n;
    return *this;
  }

  bool ok() const { return ok_; }
  std::size_t size() const { return size_; }
  std::size_t remaining() const { return capacity_ - size_; }
  std::uint8_t* data() const { return data_; }

 private:
  bool Reserve(std::size_t n) {
    if (!ok_ || n > capacity_ - size_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  WireWriter& Put(std::uint64_t v, std::size_t n) {
    if (!Reserve(n)) return *this;
    for (std::size_t i = 0; i < n; ++i) data_[size_ + i] = static_cast<std::uint8_t>(v >> (8 * i));
    size_ += n;
    return *this;
  }

  std::uint8_t* data_;
  std::size_t capacity_;
  std::size_t size_ = 0;
  bool ok_ = true;
};

class WireReader {
 public:
  WireReader(const void* buffer, std::size_t size)
      : data_(static_cast<const std::uint8_t*>(buffer)), size_(size) {}

  // Each getter leaves *out untouched and fails the reader when fewer bytes
  // than needed are left.
  bool U8(std::uint8_t* out) { return Get(out, 1); }
  bool U16(std::uint16_t* out) { return Get(out, 2); }
  bool U32(std::uint32_t* out) { return Get(out, 4); }
  bool U64(std::uint64_t* out) { return Get(out, 8); }

  bool Bytes(void* dst, std::size_t n) {
    if (!Need(n)) return false;
    if (n != 0) std::memcpy(dst, data_ + pos_, n);
    pos_ += n;
    return true;
  }
  // A view of the next n bytes without copying; null when they are missing.
  const std::uint8_t* View(std::size_t n) {
    if (!Need(n)) return nullptr;
    const std::uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }
  bool Skip(std::size_t n) {
    if (!Need(n)) return false;
    pos_ += n;
    return true;
  }

  bool ok() const { return ok_; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return size_ - pos_; }

 private:
  bool Need(std::size_t n) {
    if (!ok_ || n > size_ - pos_) {
      ok_ = false;
      return false;
    }
    return true;
  }
  template <typename T>
  bool Get(T* out, std::size_t n) {
    if (!Need(n)) return false;
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
    pos_ += n;
    *out = static_cast<T>(v);
    return true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool ok_ = true;
};

// Little-endian loads and stores for code that works on fixed offsets.
inline std::uint16_t LoadU16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t LoadU32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void StoreU16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void StoreU32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace qxsym
