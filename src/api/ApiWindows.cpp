// Exports of the Windows build alone: two more names for the function behind
// QXSym_GetCodeId. They read no argument and answer symResNotImplemented.
#include "QXSymbols.h"

#if defined(_WIN32)
extern "C" {

QXSymResult QXSYM_CALL QXSym_ReadMemory(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
  return symResNotImplemented;
}

QXSymResult QXSYM_CALL QXSym_WriteMemory(uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {
  return symResNotImplemented;
}

}  // extern "C"
#endif
