#include "RemoteCall.h"

#include <algorithm>
#include <cstring>

#include "TypeMessages.h"

namespace qxsym {

QXSymResult Exchange(CCommunication* channel, const WireWriter& request, std::uint8_t* reply,
                     std::uint32_t capacity, WireReader* payload, bool* answered,
                     const TransferProgress* progress) {
  if (answered != nullptr) *answered = false;
  // A request that did not fit its buffer is a fault of this library; it is
  // never sent half-built.
  if (!request.ok() || request.size() < 2) return symResNotOk;
  // A Remote object always holds its workspace's channel; without one (a
  // workspace never attached) there is nothing to talk to.
  if (channel == nullptr) return symResConnectionLost;

  std::uint32_t received = capacity;
  const auto request_size = static_cast<std::uint32_t>(request.size());
  const QXSymResult r =
      progress != nullptr
          ? channel->TransactWithProgress(request.data(), request_size, reply, &received, *progress)
          : channel->Transact(request.data(), request_size, reply, &received);
  if (r != symResOk) return r;

  WireReader reader(reply, std::min(received, capacity));
  std::uint16_t code = 0;
  std::uint16_t status = 0;
  if (!reader.U16(&code) || !reader.U16(&status)) return symResNotOk;
  if (code != LoadU16(request.data())) return symResProtocolError;
  if (answered != nullptr) *answered = true;
  // A status is one of the result codes. Any other value on the wire makes
  // the reply malformed: it cannot be handed on as a result.
  if (status > symResProtocolError) return symResNotOk;
  if (status != symResOk) return static_cast<QXSymResult>(status);
  *payload = reader;
  return symResOk;
}

QXSymResult TakeReplyText(WireReader& payload, TCHAR* buffer, std::uint16_t* length) {
  std::uint16_t text_length = 0;
  const std::uint8_t* text = nullptr;
  if (!UnpackReplyText(payload, &text, &text_length)) return symResNotOk;

  if (text_length > *length) {
    *length = text_length;
    return symResInvalidBuffer;
  }
  const void* zero = std::memchr(text, 0, text_length);
  const std::size_t used =
      zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - text) : text_length;
  std::memcpy(buffer, text, used);
  std::memset(buffer + used, 0, text_length - used);
  buffer[text_length - 1] = '\0';
  *length = text_length;
  return symResOk;
}

QXSymResult ExchangeStatus(CCommunication* channel, const WireWriter& request) {
  std::uint8_t reply[kStatusReplyCapacity];
  WireReader payload(nullptr, 0);
  return Exchange(channel, request, reply, sizeof reply, &payload);
}

QXSymResult ExchangeForBool(CCommunication* channel, const WireWriter& request, bool_t* answer) {
  if (answer == nullptr) return symResInvalidParameter;
  std::uint8_t reply[kBoolReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel, request, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  std::uint8_t value = 0;
  if (!UnpackU8Reply(payload, &value)) return symResNotOk;
  *answer = value;
  return symResOk;
}

QXSymResult ExchangeForU32(CCommunication* channel, const WireWriter& request,
                           std::uint32_t* value) {
  if (value == nullptr) return symResInvalidParameter;
  std::uint8_t reply[kU32ReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel, request, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  return UnpackU32Reply(payload, value) ? symResOk : symResNotOk;
}

QXSymResult ExchangeForRef(CCommunication* channel, const WireWriter& request, SymRef* ref) {
  if (ref == nullptr) return symResInvalidParameter;
  std::uint8_t reply[kRefReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel, request, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  return UnpackRefReply(payload, ref) ? symResOk : symResNotOk;
}

QXSymResult ExchangeForText(CCommunication* channel, const WireWriter& request, TCHAR* buffer,
                            std::uint16_t* length) {
  if (buffer == nullptr || length == nullptr) return symResInvalidParameter;
  std::uint8_t reply[kTextReplyCapacity];
  WireReader payload(nullptr, 0);
  const QXSymResult r = Exchange(channel, request, reply, sizeof reply, &payload);
  if (r != symResOk) return r;
  return TakeReplyText(payload, buffer, length);
}

namespace {

// The object header and the optional index, in a buffer of its own.
class ObjectRequest {
 public:
  ObjectRequest(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index)
      : writer_(buffer_, sizeof buffer_) {
    if (index != nullptr) {
      PackTypeIndexRequest(writer_, code, target.workspace, target.object, *index);
    } else {
      PackObjectHeader(writer_, code, target.workspace, target.object);
    }
  }
  ObjectRequest(const ObjectRequest&) = delete;
  ObjectRequest& operator=(const ObjectRequest&) = delete;
  const WireWriter& writer() const { return writer_; }

 private:
  std::uint8_t buffer_[kTypeIndexRequestSize];
  WireWriter writer_;
};

}  // namespace

QXSymResult AskStatus(const RemoteObject& target, std::uint16_t code) {
  return ExchangeStatus(target.channel, ObjectRequest(target, code, nullptr).writer());
}

QXSymResult AskBool(const RemoteObject& target, std::uint16_t code, bool_t* answer) {
  return ExchangeForBool(target.channel, ObjectRequest(target, code, nullptr).writer(), answer);
}

QXSymResult AskU32(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                   std::uint32_t* value) {
  return ExchangeForU32(target.channel, ObjectRequest(target, code, index).writer(), value);
}

QXSymResult AskRef(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                   SymRef* ref) {
  return ExchangeForRef(target.channel, ObjectRequest(target, code, index).writer(), ref);
}

QXSymResult AskText(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                    TCHAR* buffer, std::uint16_t* length) {
  return ExchangeForText(target.channel, ObjectRequest(target, code, index).writer(), buffer,
                         length);
}

}  // namespace qxsym
