/**
 * @file QXSymbolsExt.h
 * @brief QXSymbols extensions: functions beyond the library's classic interface,
 * exported by the same library. Include after (or instead of) QXSymbols.h.
 */
#ifndef QXSYMBOLSEXT_H
#define QXSYMBOLSEXT_H

#include "QXSymbols.h"

#ifdef __cplusplus
extern "C" {
#endif

/**
 * @brief Progress of a transfer: bytes received so far and the total expected.
 *
 * The context argument is the caller's value, passed through unchanged.
 */
typedef void(QXSYM_CALL* QXSymProgressCallback)(uint32_t received, uint32_t total, void* context);

/**
 * @brief As QXSym_GetSymbolTable, reporting the download's progress.
 *
 * While a long table arrives in fragments, callback receives a rising count
 * of the table's bytes received, below total; once the whole table has
 * arrived, and before the file is written, it receives received equal to
 * total (also for an empty table, as 0 of 0). No call follows a failure of
 * the download. The callback runs on the calling thread while the connection
 * is busy: it must return quickly and must not call this library.
 * @param workspace an open Remote workspace.
 * @param fileName the file to write.
 * @param overwrite 0 keeps an existing file; non-zero replaces it.
 * @param callback receives the progress (may be null: no reports); total is
 * the table's size in bytes.
 * @param context passed to callback unchanged.
 * @return as QXSym_GetSymbolTable.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetSymbolTableProgress(QXSymWorkspaceHandle workspace,
                                                              const char_t* fileName,
                                                              bool_t overwrite,
                                                              QXSymProgressCallback callback,
                                                              void* context);

#ifdef __cplusplus
}
#endif

#endif /* QXSYMBOLSEXT_H */
