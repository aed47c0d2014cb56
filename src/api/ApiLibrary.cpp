// Start, test and stop the library, and the functions that are not
// available in this library.
#include "ApiShape.h"
#include "QXSymbols.h"

using qxsym::LibraryState;
using qxsym::api::Boundary;

extern "C" {

QXSymResult QXSYM_CALL QXSym_Init(void) {
  // No started check here; any failure to start answers symResNotOk.
  return Boundary([] { return LibraryState::Get().Init(); }, symResNotOk);
}

QXSymResult QXSYM_CALL QXSym_IsInitOk(void) {
  return LibraryState::Get().started() ? symResOk : symResNotInited;
}

QXSymResult QXSYM_CALL QXSym_Shutdown(void) {
  return Boundary([] { return LibraryState::Get().Shutdown(); }, symResNotOk);
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
