// A byte port that lives in memory, for tests, benchmarks and fuzzers. The
// peer side is played by the owner: Feed queues bytes for the codec to
// receive, a callback sees every flushed block and may answer it at once,
// and ClosePeer makes the port report a lost connection once the queued
// bytes are used up. Waiting for input never blocks: with nothing queued a
// wait runs out at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "CComPort.h"
#include "ExchangeLock.h"

namespace qxsym {

class CMemoryComPort final : public CComPort {
 public:
  // Called with every flushed block of bytes.
  using Peer = std::function<void(const std::uint8_t* data, std::size_t size)>;

  CMemoryComPort();
  ~CMemoryComPort() override;

  // Connects; the address is not read and may be null.
  bool Open(const QXSymServerAddress* address) override;
  int Close() override;
  bool Append(const void* data, std::int32_t length) override;
  void Clear() override;
  bool Flush() override;
  bool Lock(std::uint32_t timeoutMs) override;
  bool Unlock() override;
  void Shutdown() override;
  std::uint32_t TransmitLimit() const override { return transmit_limit_; }

  // Peer side.
  void SetPeer(Peer peer) { peer_ = std::move(peer); }
  // Queues bytes to be received. May be called from within the peer callback.
  void Feed(const void* data, std::size_t size);
  void Feed(const std::vector<std::uint8_t>& bytes) { Feed(bytes.data(), bytes.size()); }
  // After the queued bytes, waits report a lost connection.
  void ClosePeer() { peer_closed_ = true; }
  // Hands queued input out in blocks of at most this many bytes (default:
  // all that is queued), to exercise frames split across refills.
  void set_max_block(std::size_t n) { max_block_ = n == 0 ? 1 : n; }
  void set_transmit_limit(std::uint32_t n) { transmit_limit_ = n; }
  // Whether flushed bytes are kept in sent(); on by default.
  void set_record_sent(bool on) { record_sent_ = on; }

  const std::vector<std::uint8_t>& sent() const { return sent_; }
  void ClearSent() { sent_.clear(); }
  std::size_t queued() const { return input_.size() - read_pos_ + rx_pending_; }
  // Lock bookkeeping: how many exchanges took the lock, and how many hold it now.
  int lock_count() const { return lock_count_; }
  int lock_depth() const { return lock_depth_; }

 protected:
  bool Refill(std::uint16_t timeoutMs) override;

 private:
  std::vector<std::uint8_t> input_;
  std::size_t read_pos_ = 0;  // first byte of input_ not yet in the window
  std::size_t max_block_ = static_cast<std::size_t>(-1);
  bool peer_closed_ = false;
  bool open_ = false;

  std::vector<std::uint8_t> tx_;
  std::uint32_t transmit_limit_ = 4095;
  std::vector<std::uint8_t> sent_;
  bool record_sent_ = true;
  Peer peer_;

  ExchangeLock lock_;
  int lock_count_ = 0;
  int lock_depth_ = 0;
};

}  // namespace qxsym
