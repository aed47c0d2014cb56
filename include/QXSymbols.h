/*
 * QXSymbols: client library for the tags of a PLC application.
 *
 * Flat C interface. Every function returns a QXSymResult; 0 (symResOk) is
 * success. Handles are opaque 32-bit values; 0 is never a valid handle.
 * Text is 8-bit and zero-terminated. Text-out functions take a buffer and a
 * uint16_t length that carries the capacity in and the needed length
 * (terminator included) out, also on symResInvalidBuffer.
 *
 * Every checking function answers symResNotInited before QXSym_Init, then
 * symResInvalidHandle for a handle of 0, then symResInvalidParameter for a
 * missing pointer, then symResInvalidHandle for a handle that is not open or
 * of another kind. Results from the controller's symbol service or from the
 * host's direct-access table are passed on unchanged; a reply status that is
 * not one of the result codes below answers symResNotOk.
 *
 * Handles. A handle is never 0 and never stands for two open objects at
 * once. The ids come from one counter for the whole process: an id given
 * back is handed out again only after every other 32-bit id has been drawn
 * (2^32 - 2 further handles, about 50 days at one handle per millisecond);
 * ids still open when the counter wraps are skipped, so handles never run
 * out.
 *
 * Threads and waiting. Any thread may call any function. Each workspace
 * opened with symProtGDB_TCP has a connection of its own, and calls on
 * different connections run in parallel: a slow, stopped or unplugged
 * controller delays only the calls on its own workspace and the tags, types
 * and groups made from it. Calls on one workspace share its connection and
 * take turns: each request and its reply (all fragments included) go whole
 * and in order. A call that finds the connection busy waits at most the
 * workspace's time-out for the exchange in progress, then answers
 * symResTimeoutError without sending anything; so a call on a connection
 * waits at most one time-out for its turn and then at most the time-outs of
 * its own exchange. Replies that carry an old sequence number are skipped,
 * at most 64 while waiting for one reply; beyond that the wait ends as a
 * time-out. Calls on direct-access workspaces run in parallel with
 * everything. The library's own lock is held only to look up, register and
 * release handles and to take or put single group values; no exchange with
 * a controller ever runs under it.
 */
#ifndef QXSYMBOLS_H
#define QXSYMBOLS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Export and calling convention ------------------------------------ */

#if defined(_WIN32)
#define QXSYM_CALL __stdcall
#if defined(QXSYMBOLS_DEF_EXPORTS)
/* The 32-bit DLL names its exports in a module-definition file. */
#define QXSYM_API
#elif defined(QXSYMBOLS_BUILDING)
#define QXSYM_API __declspec(dllexport)
#else
#define QXSYM_API __declspec(dllimport)
#endif
#else
#define QXSYM_CALL
#if defined(QXSYMBOLS_BUILDING)
#define QXSYM_API __attribute__((visibility("default")))
#else
#define QXSYM_API
#endif
#endif

/* ---- Scalar type names ------------------------------------------------ */

/* int8_t .. uint64_t come from <stdint.h>. */
typedef float float32_t;
typedef double float64_t;
typedef unsigned char bool_t;
#ifndef _TCHAR_DEFINED
typedef char TCHAR;
#define _TCHAR_DEFINED
#endif
typedef char char_t;
typedef uint32_t addr32_t;
typedef uint64_t addr64_t;
#if defined(_WIN32)
typedef addr64_t qxsym_addr_t;
#else
typedef addr32_t qxsym_addr_t;
#endif

#ifndef FALSE
#define FALSE 0
#endif
#ifndef TRUE
#define TRUE 1
#endif

/* ---- Handles ------------------------------------------------------------ */

typedef int QXSymWorkspaceHandle;
typedef int QXSymTagHandle;
typedef int QXSymTypeHandle;
typedef int QXSymGroupHandle;
typedef int QXSymTagMapHandle;

/* ---- Constants ------------------------------------------------------------ */

#define QXSYM_MAX_STRING 260
#define QXSYMBOLS_VERSION_MAJOR 3
#define QXSYMBOLS_VERSION_MINOR 0
#define QXSYMBOLS_VERSION_REVISION 1
#define QXSYMBOLS_VERSION_BUILD 1
#define QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR 1

/* ---- Enumerations ------------------------------------------------------- */

enum _QXSymResult {
  symResOk = 0,
  symResNotInited = 1,
  symResSocketInitError = 2,
  symResSymbolTableLoadError = 3,
  symResInvalidHandle = 4,
  symResInvalidParameter = 5,
  symResSymbolNotFound = 6,
  symResAttributeNotFound = 7,
  symResInvalidAddress = 8,
  symResMemReadError = 9,
  symResInvalidBuffer = 10,
  symResUnknownTagSize = 11,
  symResMemWriteError = 12,
  symResTimeoutError = 13,
  symResInvalidVARIANT = 14,
  symResInvalidArrayIndex = 15,
  symResReadOnlyTag = 16,
  symResConnectionLost = 17,
  symResNotOk = 18,
  symResInvalidAttributeValue = 19,
  symResBitCommandRequired = 20,
  symResInvalidTagSize = 21,
  symResNotImplemented = 22,
  symResVersionNotSupported = 23,
  symResCommandNotSupported = 24,
  symResAddressMismatch32vs64 = 25,
  symResMemoryAllocError = 26,
  symResInvalidArea = 27,
  symResInvalidWorkspace = 28,
  symResMaxReached = 29,
  symResBufferOverflow = 30,
  symResUnkownCommand = 31,
  symResShutdownInProgress = 32,
  symResInvalidComm = 33,
  symResServerNotCompatible = 34,
  symResOkServerNotFullSupport = 35,
  symResFileAlreadyExists = 36,
  symResCannotWriteFile = 37,
  symResCannotOpenFile = 38,
  symResCannotReadFile = 39,
  symResSegmentationError = 40,
  symResHandleAlreadyExists = 41,
  symResInvalidGroupSize = 42,
  symResGroupMustBeRead = 43,
  symResGroupConfigError = 44,
  symResInvalidGroupTag = 45,
  symResGroupIsEmpty = 46,
  symResInvalidTagType = 47,
  symResSocketError = 48,
  symResProtocolError = 49
};
typedef enum _QXSymResult QXSymResult;

enum _QXSymProtocol {
  symProtGDB_TCP = 0,
#if defined(_WIN32)
  symProtFerrolink = 1,
#endif
  symProtDirectAccess = 2
};
typedef enum _QXSymProtocol QXSymProtocol;

/* Basic variable type of a tag's data. 8 and 19 are unassigned. */
enum _QXSymTyVar {
  QXSymTyVarNull = 0,
  QXSymTyVarBool = 1,
  QXSymTyVarSInt = 2,
  QXSymTyVarUSInt = 3,
  QXSymTyVarByte = 4,
  QXSymTyVarInt = 5,
  QXSymTyVarUInt = 6,
  QXSymTyVarWord = 7,
  QXSymTyVarDInt = 9,
  QXSymTyVarUDInt = 10,
  QXSymTyVarDWord = 11,
  QXSymTyVarLInt = 12,
  QXSymTyVarULInt = 13,
  QXSymTyVarLWord = 14,
  QXSymTyVarReal = 15,
  QXSymTyVarLReal = 16,
  QXSymTyVarString = 17,
  QXSymTyVarUserDef = 18,
  QXSymTyVarPointer = 20
};
typedef enum _QXSymTyVar QXSymTyVar;

/* Type property flags, ORed together by QXSym_TypeGetProperties. */
enum _QXSymTypeProperty {
  QXSymTypeIsBasic = 1,
  QXSymTypeIsComplex = 2,
  QXSymTypeIsString = 4,
  QXSymTypeIsArray = 8,
  QXSymTypeIsStruct = 16,
  QXSymTypeIsFunctionBlock = 32,
  QXSymTypeIsNumeric = 64,
  QXSymTypeIsSigned = 128,
  QXSymTypeIsInteger = 256
};
typedef enum _QXSymTypeProperty QXSymTypeProperty;

/* ---- Server address ------------------------------------------------------ */

/*
 * Where and how QXSym_OpenWorkspace reaches the symbols. 68 bytes:
 *   protocol  offset 0   how the workspace reaches the symbols
 *   ip        offset 4   host name or dotted IPv4 address (symProtGDB_TCP);
 *                        for symProtDirectAccess the first sizeof(void*)
 *                        bytes hold the address of the host's
 *                        QXSymDirectAccessTable
 *   port      offset 64  TCP port of the symbol service
 *   timeout   offset 66  time-out in ms of every wait of the workspace; 0
 *                        keeps the default (10000). Opening resolves a host
 *                        name and connects within this time (dotted IPv4
 *                        text never reaches the name resolver); each reply,
 *                        and each wait for a busy connection, gets this
 *                        time again
 * Read only during QXSym_OpenWorkspace.
 */
struct _QXSymServerAddress {
  QXSymProtocol protocol;
  char ip[60];
  uint16_t port;
  uint16_t timeout;
};
typedef struct _QXSymServerAddress QXSymServerAddress;

#if defined(__cplusplus)
static_assert(sizeof(QXSymServerAddress) == 68, "address record is 68 bytes");
static_assert(offsetof(QXSymServerAddress, ip) == 4, "ip at 4");
static_assert(offsetof(QXSymServerAddress, port) == 64, "port at 64");
static_assert(offsetof(QXSymServerAddress, timeout) == 66, "timeout at 66");
static_assert(sizeof(QXSymResult) == 4, "enumerations are 32-bit");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(QXSymServerAddress) == 68, "address record is 68 bytes");
_Static_assert(offsetof(QXSymServerAddress, ip) == 4, "ip at 4");
_Static_assert(offsetof(QXSymServerAddress, port) == 64, "port at 64");
_Static_assert(offsetof(QXSymServerAddress, timeout) == 66, "timeout at 66");
_Static_assert(sizeof(QXSymResult) == 4, "enumerations are 32-bit");
#endif

/* ======================================================================== */
/* Library start and stop                                                    */
/* ======================================================================== */

/* Start the library. A second call while started does nothing.
 * Returns symResOk, or symResSocketInitError (never on Linux). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_Init(void);

/* symResOk (0) while the library is started, symResNotInited (1) otherwise. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsInitOk(void);

/* Stop the library. Handles still open are invalid afterwards and their
 * objects are released locally (nothing is sent to the controller); tag
 * lists of QXSym_GetGlobalTags or QXSym_QueryGlobalTags not yet given to
 * QXSym_FreeTagList are freed.
 * Returns symResOk, or symResNotInited when not started. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_Shutdown(void);

/* ======================================================================== */
/* Workspaces and global tags                                                */
/* ======================================================================== */

/* Open a workspace on the source named by address.
 * selector: passed to the source as it is.
 * workspace: receives the handle (0 on failure).
 * Returns symResOk, or symResOkServerNotFullSupport (service 3.0.0.x) with a
 * valid handle; symResInvalidParameter (workspace null), symResInvalidAddress
 * (address null, or the channel or table cannot be attached),
 * symResServerNotCompatible (major version other than 3), or the source's
 * result. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_OpenWorkspace(uint8_t selector,
                                                     const QXSymServerAddress* address,
                                                     QXSymWorkspaceHandle* workspace);

/* Close a workspace at the source and release it. The handle is invalid
 * afterwards whatever the result. Returns the source's answer to the close,
 * or symResInvalidHandle. Tags, types and groups of the workspace stay open
 * but can no longer reach the source. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseWorkspace(QXSymWorkspaceHandle workspace);

/* Ask the source whether the workspace is still valid there. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsValidWorkspace(QXSymWorkspaceHandle workspace);

/* The source's version. All four pointers are required
 * (symResInvalidParameter). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetServerVersion(QXSymWorkspaceHandle workspace,
                                                        uint8_t* major, uint8_t* minor,
                                                        uint8_t* revision, uint8_t* build);

/* Download the raw symbol table into fileName (binary, no header).
 * overwrite 0 and an existing file: symResFileAlreadyExists, nothing else
 * happens. A file that cannot be created: symResCannotOpenFile; a short
 * write: symResCannotWriteFile; no memory, or a table larger than 256 MiB:
 * symResMemoryAllocError. A Direct workspace answers symResNotImplemented. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetSymbolTable(QXSymWorkspaceHandle workspace,
                                                      const TCHAR* fileName, bool_t overwrite);

/* Find one global tag by name; *tag receives a new tag handle on success,
 * to be released with QXSym_CloseTag. The source's status (for example
 * symResSymbolNotFound) is returned unchanged. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTag(QXSymWorkspaceHandle workspace,
                                                    const TCHAR* name, QXSymTagHandle* tag);

/* Number of global tags. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTagsNum(QXSymWorkspaceHandle workspace,
                                                        uint32_t* count);

/* All global tags into a list that the library allocates: *tags receives an
 * array of *count handles followed by a 0, to be released with
 * QXSym_FreeTagList. symResMemoryAllocError when the list cannot be
 * allocated; symResBufferOverflow when the source reports more tags than it
 * counted (nothing is kept). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTags(QXSymWorkspaceHandle workspace,
                                                     QXSymTagHandle** tags, uint32_t* count);

/* All global tags into the caller's array of count entries (count > 0).
 * One handle per tag reported; no terminating 0. symResBufferOverflow when
 * the source reports more tags than count (nothing is kept). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_FillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                         QXSymTagHandle* tags, uint32_t count);

/* Number of global tags matching filter (null: the empty filter). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryGlobalTagsNum(QXSymWorkspaceHandle workspace,
                                                          const TCHAR* filter, uint32_t* count);

/* As QXSym_GetGlobalTags, for the tags matching filter. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryGlobalTags(QXSymWorkspaceHandle workspace,
                                                       const TCHAR* filter, QXSymTagHandle** tags,
                                                       uint32_t* count);

/* As QXSym_FillGlobalTagList, for the tags matching filter. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryFillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                              const TCHAR* filter,
                                                              QXSymTagHandle* tags, uint32_t count);

/* Close every tag of a list made by QXSym_GetGlobalTags or
 * QXSym_QueryGlobalTags and release the list. A list the library did not
 * make: symResInvalidHandle, left alone. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_FreeTagList(QXSymTagHandle* tags);

/* Tag maps are not available: these answer symResNotImplemented. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTagsMap(QXSymWorkspaceHandle workspace,
                                                        QXSymTagMapHandle* map);
QXSYM_API QXSymResult QXSYM_CALL QXSym_FreeTagMap(QXSymTagMapHandle map);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagFromMap(QXSymTagMapHandle map, const TCHAR* name,
                                                     QXSymTagHandle* tag);

/* Not available: answers symResNotImplemented in every state. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetCodeId(QXSymWorkspaceHandle workspace, uint32_t* codeId,
                                                 bool_t flag, uint16_t arg1, uint16_t arg2);

/* ======================================================================== */
/* Tags                                                                      */
/* ======================================================================== */

/* Text of a tag: name, description, data type name, or the attribute name
 * (name may be null: the empty name). buffer and length are required.
 * symResInvalidBuffer with the needed length in *length when too small. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagName(QXSymTagHandle tag, TCHAR* buffer,
                                                  uint16_t* length);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDescr(QXSymTagHandle tag, TCHAR* buffer,
                                                   uint16_t* length);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataType(QXSymTagHandle tag, TCHAR* buffer,
                                                      uint16_t* length);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAttribute(QXSymTagHandle tag, const TCHAR* name,
                                                       TCHAR* buffer, uint16_t* length);

/* Basic variable type, value size and full (raw) size of a tag, and its
 * read-only and bit-address flags. Output pointers are required. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataTypeVar(QXSymTagHandle tag, QXSymTyVar* type);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataSize(QXSymTagHandle tag, uint32_t* size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataFullSize(QXSymTagHandle tag, uint32_t* size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsTagReadOnly(QXSymTagHandle tag, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsTagBitAddress(QXSymTagHandle tag, bool_t* answer);

/* The tag's three array dimensions (0 where unused). Pointers required. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDims(QXSymTagHandle tag, uint32_t* dim1,
                                                  uint32_t* dim2, uint32_t* dim3);

/* Address (and bit offset) of the tag or of one array element. An address
 * that does not fit qxsym_addr_t: symResAddressMismatch32vs64. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAddress(QXSymTagHandle tag, qxsym_addr_t* address);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAddressBitOffset(QXSymTagHandle tag,
                                                              qxsym_addr_t* address,
                                                              uint32_t* bitOffset);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayAddress(QXSymTagHandle tag, uint32_t index1,
                                                          uint32_t index2, uint32_t index3,
                                                          qxsym_addr_t* address);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayAddressBitOffset(QXSymTagHandle tag,
                                                                   uint32_t index1, uint32_t index2,
                                                                   uint32_t index3,
                                                                   qxsym_addr_t* address,
                                                                   uint32_t* bitOffset);

/* Read the tag's value into buffer of size bytes (size must be at least the
 * data size: symResInvalidBuffer). A reply longer than size:
 * symResInvalidBuffer, nothing copied. Any size is accepted; a controller
 * sends at most 65535 bytes of value in one reply. Writing a value longer
 * than 65535 bytes to a controller: symResInvalidParameter, nothing sent. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValue_Ptr(QXSymTagHandle tag, void* buffer,
                                                       uint32_t size);
/* Write size bytes as the tag's value. More than 65535 bytes:
 * symResInvalidParameter. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagValue_Ptr(QXSymTagHandle tag, const void* data,
                                                       uint32_t size);
/* Read or write one array element; indices are checked by the source. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                            uint32_t index2, uint32_t index3,
                                                            void* buffer, uint32_t size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                            uint32_t index2, uint32_t index3,
                                                            const void* data, uint32_t size);
/* Raw memory of the tag from its start. Read: size must be at least the full
 * size (symResInvalidBuffer) and exactly the full size is read. Write: size
 * must not exceed the full size (symResInvalidParameter). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagRawValue_Ptr(QXSymTagHandle tag, void* buffer,
                                                          uint32_t size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagRawValue_Ptr(QXSymTagHandle tag, const void* data,
                                                          uint32_t size);

/* A new type handle for the tag's type, to be released with QXSym_CloseType. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagType(QXSymTagHandle tag, QXSymTypeHandle* type);

/* Release the tag at the source and close its handle. On failure the handle
 * stays valid, except when the connection is gone (symResConnectionLost or
 * symResSocketError): the source then holds nothing to release, and the
 * handle is released all the same, so a program that reconnects never
 * piles up handles of lost connections. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseTag(QXSymTagHandle tag);

/* ======================================================================== */
/* Types                                                                     */
/* ======================================================================== */

/* Type predicates; answer required. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsBasic(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsComplex(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsString(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsArray(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsStruct(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsFunctionBlock(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsNumeric(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsSigned(QXSymTypeHandle type, bool_t* answer);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsInteger(QXSymTypeHandle type, bool_t* answer);

/* Size in bytes, property flags (QXSymTypeProperty ORed) and child count. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetSize(QXSymTypeHandle type, uint32_t* size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetProperties(QXSymTypeHandle type, uint32_t* flags);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetNumChildren(QXSymTypeHandle type, uint32_t* count);

/* Name of the type (null pointers: symResInvalidParameter) or of child
 * index (null pointers: symResInvalidBuffer). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetName(QXSymTypeHandle type, TCHAR* buffer,
                                                   uint16_t* length);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChildName(QXSymTypeHandle type, uint32_t index,
                                                        TCHAR* buffer, uint16_t* length);

/* A new type handle for a child, by index or by name; child is required.
 * Release it with QXSym_CloseType. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChild(QXSymTypeHandle type, uint32_t index,
                                                    QXSymTypeHandle* child);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChildByName(QXSymTypeHandle type, const TCHAR* name,
                                                          QXSymTypeHandle* child);

/* Array dimensions: their number, one of them, or all of them into values
 * (more than maxCount: symResInvalidParameter, nothing written). */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayNumDimensions(QXSymTypeHandle type,
                                                                 uint32_t* count);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimension(QXSymTypeHandle type, uint32_t index,
                                                             uint32_t* value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimensions(QXSymTypeHandle type,
                                                              uint32_t* values, uint8_t maxCount);

/* Release a type handle. While stopped: symResNotInited. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseType(QXSymTypeHandle type);

/* ======================================================================== */
/* Groups                                                                    */
/* ======================================================================== */

/* A new, empty group on the workspace; release with QXSym_DeleteGroup. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CreateGroup(QXSymWorkspaceHandle workspace,
                                                   QXSymGroupHandle* group);

/* Remove the group at the source and release it; on failure the handle stays
 * valid with no members; when the connection is gone (symResConnectionLost or
 * symResSocketError) the handle is released all the same. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_DeleteGroup(QXSymGroupHandle group);

/* Member count and total value size in bytes. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGroupInfo(QXSymGroupHandle group, uint32_t* count,
                                                    uint32_t* size);

/* Add or remove a tag of the group's workspace. A tag of another workspace:
 * symResInvalidHandle; already a member: symResHandleAlreadyExists; removing
 * a non-member: symResNotOk; a member that would take the group's values
 * beyond 64 MiB: symResMemoryAllocError, the member not added. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_AddTagToGroup(QXSymGroupHandle group, QXSymTagHandle tag);
QXSYM_API QXSymResult QXSYM_CALL QXSym_RemoveTagFromGroup(QXSymGroupHandle group,
                                                          QXSymTagHandle tag);

/* Read or write the values of all members in one exchange. No members:
 * symResGroupIsEmpty; a reply of the wrong length: symResInvalidGroupSize. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_ReadGroup(QXSymGroupHandle group);
QXSYM_API QXSymResult QXSYM_CALL QXSym_WriteGroup(QXSymGroupHandle group);

/* Take one member's value out of the last read, or put it in for the next
 * write. buffer/data null: symResInvalidBuffer; before the first read:
 * symResGroupMustBeRead; size smaller than the member: symResInvalidTagSize;
 * not a member: symResInvalidHandle. Exactly the member's size is copied. */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_Ptr(QXSymGroupHandle group,
                                                                QXSymTagHandle tag, void* buffer,
                                                                uint32_t size);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagValueIntoGroup_Ptr(QXSymGroupHandle group,
                                                                QXSymTagHandle tag,
                                                                const void* data, uint32_t size);

/* ======================================================================== */
/* Windows build only                                                        */
/* ======================================================================== */

#if defined(_WIN32)
#include <oaidl.h>
QXSYM_API QXSymResult QXSYM_CALL QXSym_ReadMemory(uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                                                  uint32_t e);
QXSYM_API QXSymResult QXSYM_CALL QXSym_WriteMemory(uint32_t a, uint32_t b, uint32_t c, uint32_t d,
                                                   uint32_t e);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValue_VARIANT(QXSymTagHandle tag, VARIANT* value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1,
                                                                uint32_t index2, uint32_t index3,
                                                                VARIANT* value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagValue_VARIANT(QXSymTagHandle tag, VARIANT value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_VARIANT(QXSymTagHandle tag, uint32_t index1,
                                                                uint32_t index2, uint32_t index3,
                                                                VARIANT value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_VARIANT(QXSymGroupHandle group,
                                                                    QXSymTagHandle tag,
                                                                    VARIANT* value);
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagValueIntoGroup_VARIANT(QXSymGroupHandle group,
                                                                    QXSymTagHandle tag,
                                                                    VARIANT value);
#endif

#ifdef __cplusplus
}
#endif

#endif /* QXSYMBOLS_H */
