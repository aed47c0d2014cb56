/* Small helpers shared by the examples: print a tag's value by its type. */
#ifndef QXSYM_EXAMPLE_UTIL_H
#define QXSYM_EXAMPLE_UTIL_H

#include <stdio.h>
#include <string.h>

#include "QXSymbols.h"

/* Formats the value bytes of a basic type into out. */
static void FormatValue(QXSymTyVar type, const unsigned char* v, uint32_t size, char* out,
                        size_t cap) {
  union {
    int8_t i8;
    uint8_t u8;
    int16_t i16;
    uint16_t u16;
    int32_t i32;
    uint32_t u32;
    int64_t i64;
    uint64_t u64;
    float f;
    double d;
  } x;
  memset(&x, 0, sizeof x);
  memcpy(&x, v, size < sizeof x ? size : sizeof x);
  switch (type) {
    case QXSymTyVarBool:
      snprintf(out, cap, "%s", x.u8 ? "TRUE" : "FALSE");
      break;
    case QXSymTyVarSInt:
      snprintf(out, cap, "%d", x.i8);
      break;
    case QXSymTyVarUSInt:
    case QXSymTyVarByte:
      snprintf(out, cap, "%u", x.u8);
      break;
    case QXSymTyVarInt:
      snprintf(out, cap, "%d", x.i16);
      break;
    case QXSymTyVarUInt:
    case QXSymTyVarWord:
      snprintf(out, cap, "%u", x.u16);
      break;
    case QXSymTyVarDInt:
      snprintf(out, cap, "%d", (int)x.i32);
      break;
    case QXSymTyVarUDInt:
    case QXSymTyVarDWord:
      snprintf(out, cap, "%u", (unsigned)x.u32);
      break;
    case QXSymTyVarLInt:
      snprintf(out, cap, "%lld", (long long)x.i64);
      break;
    case QXSymTyVarULInt:
    case QXSymTyVarLWord:
      snprintf(out, cap, "%llu", (unsigned long long)x.u64);
      break;
    case QXSymTyVarReal:
      snprintf(out, cap, "%g", x.f);
      break;
    case QXSymTyVarLReal:
      snprintf(out, cap, "%g", x.d);
      break;
    case QXSymTyVarString:
      snprintf(out, cap, "'%.*s'", (int)size, (const char*)v);
      break;
    default:
      snprintf(out, cap, "(%u bytes)", (unsigned)size);
      break;
  }
}

#endif
