// Exported functions of single leaf values and of the source's version:
// what a front end needs to run the value rules without a tag, and to say
// whom it talks to.
#include <QXSymCore.h>

#include <cstring>

#include "CoreApiRegistry.h"

using namespace qxsym::client;
using namespace qxsym::client::capi;

extern "C" {

uint32_t QXSymCore_KindOf(uint32_t tyvar) { return static_cast<uint32_t>(KindOf(tyvar)); }

QXSymResult QXSymCore_DecodeLeaf(uint32_t tyvar, const uint8_t* data, uint32_t size,
                                 uint32_t encoding, QXSymCoreValue* value, const char** message) {
  if ((data == nullptr && size != 0) || value == nullptr || encoding > QXSymCoreWindows1252) {
    return symResInvalidParameter;
  }
  return Guard([&]() -> QXSymResult {
    static thread_local LeafValue decoded;
    static thread_local std::string why;
    CodecError err;
    decoded = LeafValue{};
    const bool ok = DecodeLeaf(tyvar, data, size, static_cast<Encoding>(encoding), &decoded, &err);
    why = ok ? std::string() : err.message;
    if (message != nullptr) *message = why.c_str();
    if (!ok) return err.code != symResOk ? err.code : symResInvalidParameter;
    ToC(decoded, value);
    return symResOk;
  });
}

QXSymResult QXSymCore_EncodeLeaf(uint32_t tyvar, const QXSymCoreValue* value, uint32_t size,
                                 uint32_t encoding, uint8_t* bytes, const char** message) {
  if (value == nullptr || (bytes == nullptr && size != 0) || encoding > QXSymCoreWindows1252) {
    return symResInvalidParameter;
  }
  return Guard([&]() -> QXSymResult {
    static thread_local std::string why;
    LeafValue v;
    CodecError err;
    std::vector<std::uint8_t> out;
    bool ok = FromC(*value, &v);
    if (!ok) {
      err.code = symResInvalidParameter;
      err.message = "not a value";
    } else {
      ok = EncodeLeaf(tyvar, v, size, static_cast<Encoding>(encoding), &out, &err);
    }
    if (ok && out.size() != size) {
      ok = false;
      err.code = symResInvalidTagSize;
      err.message = "the value does not fill the leaf";
    }
    why = ok ? std::string() : err.message;
    if (message != nullptr) *message = why.c_str();
    if (!ok) return err.code != symResOk ? err.code : symResInvalidParameter;
    if (size != 0) std::memcpy(bytes, out.data(), size);
    return symResOk;
  });
}

}  // extern "C"
