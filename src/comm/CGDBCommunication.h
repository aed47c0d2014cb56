// The channel that speaks the framed controller protocol over a byte port:
// memory and variable commands, and Transact, which carries one
// symbol-service message in a "Y" frame, or in fragments when it is longer
// than one frame, and reassembles replies that come back in fragments.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "CComPort.h"
#include "CCommunication.h"
#include "CGDBFrameCodec.h"
#include "FragmentMessages.h"
#include "GDBProtocol.h"

namespace qxsym {

class CGDBCommunication final : public CCommunication {
 public:
  CGDBCommunication();
  ~CGDBCommunication() override;

  // Connects a TCP port to address (protocol symProtGDB_TCP only), then
  // negotiates acknowledgements and sequence numbers. address->timeout,
  // when not 0, becomes the time-out of every wait, the connect included.
  bool Open(const QXSymServerAddress* address) override;
  // As Open, on a port that is already open (an in-memory port, say).
  // timeoutMs 0 keeps the default.
  bool OpenOnPort(std::shared_ptr<CComPort> port, std::uint16_t timeoutMs);
  // Releases the port. An exchange running at the same time on another
  // thread keeps the port alive until it ends, and is woken at once with a
  // lost connection instead of waiting for its time-out.
  bool Close() override;

  // Results: symResOk; symResInvalidParameter (address 0, size 0, null
  // buffer); symResTimeoutError; symResConnectionLost; symResMemReadError /
  // symResMemWriteError; symResConnectionLost on a closed channel. A negative
  // size moves nothing and gives symResOk.
  QXSymResult ReadMemory(std::uint32_t address, std::int32_t size, void* buffer) override;
  QXSymResult WriteMemory(std::uint32_t address, std::int32_t size, const void* data) override;
  QXSymResult ReadMemory64(std::uint64_t address, std::int32_t size, void* buffer) override;
  QXSymResult WriteMemory64(std::uint64_t address, std::int32_t size, const void* data) override;
  // No such command on this protocol: symResNotImplemented.
  QXSymResult WriteBit(std::uint32_t address, std::uint32_t bitOffset, std::uint8_t value) override;
  QXSymResult WriteBits(std::uint32_t address, std::uint32_t bitOffset, std::uint8_t bitWidth,
                        const void* value) override;
  QXSymResult WriteBit64(std::uint64_t address, std::uint32_t bitOffset,
                         std::uint8_t value) override;
  QXSymResult WriteBits64(std::uint64_t address, std::uint32_t bitOffset, std::uint8_t bitWidth,
                          const void* value) override;
  // symResOk; symResInvalidBuffer (value longer than bufferSize);
  // symResInvalidParameter (null buffer, or refused by the target);
  // symResTimeoutError; symResMemReadError; symResConnectionLost when closed.
  QXSymResult ReadVariable(std::uint16_t index, std::uint32_t reserved, void* buffer,
                           std::uint16_t bufferSize, std::uint8_t ioType) override;
  // symResOk; symResInvalidBuffer (size > 252, nothing sent);
  // symResInvalidParameter; symResTimeoutError; symResMemWriteError;
  // symResConnectionLost when closed.
  QXSymResult WriteVariable(std::uint16_t index, std::uint32_t reserved, const void* data,
                            std::uint16_t size, std::uint8_t ioType) override;
  // See CCommunication. Also symResInvalidParameter for a null pointer or a
  // request shorter than its 2-byte code, and symResConnectionLost on a closed
  // channel. A reply whose first fragment carries the whole total is complete
  // once the controller's empty fragment of the same transfer has arrived. A fragmented reply
  // larger than *responseSize, or whose fragments exceed the total it announced, gives
  // symResSegmentationError.
  QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize) override;
  // Reports after each fragment of a fragmented reply.
  QXSymResult TransactWithProgress(const void* request, std::uint32_t requestSize, void* response,
                                   std::uint32_t* responseSize,
                                   const TransferProgress& progress) override;

  // Wire type sent for an I/O data type code.
  static std::uint8_t WireType(std::uint8_t ioType);

  // Inspection, for tests and tools.
  bool ack_mode() const { return codec_.ack_mode(); }
  bool sequence_mode() const { return codec_.sequence_mode(); }
  std::uint16_t sequence() const { return codec_.sequence(); }
  std::uint16_t last_error() const { return codec_.last_error(); }
  std::uint16_t timeout_ms() const { return codec_.timeout_ms(); }
  // Whether an exchange holds the connection right now.
  bool busy();

 private:
  class Exchange;

  bool Attach(std::shared_ptr<CComPort> port);
  std::shared_ptr<CComPort> AcquirePort();
  // One command in its own locked exchange with a new sequence number.
  // Returns the reply's data count, or -1; *error is the codec's internal
  // error as it stood when the exchange ended (kErrTimeout when the
  // connection stayed busy for the whole time-out).
  int Command(CComPort& port, const std::uint8_t* part1, std::uint16_t length1,
              const std::uint8_t* part2, std::uint16_t length2, void* reply, std::uint16_t capacity,
              std::uint16_t* error);
  // Reads into `into` (from null) or writes `from`, one command per chunk;
  // the first failing chunk ends the transfer.
  QXSymResult MoveChunks(bool wide, std::uint64_t address, std::int32_t size, std::uint8_t* into,
                         const std::uint8_t* from);
  static QXSymResult MapMemoryError(std::uint16_t error, QXSymResult general);

  // The steps of Transact, run while the exchange holds the port: sending
  // the request in one frame or in fragments, then receiving the reply
  // (reassembling a fragmented one) and checking that it answers `code`.
  QXSymResult SendMessage(const std::uint8_t* message, std::uint32_t size);
  QXSymResult SendFragmented(const std::uint8_t* request, std::uint32_t size);
  QXSymResult SendFragments(std::uint32_t transfer, std::uint32_t size);
  QXSymResult ReceiveReply(std::uint16_t code, std::uint8_t* response, std::uint32_t* responseSize,
                           const TransferProgress* progress);

  // Fragmentation of requests: builds the fragment of `transfer` that starts
  // at `offset` into outgoing_message_. Returns its length (0: empty
  // message) and sets *last.
  std::uint32_t BuildRequestFragment(std::uint32_t transfer, std::uint32_t offset, bool* last);
  void ReleaseRequest(std::uint32_t transfer);
  // Transact, with progress reports when progress is not null.
  QXSymResult Transfer(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize, const TransferProgress* progress);
  // Reassembles a reply whose first fragment (already unpacked, its data
  // inside response) is `first`.
  bool ReassembleReply(const gdb::Fragment& first, std::uint8_t* response,
                       std::uint32_t* responseSize, const TransferProgress* progress);
  // Acknowledges what arrived of the reply and receives the next fragment of
  // `transfer`, with at most `missing` data bytes; false on anything else.
  bool NextReplyFragment(std::uint32_t transfer, std::uint32_t missing, gdb::Fragment* fragment);

  std::mutex port_mutex_;  // guards port_ itself, not its use
  std::shared_ptr<CComPort> port_;
  CGDBFrameCodec codec_;

  std::uint8_t outgoing_message_[gdb::kMaxMessage];
  std::uint8_t ack_reply_[gdb::kMaxMessage];
  std::uint8_t reply_ack_[gdb::kReplyFragmentAckSize];

  // Requests being sent in fragments. They are views of the caller's
  // request, which stays valid for the whole Transact, and are released when
  // it ends.
  struct StoredRequest {
    const std::uint8_t* data = nullptr;
    std::uint32_t size = 0;
  };
  std::vector<StoredRequest> stored_requests_;
  std::map<std::uint32_t, std::size_t> transfer_index_;
  std::uint32_t next_transfer_ = 0;

  // Reassembly of fragmented replies.
  bool have_reply_transfer_ = false;
  std::uint32_t reply_transfer_ = 0;
  std::uint32_t reply_received_ = 0;
  std::vector<std::uint8_t> fragment_buffer_;  // later fragments land here
};

}  // namespace qxsym
