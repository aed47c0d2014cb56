#include "CMemoryComPort.h"

#include <algorithm>
#include <cstring>

namespace qxsym {

CMemoryComPort::CMemoryComPort() { tx_.reserve(transmit_limit_); }

CMemoryComPort::~CMemoryComPort() = default;

bool CMemoryComPort::Open(const QXSymServerAddress* /*address*/) {
  if (open_) return false;
  open_ = true;
  SetConnected(true);
  return true;
}

int CMemoryComPort::Close() {
  if (!open_) return -1;
  open_ = false;
  return 0;
}

void CMemoryComPort::Feed(const void* data, std::size_t size) {
  // The window may point into input_; keep it valid across a reallocation.
  const std::size_t window_at =
      rx_pending_ != 0 ? static_cast<std::size_t>(rx_next_ - input_.data()) : 0;
  if (rx_pending_ == 0 && read_pos_ == input_.size()) {
    input_.clear();  // all handed out: reuse the storage from the start
    read_pos_ = 0;
  }
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  input_.insert(input_.end(), bytes, bytes + size);
  if (rx_pending_ != 0) rx_next_ = input_.data() + window_at;
}

bool CMemoryComPort::Refill(std::uint16_t /*timeoutMs*/) {
  if (!connected() || !open_) return false;
  if (read_pos_ == input_.size()) {
    if (peer_closed_) SetConnected(false);
    return false;  // nothing queued: the wait runs out at once
  }
  const std::size_t n = std::min(max_block_, input_.size() - read_pos_);
  rx_next_ = input_.data() + read_pos_;
  rx_pending_ = static_cast<std::uint32_t>(n);
  read_pos_ += n;
  return true;
}

bool CMemoryComPort::Append(const void* data, std::int32_t length) {
  if (!connected() || !open_ || length < 0) return false;
  if (tx_.size() + static_cast<std::size_t>(length) > transmit_limit_) return false;
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  tx_.insert(tx_.end(), bytes, bytes + length);
  return true;
}

void CMemoryComPort::Clear() {
  tx_.clear();
  rx_pending_ = 0;
}

bool CMemoryComPort::Flush() {
  if (!connected() || !open_) return false;
  if (tx_.empty()) return true;
  if (record_sent_) sent_.insert(sent_.end(), tx_.begin(), tx_.end());
  if (peer_) peer_(tx_.data(), tx_.size());
  tx_.clear();
  return true;
}

bool CMemoryComPort::Lock(std::uint32_t timeoutMs) {
  if (!lock_.TryLockFor(timeoutMs)) return false;
  ++lock_count_;
  ++lock_depth_;
  return true;
}

bool CMemoryComPort::Unlock() {
  --lock_depth_;
  lock_.Unlock();
  return true;
}

void CMemoryComPort::Shutdown() { SetConnected(false); }

}  // namespace qxsym
