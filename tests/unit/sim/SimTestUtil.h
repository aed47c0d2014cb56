// Helpers of the simulator tests: the demo model, requests written byte by
// byte, and readers for the replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "SymbolModel.h"
#include "SymbolService.h"

namespace simtest {

using Bytes = std::vector<std::uint8_t>;
using qxsym::SymRef;

inline std::shared_ptr<qxsym::sim::SymbolModel> Demo() {
  std::string error;
  auto model = qxsym::sim::SymbolModel::LoadFile(QXSYM_SIM_DEMO_MODEL, &error);
  EXPECT_NE(model, nullptr) << error;
  return model;
}

// A request, little-endian, written field by field.
class Req {
 public:
  explicit Req(std::uint16_t code) { U16(code); }
  Req& U8(std::uint8_t v) { return Put(v, 1); }
  Req& U16(std::uint16_t v) { return Put(v, 2); }
  Req& U32(std::uint32_t v) { return Put(v, 4); }
  Req& Ref(const SymRef& r) { return U32(r.w0).U32(r.w1); }
  Req& Raw(const void* p, std::size_t n) {
    const auto* b = static_cast<const std::uint8_t*>(p);
    bytes.insert(bytes.end(), b, b + n);
    return *this;
  }
  // N, then the text with its terminator.
  Req& Text(const std::string& s) {
    return U16(static_cast<std::uint16_t>(s.size() + 1)).Raw(s.c_str(), s.size() + 1);
  }
  // N, then a 260-byte zero-filled field.
  Req& Field(const std::string& s) {
    U16(static_cast<std::uint16_t>(s.size() + 1)).Raw(s.data(), s.size());
    bytes.resize(bytes.size() + 260 - s.size(), 0);
    return *this;
  }
  Bytes bytes;

 private:
  Req& Put(std::uint64_t v, int n) {
    for (int i = 0; i < n; ++i) bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
};

inline std::uint16_t U16At(const Bytes& b, std::size_t at) {
  return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t U32At(const Bytes& b, std::size_t at) {
  return U16At(b, at) | (static_cast<std::uint32_t>(U16At(b, at + 2)) << 16);
}
inline std::uint64_t U64At(const Bytes& b, std::size_t at) {
  return U32At(b, at) | (static_cast<std::uint64_t>(U32At(b, at + 4)) << 32);
}
inline SymRef RefAt(const Bytes& b, std::size_t at) {
  return SymRef{U32At(b, at), U32At(b, at + 4)};
}
inline int Status(const Bytes& b) { return U16At(b, 2); }

// A client of one service: opens a workspace and offers the common calls.
class Client {
 public:
  explicit Client(qxsym::sim::SymbolService& s) : service(s) {
    Bytes r = Call(Req(4).U8(0));
    EXPECT_EQ(Status(r), 0);
    ws = RefAt(r, 4);
  }
  Bytes Call(const Req& req) {
    Bytes reply;
    service.Handle(req.bytes.data(), req.bytes.size(), reply);
    EXPECT_GE(reply.size(), 4u);
    EXPECT_EQ(U16At(reply, 0), U16At(req.bytes, 0));
    return reply;
  }
  Req Ws(std::uint16_t code) const { return std::move(Req(code).Ref(ws)); }
  Req Obj(std::uint16_t code, const SymRef& obj) const {
    return std::move(Req(code).Ref(ws).Ref(obj));
  }
  SymRef Tag(const std::string& name) {
    Bytes r = Call(Ws(10).Text(name));
    EXPECT_EQ(Status(r), 0) << name;
    return Status(r) == 0 ? RefAt(r, 4) : SymRef{};
  }
  std::string Text(std::uint16_t code, const SymRef& obj) {
    Bytes r = Call(Obj(code, obj));
    if (Status(r) != 0) return "<status " + std::to_string(Status(r)) + ">";
    return std::string(reinterpret_cast<const char*>(r.data() + 6));
  }
  Bytes Value(const SymRef& tag) {
    Bytes r = Call(Obj(40, tag));
    if (Status(r) != 0) return {};
    return Bytes(r.begin() + 6, r.end());
  }

  qxsym::sim::SymbolService& service;
  SymRef ws;
};

template <typename T>
T As(const Bytes& b) {
  T v{};
  EXPECT_EQ(b.size(), sizeof v);
  if (b.size() == sizeof v) std::memcpy(&v, b.data(), sizeof v);
  return v;
}

template <typename T>
Bytes BytesOf(T v) {
  Bytes b(sizeof v);
  std::memcpy(b.data(), &v, sizeof v);
  return b;
}

}  // namespace simtest
