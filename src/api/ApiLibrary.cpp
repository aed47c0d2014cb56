// Start, test and stop the library, and the functions that are not
// available in this library.
#include "LibraryState.h"
#include "QXSymbols.h"

using qxsym::LibraryState;

extern "C" {

QXSymResult QXSYM_CALL QXSym_Init(void) {
  try {
    return LibraryState::Get().Init();
  } catch (...) {
    return symResNotOk;
  }
}

QXSymResult QXSYM_CALL QXSym_IsInitOk(void) {
  return LibraryState::Get().started() ? symResOk : symResNotInited;
}

QXSymResult QXSYM_CALL QXSym_Shutdown(void) {
  try {
    return LibraryState::Get().Shutdown();
  } catch (...) {
    return symResNotOk;
  }
}

// Tag maps and code ids are not available: these answer
// symResNotImplemented in every state and read none of their arguments.
QXSymResult QXSYM_CALL QXSym_GetGlobalTagsMap(QXSymWorkspaceHandle, QXSymTagMapHandle*) {
  return symResNotImplemented;
}
QXSymResult QXSYM_CALL QXSym_FreeTagMap(QXSymTagMapHandle) { return symResNotImplemented; }
QXSymResult QXSYM_CALL QXSym_GetTagFromMap(QXSymTagMapHandle, const TCHAR*, QXSymTagHandle*) {
  return symResNotImplemented;
}
QXSymResult QXSYM_CALL QXSym_GetCodeId(QXSymWorkspaceHandle, uint32_t*, bool_t, uint16_t,
                                       uint16_t) {
  return symResNotImplemented;
}

}  // extern "C"
