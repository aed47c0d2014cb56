// Shared steps of every Remote operation: running one Transact, checking the
// reply header, handing the payload to a bounded reader and taking reply
// texts into the caller's buffer. The message layouts are those of src/wire.
//
// A reply is only ever read through a WireReader bounded by the number of
// bytes the channel reports; a reply too short for the fields it must carry
// is symResNotOk and the caller's outputs stay untouched.
#pragma once

#include <cstdint>

#include "CCommunication.h"
#include "MessageFields.h"
#include "QXSymbols.h"

namespace qxsym {

// Sends the request built in `request` and receives the reply into `reply`
// of `capacity` bytes. Returns the channel's failure unchanged, symResNotOk
// for a reply shorter than its header, symResProtocolError for a reply to
// another command, or the reply's status. On symResOk *payload reads the
// bytes after code and status, bounded by what arrived. *answered (when
// given) tells whether the result is the reply's status. progress (when
// given) hears how much of a fragmented reply has arrived.
QXSymResult Exchange(CCommunication* channel, const WireWriter& request, std::uint8_t* reply,
                     std::uint32_t capacity, WireReader* payload, bool* answered = nullptr,
                     const TransferProgress* progress = nullptr);

// Takes a reply text (u16 length L counting the terminator, then the text)
// into the caller's buffer of *length characters. L of 0, above 260 or longer
// than the reply: symResNotOk, nothing written. L above *length:
// symResInvalidBuffer with L in *length, buffer untouched. Otherwise the L
// characters are copied (zero-filled after the text's first zero, the last
// one always zero), *length = L, symResOk.
QXSymResult TakeReplyText(WireReader& payload, TCHAR* buffer, std::uint16_t* length);

// One exchange whose reply carries only the status.
QXSymResult ExchangeStatus(CCommunication* channel, const WireWriter& request);

// One exchange whose reply carries an 8-bit answer, a 32-bit value, an
// object reference or a text (see TakeReplyText), taken into the caller's
// output on success. A null output is symResInvalidParameter and nothing is
// sent.
QXSymResult ExchangeForBool(CCommunication* channel, const WireWriter& request, bool_t* answer);
QXSymResult ExchangeForU32(CCommunication* channel, const WireWriter& request,
                           std::uint32_t* value);
QXSymResult ExchangeForRef(CCommunication* channel, const WireWriter& request, SymRef* ref);
QXSymResult ExchangeForText(CCommunication* channel, const WireWriter& request, TCHAR* buffer,
                            std::uint16_t* length);

// A tag, type or group on the service: the channel and the two references
// that every request about it starts with.
struct RemoteObject {
  CCommunication* channel;
  SymRef workspace;
  SymRef object;
};

// Questions about an object whose request is the object header, followed by
// one 32-bit index when `index` is given. Results as the Exchange* helpers.
QXSymResult AskStatus(const RemoteObject& target, std::uint16_t code);
QXSymResult AskBool(const RemoteObject& target, std::uint16_t code, bool_t* answer);
QXSymResult AskU32(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                   std::uint32_t* value);
QXSymResult AskRef(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                   SymRef* ref);
QXSymResult AskText(const RemoteObject& target, std::uint16_t code, const std::uint32_t* index,
                    TCHAR* buffer, std::uint16_t* length);

}  // namespace qxsym
