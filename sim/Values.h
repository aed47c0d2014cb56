// Conversions between the bytes of a basic value and a number, used for
// initial values, the variable table and live values. Values are stored
// little-endian, as the controller keeps them.
#pragma once

#include <cstdint>

#include "SymbolModel.h"

namespace qxsym::sim {

struct Number {
  enum class Kind { kSigned, kUnsigned, kFloat };
  Kind kind = Kind::kSigned;
  std::int64_t i = 0;
  std::uint64_t u = 0;
  double f = 0.0;

  static Number Signed(std::int64_t v);
  static Number Unsigned(std::uint64_t v);
  static Number Float(double v);
  double AsDouble() const;
};

// True for BOOL and the integer and floating-point basic types.
bool IsNumericBasic(const Type* t);
bool IsIntegerTyVar(std::uint32_t tyvar);
bool IsSignedTyVar(std::uint32_t tyvar);

// Reads a BOOL, integer or floating-point value of type t from p.
Number LoadNumber(const Type* t, const std::uint8_t* p);
// Stores n as type t into p (t->size bytes). Integers are cut to the width
// of t (two's complement); a float going into an integer is truncated
// toward zero and held within the integer's range; BOOL becomes 0 or 1.
void StoreNumber(const Type* t, const Number& n, std::uint8_t* p);
// Whether n fits t without change of value (initial values).
bool NumberFits(const Type* t, const Number& n);

}  // namespace qxsym::sim
