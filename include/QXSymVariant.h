/*
 * QXSymbols: tag values as OLE Automation VARIANTs.
 *
 * The Windows build (QXSymbolsA.dll) exports these six functions; they are
 * declared in QXSymbols.h there, and this header adds OLE Automation for the
 * caller. On other systems they are built for the library's own tests on its
 * portable OLE Automation layer and are not exported; there this header
 * declares them only after that layer's types (VARIANT and friends) have
 * been included.
 *
 * Common results, checked in this order: symResNotInited (library not
 * started), symResInvalidHandle (handle 0), symResInvalidParameter (value
 * pointer null, or a value of type VT_EMPTY, VT_NULL or VT_ERROR to write),
 * symResInvalidHandle (handle not open or of another kind). Then:
 *   symResNotOk           the tag's basic type has no VARIANT type
 *                         (structures, function blocks, pointers); a read
 *                         leaves the VARIANT VT_EMPTY
 *   symResInvalidTagSize  a number tag whose data size exceeds the 8-byte
 *                         value field, or a text tag beyond 1 MiB: nothing
 *                         is read or written. A BOOL tag wider than 8 bytes
 *                         is refused only when read; a write sends its one
 *                         byte, 1 or 0, whatever the data size
 *   symResInvalidVARIANT  the value cannot be converted to the tag's type
 *                         (VariantChangeType failed); nothing is written
 *   symResMemoryAllocError  no memory for a text conversion
 * and whatever the tag, group or source answers, unchanged.
 *
 * Basic type to VARIANT type: BOOL VT_BOOL; SINT VT_I1; USINT, BYTE VT_UI1;
 * INT VT_I2; UINT, WORD VT_UI2; DINT VT_I4; UDINT, DWORD VT_UI4; LINT VT_I8;
 * ULINT, LWORD VT_UI8; REAL VT_R4; LREAL VT_R8; STRING VT_BSTR.
 *
 * A number tag whose data size is larger than its VARIANT type (an INT of
 * four bytes, say) is written with the type's bytes followed by zeros, never
 * with what the rest of the value field happens to hold.
 */
#ifndef QXSYMVARIANT_H
#define QXSYMVARIANT_H

#include "QXSymbols.h"

#if defined(_WIN32)
#include <oleauto.h>
#include <windows.h>
#elif defined(QXSYM_OLE_H)

#ifdef __cplusplus
extern "C" {
#endif

/* Read the tag's value (array element 0, 0, 0) into *value. A VARIANT that
 * is not VT_EMPTY is cleared first. Numbers arrive in their VARIANT type with
 * the rest of the value field zero; BOOL as VARIANT_TRUE or VARIANT_FALSE;
 * text as a new BSTR the caller frees (an empty one when the read fails). */
QXSymResult QXSym_GetTagValue_VARIANT(QXSymTagHandle tag, VARIANT* value);
/* As QXSym_GetTagValue_VARIANT, for one element of an array tag. */
QXSymResult QXSym_GetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1, uint32_t index2,
                                           uint32_t index3, VARIANT* value);
/* Write value (converted to the tag's VARIANT type when it has another) to
 * the tag (element 0, 0, 0). Text is cut to the tag's data size less one and
 * terminated; BOOL writes one byte, 1 or 0. The caller's value is neither
 * changed nor released. */
QXSymResult QXSym_SetTagValue_VARIANT(QXSymTagHandle tag, VARIANT value);
/* As QXSym_SetTagValue_VARIANT, for one element of an array tag. */
QXSymResult QXSym_SetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1, uint32_t index2,
                                           uint32_t index3, VARIANT value);
/* Take a member's value out of the group's last read, as a VARIANT. Runs
 * under the library lock, so what it learns of the tag stays with it; when
 * the tag's basic type or data size is not yet known, it asks the
 * controller for them under the lock, and other calls wait meanwhile. */
QXSymResult QXSym_GetTagValueFromGroup_VARIANT(QXSymGroupHandle group, QXSymTagHandle tag,
                                               VARIANT* value);
/* Put a member's value, given as a VARIANT, into the group's next write.
 * Under the library lock, as QXSym_GetTagValueFromGroup_VARIANT. */
QXSymResult QXSym_SetTagValueIntoGroup_VARIANT(QXSymGroupHandle group, QXSymTagHandle tag,
                                               VARIANT value);

#ifdef __cplusplus
}
#endif
#endif /* _WIN32, QXSYM_OLE_H */

#endif /* QXSYMVARIANT_H */
