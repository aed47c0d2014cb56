// Shared fixtures of the model tests: references and request headers.
#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "FakeChannel.h"
#include "RetiredSink.h"
#include "SymbolMessages.h"

namespace qxsym {
namespace test {

constexpr SymRef kWs{0x11111111u, 0x22222222u};
constexpr SymRef kObj{0x33333333u, 0x44444444u};

// Keeps what destroyed objects retire, as the library state does.
struct KeepingSink final : RetiredSink {
  void RetireChannel(std::shared_ptr<void> channel) override {
    channels.push_back(std::move(channel));
  }
  void RetireGroupData(std::shared_ptr<void> table) override { tables.push_back(std::move(table)); }
  std::size_t count() const { return channels.size() + tables.size(); }
  std::vector<std::shared_ptr<void>> channels;
  std::vector<std::shared_ptr<void>> tables;
};

// Header of a request about kObj in kWs.
inline Bytes ObjectRequest(std::uint16_t code, SymRef obj = kObj) {
  return Bytes().U16(code).U32(kWs.w0).U32(kWs.w1).U32(obj.w0).U32(obj.w1);
}
inline Bytes WorkspaceRequest(std::uint16_t code) {
  return Bytes().U16(code).U32(kWs.w0).U32(kWs.w1);
}
// A reply text: length L, then the text and zeros up to L bytes.
inline Bytes TextReply(std::uint16_t code, const std::string& text, std::uint16_t length) {
  Bytes b = ReplyHeader(code);
  b.U16(length).Text(text.data(), std::min<std::size_t>(text.size(), length));
  if (text.size() < length) b.Fill(length - text.size());
  return b;
}

}  // namespace test
}  // namespace qxsym
