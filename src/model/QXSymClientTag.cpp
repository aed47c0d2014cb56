#include "QXSymClientTag.h"

namespace qxsym {

namespace {

// The common rule of the three cached values: answer from the cache, or ask
// and remember only a successful answer.
template <typename Ask>
QXSymResult Cached(std::uint32_t* out, std::uint32_t* value, bool* known, Ask ask) {
  if (out == nullptr) return symResInvalidParameter;
  if (*known) {
    *out = *value;
    return symResOk;
  }
  const QXSymResult r = ask(out);
  if (r == symResOk) {
    *value = *out;
    *known = true;
  }
  return r;
}

}  // namespace

QXSymResult QXSymClientTag::GetDataTypeVar(std::uint32_t* type) {
  return Cached(type, &type_var_, &type_var_known_,
                [this](std::uint32_t* out) { return AskDataTypeVar(out); });
}

QXSymResult QXSymClientTag::GetDataSize(std::uint32_t* size) {
  return Cached(size, &data_size_, &data_size_known_,
                [this](std::uint32_t* out) { return AskDataSize(out); });
}

QXSymResult QXSymClientTag::GetDataFullSize(std::uint32_t* size) {
  return Cached(size, &full_size_, &full_size_known_,
                [this](std::uint32_t* out) { return AskDataFullSize(out); });
}

QXSymResult QXSymClientTag::ReadValue(void* buffer, std::uint32_t capacity) {
  std::uint32_t size = 0;
  const QXSymResult r = GetDataSize(&size);
  if (r != symResOk) return r;
  if (capacity < size) return symResInvalidBuffer;
  return GetValue(buffer, capacity);
}

QXSymResult QXSymClientTag::ReadRawValue(void* buffer, std::uint32_t capacity) {
  std::uint32_t full = 0;
  const QXSymResult r = GetDataFullSize(&full);
  if (r != symResOk) return r;
  if (full > capacity) return symResInvalidBuffer;
  if (full == 0) return symResOk;
  return GetRawValue(buffer, full);  // exactly the full size
}

QXSymResult QXSymClientTag::WriteRawValue(const void* data, std::uint32_t size) {
  std::uint32_t full = 0;
  const QXSymResult r = GetDataFullSize(&full);
  if (r != symResOk) return r;
  if (size > full) return symResInvalidParameter;
  if (full == 0) return symResOk;
  return SetRawValue(data, size);
}

void QXSymClientTag::SetCachedDataSize(std::uint32_t value) {
  data_size_ = value;
  data_size_known_ = true;
}

void QXSymClientTag::SetCachedDataFullSize(std::uint32_t value) {
  full_size_ = value;
  full_size_known_ = true;
}

void QXSymClientTag::SetCachedDataTypeVar(std::uint32_t value) {
  type_var_ = value;
  type_var_known_ = true;
}

bool QXSymClientTag::GetCachedDataSize(std::uint32_t* out) const {
  if (!data_size_known_) return false;
  *out = data_size_;
  return true;
}

bool QXSymClientTag::GetCachedDataFullSize(std::uint32_t* out) const {
  if (!full_size_known_) return false;
  *out = full_size_;
  return true;
}

bool QXSymClientTag::GetCachedDataTypeVar(std::uint32_t* out) const {
  if (!type_var_known_) return false;
  *out = type_var_;
  return true;
}

void QXSymClientTag::CopyCachedValuesTo(QXSymClientTag* target) const {
  target->data_size_ = data_size_;
  target->data_size_known_ = data_size_known_;
  target->full_size_ = full_size_;
  target->full_size_known_ = full_size_known_;
  target->type_var_ = type_var_;
  target->type_var_known_ = type_var_known_;
}

}  // namespace qxsym
