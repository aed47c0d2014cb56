#include "Values.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace qxsym::sim {

Number Number::Signed(std::int64_t v) {
  Number n;
  n.kind = Kind::kSigned;
  n.i = v;
  return n;
}
Number Number::Unsigned(std::uint64_t v) {
  Number n;
  n.kind = Kind::kUnsigned;
  n.u = v;
  return n;
}
Number Number::Float(double v) {
  Number n;
  n.kind = Kind::kFloat;
  n.f = v;
  return n;
}

double Number::AsDouble() const {
  switch (kind) {
    case Kind::kSigned:
      return static_cast<double>(i);
    case Kind::kUnsigned:
      return static_cast<double>(u);
    case Kind::kFloat:
      return f;
  }
  return 0.0;
}

bool IsIntegerTyVar(std::uint32_t tyvar) {
  switch (tyvar) {
    case QXSymTyVarSInt:
    case QXSymTyVarUSInt:
    case QXSymTyVarByte:
    case QXSymTyVarInt:
    case QXSymTyVarUInt:
    case QXSymTyVarWord:
    case QXSymTyVarDInt:
    case QXSymTyVarUDInt:
    case QXSymTyVarDWord:
    case QXSymTyVarLInt:
    case QXSymTyVarULInt:
    case QXSymTyVarLWord:
      return true;
    default:
      return false;
  }
}

bool IsSignedTyVar(std::uint32_t tyvar) {
  return tyvar == QXSymTyVarSInt || tyvar == QXSymTyVarInt || tyvar == QXSymTyVarDInt ||
         tyvar == QXSymTyVarLInt;
}

namespace {
bool IsFloatTyVar(std::uint32_t tyvar) {
  return tyvar == QXSymTyVarReal || tyvar == QXSymTyVarLReal;
}

std::uint64_t LoadBits(const std::uint8_t* p, std::uint32_t n) {
  std::uint64_t v = 0;
  for (std::uint32_t k = 0; k < n; ++k) v |= static_cast<std::uint64_t>(p[k]) << (8 * k);
  return v;
}
void StoreBits(std::uint8_t* p, std::uint32_t n, std::uint64_t v) {
  for (std::uint32_t k = 0; k < n; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Truncates toward zero and holds the result within [lo, hi].
std::int64_t ClampToSigned(double d, std::int64_t lo, std::int64_t hi) {
  if (std::isnan(d)) return 0;
  d = std::trunc(d);
  if (d <= static_cast<double>(lo)) return lo;
  if (d >= static_cast<double>(hi)) return hi;
  return static_cast<std::int64_t>(d);
}
std::uint64_t ClampToUnsigned(double d, std::uint64_t hi) {
  if (std::isnan(d) || d <= 0) return 0;
  d = std::trunc(d);
  if (d >= static_cast<double>(hi)) return hi;
  return static_cast<std::uint64_t>(d);
}
}  // namespace

bool IsNumericBasic(const Type* t) {
  return t->kind == TypeKind::kBasic &&
         (t->tyvar == QXSymTyVarBool || IsIntegerTyVar(t->tyvar) || IsFloatTyVar(t->tyvar));
}

Number LoadNumber(const Type* t, const std::uint8_t* p) {
  if (t->tyvar == QXSymTyVarReal) {
    float f;
    std::uint32_t bits = static_cast<std::uint32_t>(LoadBits(p, 4));
    std::memcpy(&f, &bits, 4);
    return Number::Float(f);
  }
  if (t->tyvar == QXSymTyVarLReal) {
    double d;
    std::uint64_t bits = LoadBits(p, 8);
    std::memcpy(&d, &bits, 8);
    return Number::Float(d);
  }
  if (t->tyvar == QXSymTyVarBool) return Number::Unsigned(p[0] != 0 ? 1 : 0);
  std::uint64_t raw = LoadBits(p, t->size);
  if (IsSignedTyVar(t->tyvar)) {
    unsigned shift = 64 - 8 * t->size;
    // Sign extension through the top bits of a 64-bit word.
    return Number::Signed(static_cast<std::int64_t>(raw << shift) >> shift);
  }
  return Number::Unsigned(raw);
}

void StoreNumber(const Type* t, const Number& n, std::uint8_t* p) {
  if (t->tyvar == QXSymTyVarReal) {
    float f = static_cast<float>(n.AsDouble());
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    StoreBits(p, 4, bits);
    return;
  }
  if (t->tyvar == QXSymTyVarLReal) {
    double d = n.AsDouble();
    std::uint64_t bits;
    std::memcpy(&bits, &d, 8);
    StoreBits(p, 8, bits);
    return;
  }
  if (t->tyvar == QXSymTyVarBool) {
    bool on = n.kind == Number::Kind::kFloat    ? n.f != 0.0
              : n.kind == Number::Kind::kSigned ? n.i != 0
                                                : n.u != 0;
    p[0] = on ? 1 : 0;
    return;
  }
  std::uint64_t raw;
  if (n.kind == Number::Kind::kFloat) {
    unsigned bits = 8 * t->size;
    if (IsSignedTyVar(t->tyvar)) {
      std::int64_t hi = bits == 64 ? std::numeric_limits<std::int64_t>::max()
                                   : (std::int64_t{1} << (bits - 1)) - 1;
      raw = static_cast<std::uint64_t>(ClampToSigned(n.f, -hi - 1, hi));
    } else {
      std::uint64_t hi =
          bits == 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
      raw = ClampToUnsigned(n.f, hi);
    }
  } else {
    raw = n.kind == Number::Kind::kSigned ? static_cast<std::uint64_t>(n.i) : n.u;
  }
  StoreBits(p, t->size, raw);
}

bool NumberFits(const Type* t, const Number& n) {
  if (t->tyvar == QXSymTyVarReal || t->tyvar == QXSymTyVarLReal) {
    if (t->tyvar == QXSymTyVarReal && n.kind == Number::Kind::kFloat && std::isfinite(n.f)) {
      return std::fabs(n.f) <= std::numeric_limits<float>::max();
    }
    return true;
  }
  if (n.kind == Number::Kind::kFloat) {
    if (!std::isfinite(n.f) || std::trunc(n.f) != n.f) return false;
  }
  if (t->tyvar == QXSymTyVarBool) {
    double d = n.AsDouble();
    return d == 0.0 || d == 1.0;
  }
  unsigned bits = 8 * t->size;
  if (IsSignedTyVar(t->tyvar)) {
    std::int64_t hi =
        bits == 64 ? std::numeric_limits<std::int64_t>::max() : (std::int64_t{1} << (bits - 1)) - 1;
    std::int64_t lo = -hi - 1;
    switch (n.kind) {
      case Number::Kind::kSigned:
        return n.i >= lo && n.i <= hi;
      case Number::Kind::kUnsigned:
        return n.u <= static_cast<std::uint64_t>(hi);
      case Number::Kind::kFloat:
        return n.f >= static_cast<double>(lo) && n.f <= static_cast<double>(hi) &&
               !(bits == 64 && n.f >= 9223372036854775808.0);
    }
  }
  std::uint64_t hi =
      bits == 64 ? std::numeric_limits<std::uint64_t>::max() : (std::uint64_t{1} << bits) - 1;
  switch (n.kind) {
    case Number::Kind::kSigned:
      return n.i >= 0 && static_cast<std::uint64_t>(n.i) <= hi;
    case Number::Kind::kUnsigned:
      return n.u <= hi;
    case Number::Kind::kFloat:
      return n.f >= 0 && n.f <= static_cast<double>(hi) &&
             !(bits == 64 && n.f >= 18446744073709551616.0);
  }
  return false;
}

}  // namespace qxsym::sim
