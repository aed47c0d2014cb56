#include "CGDBCommunication.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "CTCPComPort.h"
#include "Wire.h"

namespace qxsym {
namespace {

constexpr std::uint8_t kCommandY = 'Y';
constexpr std::uint8_t kIgnoredReplyCapacity = 1;

}  // namespace

// Holds the port's lock for one exchange and points the codec at the port.
// The wait for an exchange of another thread on the same connection lasts
// at most the channel's time-out; the codec is only touched once the lock is
// held.
class CGDBCommunication::Exchange {
 public:
  Exchange(CComPort& port, CGDBFrameCodec& codec, std::uint16_t timeoutMs)
      : port_(port), codec_(codec), locked_(port_.Lock(timeoutMs)) {
    if (locked_) codec_.set_port(&port_);
  }
  ~Exchange() {
    if (!locked_) return;
    codec_.set_port(nullptr);
    port_.Unlock();
  }
  Exchange(const Exchange&) = delete;
  Exchange& operator=(const Exchange&) = delete;

  bool locked() const { return locked_; }

 private:
  CComPort& port_;
  CGDBFrameCodec& codec_;
  const bool locked_;
};

CGDBCommunication::CGDBCommunication() = default;

CGDBCommunication::~CGDBCommunication() { Close(); }

bool CGDBCommunication::Open(const QXSymServerAddress* address) {
  if (address == nullptr) return false;
  if (address->timeout != 0) codec_.set_timeout_ms(address->timeout);
  std::int32_t protocol = 0;  // any 32-bit value may be stored in the field
  std::memcpy(&protocol, &address->protocol, sizeof(protocol));
  if (protocol != symProtGDB_TCP) return false;
  auto port = std::make_shared<CTCPComPort>();
  if (!port->Open(address)) return false;
  return Attach(std::move(port));
}

bool CGDBCommunication::OpenOnPort(std::shared_ptr<CComPort> port, std::uint16_t timeoutMs) {
  if (!port || !port->connected()) return false;
  if (timeoutMs != 0) codec_.set_timeout_ms(timeoutMs);
  return Attach(std::move(port));
}

bool CGDBCommunication::Attach(std::shared_ptr<CComPort> port) {
  {
    std::lock_guard<std::mutex> guard(port_mutex_);
    if (port_) return false;  // opened once only
    port_ = port;
  }
  // The handshakes run before the channel is shared: no lock, and no new
  // sequence number.
  codec_.set_port(port.get());
  codec_.Negotiate();
  codec_.set_port(nullptr);
  connected_ = true;
  return true;
}

bool CGDBCommunication::Close() {
  std::shared_ptr<CComPort> port;
  {
    std::lock_guard<std::mutex> guard(port_mutex_);
    port.swap(port_);
  }
  if (port) {
    // Wakes an exchange of another thread that is waiting on this port. That
    // exchange holds its own reference, so the port (and its socket) is
    // destroyed by whichever of the two lets go last: here when no exchange
    // is running.
    port->Shutdown();
    port.reset();
  }
  connected_ = false;
  return true;
}

bool CGDBCommunication::busy() {
  std::shared_ptr<CComPort> port = AcquirePort();
  if (!port || !port->Lock(0)) return port != nullptr;
  port->Unlock();
  return false;
}

std::shared_ptr<CComPort> CGDBCommunication::AcquirePort() {
  std::lock_guard<std::mutex> guard(port_mutex_);
  return port_;
}

int CGDBCommunication::Command(CComPort& port, const std::uint8_t* part1, std::uint16_t length1,
                               const std::uint8_t* part2, std::uint16_t length2, void* reply,
                               std::uint16_t capacity, std::uint16_t* error) {
  Exchange exchange(port, codec_, codec_.timeout_ms());
  if (!exchange.locked()) {
    *error = gdb::kErrTimeout;
    return -1;
  }
  codec_.NextSequence();
  int count = -1;
  if (codec_.SendFrame(part1, length1, part2, length2))
    count = codec_.ReceiveFrame(reply, capacity);
  *error = codec_.last_error();
  return count;
}

QXSymResult CGDBCommunication::MapMemoryError(std::uint16_t error, QXSymResult general) {
  switch (error) {
    case gdb::kErrTimeout:
      return symResTimeoutError;
    case gdb::kErrConnectionLost:
      return symResConnectionLost;
    default:
      return general;
  }
}

// ---- Memory ------------------------------------------------------------

QXSymResult CGDBCommunication::MoveChunks(bool wide, std::uint64_t address, std::int32_t size,
                                          std::uint8_t* into, const std::uint8_t* from) {
  std::shared_ptr<CComPort> port = AcquirePort();
  if (!port) return symResConnectionLost;
  const bool write = from != nullptr;
  const std::uint8_t letter = write ? 'M' : 'm';
  for (std::int32_t offset = 0; offset < size;) {
    const auto chunk =
        static_cast<std::uint16_t>(std::min<std::int32_t>(size - offset, gdb::kMemoryChunk));
    std::uint8_t request[13];
    WireWriter w(request, sizeof(request));
    if (wide) {
      w.U8('6').U8('4').U8(letter).U64(address);
    } else {
      w.U8(letter).U32(static_cast<std::uint32_t>(address));
    }
    // A read names its count; a write's count is the length of the data
    // that follows, whose reply is not looked at.
    int received = 0;
    std::uint16_t error = 0;
    if (write) {
      std::uint8_t ignored[kIgnoredReplyCapacity];
      received = Command(*port, request, static_cast<std::uint16_t>(w.size()), from + offset, chunk,
                         ignored, sizeof(ignored), &error);
    } else {
      w.U16(chunk);
      received = Command(*port, request, static_cast<std::uint16_t>(w.size()), nullptr, 0,
                         into + offset, chunk, &error);
    }
    if (received < 0)
      return MapMemoryError(error, write ? symResMemWriteError : symResMemReadError);
    offset += chunk;
    address += gdb::kMemoryChunk;
  }
  return symResOk;
}

QXSymResult CGDBCommunication::ReadMemory(std::uint32_t address, std::int32_t size, void* buffer) {
  if (address == 0 || size == 0 || buffer == nullptr) return symResInvalidParameter;
  if (size < 0) return symResOk;
  return MoveChunks(false, address, size, static_cast<std::uint8_t*>(buffer), nullptr);
}

QXSymResult CGDBCommunication::WriteMemory(std::uint32_t address, std::int32_t size,
                                           const void* data) {
  if (address == 0 || size == 0 || data == nullptr) return symResInvalidParameter;
  if (size < 0) return symResOk;
  return MoveChunks(false, address, size, nullptr, static_cast<const std::uint8_t*>(data));
}

QXSymResult CGDBCommunication::ReadMemory64(std::uint64_t address, std::int32_t size,
                                            void* buffer) {
  if (address == 0 || size == 0 || buffer == nullptr) return symResInvalidParameter;
  if (size < 0) return symResOk;
  return MoveChunks(true, address, size, static_cast<std::uint8_t*>(buffer), nullptr);
}

QXSymResult CGDBCommunication::WriteMemory64(std::uint64_t address, std::int32_t size,
                                             const void* data) {
  if (address == 0 || size == 0 || data == nullptr) return symResInvalidParameter;
  if (size < 0) return symResOk;
  return MoveChunks(true, address, size, nullptr, static_cast<const std::uint8_t*>(data));
}

QXSymResult CGDBCommunication::WriteBit(std::uint32_t, std::uint32_t, std::uint8_t) {
  return symResNotImplemented;
}
QXSymResult CGDBCommunication::WriteBits(std::uint32_t, std::uint32_t, std::uint8_t, const void*) {
  return symResNotImplemented;
}
QXSymResult CGDBCommunication::WriteBit64(std::uint64_t, std::uint32_t, std::uint8_t) {
  return symResNotImplemented;
}
QXSymResult CGDBCommunication::WriteBits64(std::uint64_t, std::uint32_t, std::uint8_t,
                                           const void*) {
  return symResNotImplemented;
}

// ---- Variables -----------------------------------------------------------

std::uint8_t CGDBCommunication::WireType(std::uint8_t ioType) {
  static constexpr std::uint8_t kWireTypes[13] = {0, 5, 2, 1, 2, 3, 4, 6, 7, 255, 1, 8, 9};
  if (ioType == 255) return 0;
  if (ioType < sizeof(kWireTypes)) return kWireTypes[ioType];
  return 255;
}

QXSymResult CGDBCommunication::ReadVariable(std::uint16_t index, std::uint32_t /*reserved*/,
                                            void* buffer, std::uint16_t bufferSize,
                                            std::uint8_t ioType) {
  if (buffer == nullptr) return symResInvalidParameter;
  std::shared_ptr<CComPort> port = AcquirePort();
  if (!port) return symResConnectionLost;
  std::uint8_t request[4];
  WireWriter(request, sizeof(request)).U8('i').U16(index).U8(WireType(ioType));
  std::uint8_t reply[gdb::kVariableReplyCapacity];
  std::uint16_t error = 0;
  const int count =
      Command(*port, request, sizeof(request), nullptr, 0, reply, sizeof(reply), &error);
  // The value follows three bytes that are not used; a reply without at
  // least one value byte counts as a failed command.
  if (count < static_cast<int>(gdb::kVariableReplySkip) + 1) {
    switch (error) {
      case gdb::kErrInvalidParameter:
        return symResInvalidParameter;
      case gdb::kErrTimeout:
        return symResTimeoutError;
      default:
        return symResMemReadError;
    }
  }
  const auto length = static_cast<std::uint32_t>(count) - gdb::kVariableReplySkip;
  if (bufferSize < length) return symResInvalidBuffer;
  std::memcpy(buffer, reply + gdb::kVariableReplySkip, length);
  return symResOk;
}

QXSymResult CGDBCommunication::WriteVariable(std::uint16_t index, std::uint32_t /*reserved*/,
                                             const void* data, std::uint16_t size,
                                             std::uint8_t ioType) {
  if (std::uint32_t{size} + gdb::kVariableRequestHeader > gdb::kVariableRequestLimit) {
    return symResInvalidBuffer;
  }
  if (data == nullptr && size != 0) return symResInvalidParameter;
  std::shared_ptr<CComPort> port = AcquirePort();
  if (!port) return symResConnectionLost;
  std::uint8_t request[gdb::kVariableRequestHeader];
  WireWriter(request, sizeof(request)).U8('I').U16(index).U8(WireType(ioType));
  std::uint8_t reply[gdb::kWriteVariableReplyCapacity];
  std::uint16_t error = 0;
  if (Command(*port, request, sizeof(request), static_cast<const std::uint8_t*>(data), size, reply,
              sizeof(reply), &error) < 0) {
    switch (error) {
      case gdb::kErrInvalidParameter:
        return symResInvalidParameter;
      case gdb::kErrTimeout:
        return symResTimeoutError;
      default:
        return symResMemWriteError;
    }
  }
  return symResOk;
}

// ---- Symbol-service messages ------------------------------------------------

std::uint32_t CGDBCommunication::BuildRequestFragment(std::uint32_t transfer, std::uint32_t offset,
                                                      bool* last) {
  *last = false;
  const auto it = transfer_index_.find(transfer);
  if (it == transfer_index_.end()) return 0;
  const StoredRequest request = stored_requests_[it->second];
  if (offset > request.size) return 0;
  const std::uint32_t remaining = request.size - offset;
  gdb::Fragment fragment;
  fragment.transfer = transfer;
  fragment.total = request.size;
  fragment.offset = offset;
  fragment.length = std::min(remaining, gdb::kMaxFragmentData);
  fragment.last = remaining <= gdb::kMaxFragmentData;
  fragment.data = request.data + offset;
  *last = fragment.last;
  WireWriter w(outgoing_message_, sizeof(outgoing_message_));
  gdb::PackRequestFragment(w, fragment);
  if (*last) ReleaseRequest(transfer);
  return static_cast<std::uint32_t>(w.size());
}

void CGDBCommunication::ReleaseRequest(std::uint32_t transfer) {
  const auto it = transfer_index_.find(transfer);
  if (it == transfer_index_.end()) return;
  stored_requests_[it->second] = StoredRequest{};
  transfer_index_.erase(it);
  while (!stored_requests_.empty() && stored_requests_.back().data == nullptr) {
    stored_requests_.pop_back();
  }
}

bool CGDBCommunication::ReassembleReply(const gdb::Fragment& first, std::uint8_t* response,
                                        std::uint32_t* responseSize,
                                        const TransferProgress* progress) {
  const std::uint32_t total = first.total;
  // The whole reply goes into the caller's buffer, so its announced total
  // must fit there, and no fragment may carry more than the total.
  if (total > *responseSize || first.length > total) return false;
  std::memmove(response, first.data, first.length);
  std::uint32_t assembled = first.length;
  if (!have_reply_transfer_ || first.transfer != reply_transfer_) {
    have_reply_transfer_ = true;
    reply_transfer_ = first.transfer;
    reply_received_ = 0;
  }
  reply_received_ += first.length;
  if (progress != nullptr) (*progress)(assembled, total);

  do {
    gdb::Fragment next;
    if (!NextReplyFragment(first.transfer, total - assembled, &next)) return false;
    // An empty fragment completes a reply whose fragments so far carried the
    // whole total (the controller answers every acknowledgement, even the
    // one for the last byte); elsewhere it makes no progress. A fragment
    // beyond the total overflows.
    if (next.length == 0) {
      if (assembled == total) break;
      return false;
    }
    if (next.length > total - assembled) return false;
    std::memcpy(response + assembled, next.data, next.length);
    assembled += next.length;
    reply_received_ += next.length;
    if (progress != nullptr) (*progress)(assembled, total);
  } while (assembled < total);
  *responseSize = assembled;
  return true;
}

bool CGDBCommunication::NextReplyFragment(std::uint32_t transfer, std::uint32_t missing,
                                          gdb::Fragment* fragment) {
  WireWriter ack(reply_ack_, sizeof(reply_ack_));
  gdb::PackReplyFragmentAck(ack, gdb::FragmentAck{reply_transfer_, reply_received_});
  if (!codec_.SendFrame(&kCommandY, 1, reply_ack_, sizeof(reply_ack_))) return false;
  // A fragment longer than what is still missing arrives cut, and its
  // length field then gives it away.
  const std::uint32_t capacity =
      std::min<std::uint32_t>(gdb::kMaxReplyFrame, gdb::kReplyFragmentHeader + missing);
  if (fragment_buffer_.size() < capacity) fragment_buffer_.resize(capacity);
  const int received =
      codec_.ReceiveFrame(fragment_buffer_.data(), static_cast<std::uint16_t>(capacity));
  if (received < 0) return false;
  return gdb::UnpackReplyFragment(fragment_buffer_.data(), static_cast<std::uint32_t>(received),
                                  fragment) &&
         fragment->transfer == transfer;
}

QXSymResult CGDBCommunication::Transact(const void* request, std::uint32_t requestSize,
                                        void* response, std::uint32_t* responseSize) {
  return Transfer(request, requestSize, response, responseSize, nullptr);
}

QXSymResult CGDBCommunication::TransactWithProgress(const void* request, std::uint32_t requestSize,
                                                    void* response, std::uint32_t* responseSize,
                                                    const TransferProgress& progress) {
  return Transfer(request, requestSize, response, responseSize, &progress);
}

QXSymResult CGDBCommunication::Transfer(const void* request, std::uint32_t requestSize,
                                        void* response, std::uint32_t* responseSize,
                                        const TransferProgress* progress) {
  if (request == nullptr || requestSize < 2 || response == nullptr || responseSize == nullptr) {
    return symResInvalidParameter;
  }
  std::shared_ptr<CComPort> port = AcquirePort();
  if (!port) return symResConnectionLost;
  const auto* req = static_cast<const std::uint8_t*>(request);

  Exchange exchange(*port, codec_, codec_.timeout_ms());
  if (!exchange.locked()) return symResTimeoutError;
  codec_.NextSequence();  // one number for every frame of this transaction
  const QXSymResult sent = requestSize > gdb::kMaxMessage ? SendFragmented(req, requestSize)
                                                          : SendMessage(req, requestSize);
  if (sent != symResOk) return sent;
  return ReceiveReply(LoadU16(req), static_cast<std::uint8_t*>(response), responseSize, progress);
}

QXSymResult CGDBCommunication::SendMessage(const std::uint8_t* message, std::uint32_t size) {
  return codec_.SendFrame(&kCommandY, 1, message, static_cast<std::uint16_t>(size))
             ? symResOk
             : symResSocketError;
}

QXSymResult CGDBCommunication::SendFragmented(const std::uint8_t* request, std::uint32_t size) {
  const std::uint32_t transfer = next_transfer_++;
  stored_requests_.push_back(StoredRequest{request, size});
  transfer_index_[transfer] = stored_requests_.size() - 1;
  const QXSymResult result = SendFragments(transfer, size);
  // A request whose transfer broke off is of no further use.
  ReleaseRequest(transfer);
  return result;
}

QXSymResult CGDBCommunication::SendFragments(std::uint32_t transfer, std::uint32_t size) {
  bool last = false;
  const std::uint32_t first = BuildRequestFragment(transfer, 0, &last);
  if (SendMessage(outgoing_message_, first) != symResOk) return symResSocketError;
  // The controller names the offset it wants next, until the last fragment
  // went out. A controller that keeps asking again is cut off.
  const std::uint32_t max_sends = 2 * (size / gdb::kMaxFragmentData + 1) + 16;
  for (std::uint32_t sends = 1; !last; ++sends) {
    const int count = codec_.ReceiveFrame(ack_reply_, sizeof(ack_reply_));
    if (count < 0) return symResTimeoutError;
    gdb::FragmentAck ack;
    if (sends > max_sends ||
        !gdb::UnpackFragmentAck(ack_reply_, static_cast<std::uint32_t>(count), &ack)) {
      return symResSegmentationError;
    }
    const auto it = transfer_index_.find(ack.transfer);
    if (it == transfer_index_.end() || ack.position > stored_requests_[it->second].size) {
      return symResSegmentationError;
    }
    const std::uint32_t length = BuildRequestFragment(ack.transfer, ack.position, &last);
    if (SendMessage(outgoing_message_, length) != symResOk) return symResSegmentationError;
  }
  return symResOk;
}

QXSymResult CGDBCommunication::ReceiveReply(std::uint16_t code, std::uint8_t* response,
                                            std::uint32_t* responseSize,
                                            const TransferProgress* progress) {
  const auto capacity =
      static_cast<std::uint16_t>(std::min<std::uint32_t>(*responseSize, gdb::kMaxReplyFrame));
  const int count = codec_.ReceiveFrame(response, capacity);
  if (count < 0) return symResTimeoutError;
  const auto received = static_cast<std::uint32_t>(count);
  gdb::Fragment first;
  if (gdb::UnpackReplyFragment(response, received, &first)) {
    if (!ReassembleReply(first, response, responseSize, progress)) return symResSegmentationError;
  } else {
    *responseSize = received;
    if (received < 2) return symResNotOk;
  }
  return LoadU16(response) == code ? symResOk : symResProtocolError;
}

}  // namespace qxsym
