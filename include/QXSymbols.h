/**
 * @file QXSymbols.h
 * @brief QXSymbols: client library for the tags of a PLC application.
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
 * release handles and to take or put single group values, with one
 * exception: the group VARIANT forms of the Windows build
 * (QXSym_GetTagValueFromGroup_VARIANT, QXSym_SetTagValueIntoGroup_VARIANT)
 * hold it for the whole call, so when the tag's basic type or data size is
 * not yet known they ask the controller for it under the lock, and every
 * other call waits for that exchange (at most its time-out). No other
 * exchange with a controller runs under it.
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
/** Calling convention of every exported function (__stdcall on Windows). */
#define QXSYM_CALL
#if defined(QXSYMBOLS_BUILDING)
#define QXSYM_API __attribute__((visibility("default")))
#else
/** Marks a function exported by the library. */
#define QXSYM_API
#endif
#endif

/* ---- Scalar type names ------------------------------------------------ */

/* int8_t .. uint64_t come from <stdint.h>. */
typedef float float32_t;      /**< REAL: IEEE 754 single precision. */
typedef double float64_t;     /**< LREAL: IEEE 754 double precision. */
typedef unsigned char bool_t; /**< Boolean: 0 false, anything else true. */
/* Text is 8-bit in every build. The functions take char_t, never TCHAR:
 * windows.h makes TCHAR 16-bit when UNICODE is defined, and a wide name
 * must be a compile error rather than a name the library reads as its first
 * letter. TCHAR itself is defined for callers that have none. */
#ifndef _TCHAR_DEFINED
typedef char TCHAR;    /**< Character of names and file names: 8-bit. */
#define _TCHAR_DEFINED /**< TCHAR is defined. */
#endif
typedef char char_t;       /**< 8-bit character: text of every function. */
typedef uint32_t addr32_t; /**< 32-bit controller address. */
typedef uint64_t addr64_t; /**< 64-bit controller address. */
#if defined(_WIN32)
typedef addr64_t qxsym_addr_t;
#else
/** Address as the library reports it: 64-bit on Windows, 32-bit elsewhere. */
typedef addr32_t qxsym_addr_t;
#endif

#ifndef FALSE
#define FALSE 0 /**< bool_t false. */
#endif
#ifndef TRUE
#define TRUE 1 /**< bool_t true. */
#endif

/* ---- Handles ------------------------------------------------------------ */

typedef int QXSymWorkspaceHandle; /**< An open workspace (never 0). */
typedef int QXSymTagHandle;       /**< An open tag (never 0). */
typedef int QXSymTypeHandle;      /**< An open type (never 0). */
typedef int QXSymGroupHandle;     /**< A group of tags read and written together (never 0). */
typedef int QXSymTagMapHandle;    /**< A tag map (not available). */

/* ---- Constants ------------------------------------------------------------ */

#define QXSYM_MAX_STRING 260                   /**< Longest name with its terminator. */
#define QXSYMBOLS_VERSION_MAJOR 3              /**< Library version: major. */
#define QXSYMBOLS_VERSION_MINOR 0              /**< Library version: minor. */
#define QXSYMBOLS_VERSION_REVISION 1           /**< Library version: revision. */
#define QXSYMBOLS_VERSION_BUILD 1              /**< Library version: build. */
#define QXSYMTAB_MAX_SUPPORTED_VERSION_MAJOR 1 /**< Newest symbol-table major version read. */

/* ---- Enumerations ------------------------------------------------------- */

/** Result of every function; 0 (symResOk) is success. Codes are never renumbered. */
enum _QXSymResult {
  symResOk = 0,                     /**< Success. */
  symResNotInited = 1,              /**< The library is not started (QXSym_Init). */
  symResSocketInitError = 2,        /**< The socket layer could not be started. */
  symResSymbolTableLoadError = 3,   /**< The controller could not load its symbol table. */
  symResInvalidHandle = 4,          /**< The handle is 0, not open, or of another kind. */
  symResInvalidParameter = 5,       /**< An argument is missing or out of range. */
  symResSymbolNotFound = 6,         /**< No tag or member of that name. */
  symResAttributeNotFound = 7,      /**< The tag has no attribute of that name. */
  symResInvalidAddress = 8,         /**< The source could not be reached or attached. */
  symResMemReadError = 9,           /**< The controller could not read the memory. */
  symResInvalidBuffer = 10,         /**< A buffer is missing or too small. */
  symResUnknownTagSize = 11,        /**< The source does not know the tag's size. */
  symResMemWriteError = 12,         /**< The controller could not write the memory. */
  symResTimeoutError = 13,          /**< No reply within the workspace's time-out. */
  symResInvalidVARIANT = 14,        /**< The VARIANT could not be converted (Windows). */
  symResInvalidArrayIndex = 15,     /**< An index lies outside the array's bounds. */
  symResReadOnlyTag = 16,           /**< The tag is read-only. */
  symResConnectionLost = 17,        /**< The connection to the controller broke or was closed. */
  symResNotOk = 18,                 /**< The operation failed; the source gave no finer reason. */
  symResInvalidAttributeValue = 19, /**< The attribute's value is not valid. */
  symResBitCommandRequired = 20,    /**< The tag lives at a bit address. */
  symResInvalidTagSize = 21,        /**< The size does not match the tag. */
  symResNotImplemented = 22,        /**< This source does not offer the operation. */
  symResVersionNotSupported = 23,   /**< The source does not support this version. */
  symResCommandNotSupported = 24,   /**< The source does not support this command. */
  symResAddressMismatch32vs64 = 25, /**< The address does not fit qxsym_addr_t. */
  symResMemoryAllocError = 26,      /**< Memory could not be allocated. */
  symResInvalidArea = 27,           /**< The memory area is not valid. */
  symResInvalidWorkspace = 28,      /**< The source no longer knows the workspace. */
  symResMaxReached = 29,            /**< A limit of the source is reached. */
  symResBufferOverflow = 30,        /**< More entries than the list holds. */
  symResUnkownCommand = 31,         /**< The source does not know the command. */
  symResShutdownInProgress = 32,    /**< The source is shutting down. */
  symResInvalidComm = 33,           /**< The communication was refused. */
  symResServerNotCompatible = 34,   /**< The service's major version is not 3. */
  symResOkServerNotFullSupport =
      35,                         /**< Connected, but the service (3.0.0.x) lacks some functions. */
  symResFileAlreadyExists = 36,   /**< The file exists and overwrite was 0. */
  symResCannotWriteFile = 37,     /**< The file could not be written in full. */
  symResCannotOpenFile = 38,      /**< The file could not be opened or created. */
  symResCannotReadFile = 39,      /**< The file could not be read. */
  symResSegmentationError = 40,   /**< A reply in fragments broke off or overran its total. */
  symResHandleAlreadyExists = 41, /**< The tag is already a member of the group. */
  symResInvalidGroupSize = 42,    /**< The group reply had the wrong length. */
  symResGroupMustBeRead = 43,     /**< The group has not been read yet. */
  symResGroupConfigError = 44,    /**< The source refused the group's configuration. */
  symResInvalidGroupTag = 45,     /**< The source refused a tag of the group. */
  symResGroupIsEmpty = 46,        /**< The group has no members. */
  symResInvalidTagType = 47,      /**< The tag's type does not allow the operation. */
  symResSocketError = 48,         /**< The request could not be sent or received. */
  symResProtocolError = 49        /**< The reply did not fit the request. */
};
typedef enum _QXSymResult QXSymResult; /**< Result of every function. */

/** How a workspace reaches the symbols. */
enum _QXSymProtocol {
  symProtGDB_TCP = 0, /**< The controller's symbol service over TCP. */
#if defined(_WIN32)
  symProtFerrolink = 1, /**< The COM channel (Windows only). */
#endif
  symProtDirectAccess = 2 /**< A host's in-process QXSymDirectAccessTable. */
};
typedef enum _QXSymProtocol QXSymProtocol; /**< How a workspace reaches the symbols. */

/** Basic variable type of a tag's data. 8 and 19 are unassigned. */
enum _QXSymTyVar {
  QXSymTyVarNull = 0,     /**< No basic type (structures, function blocks). */
  QXSymTyVarBool = 1,     /**< BOOL, 1 byte. */
  QXSymTyVarSInt = 2,     /**< SINT, 1 byte signed. */
  QXSymTyVarUSInt = 3,    /**< USINT, 1 byte unsigned. */
  QXSymTyVarByte = 4,     /**< BYTE, 1 byte. */
  QXSymTyVarInt = 5,      /**< INT, 2 bytes signed. */
  QXSymTyVarUInt = 6,     /**< UINT, 2 bytes unsigned. */
  QXSymTyVarWord = 7,     /**< WORD, 2 bytes. */
  QXSymTyVarDInt = 9,     /**< DINT, 4 bytes signed. */
  QXSymTyVarUDInt = 10,   /**< UDINT, 4 bytes unsigned. */
  QXSymTyVarDWord = 11,   /**< DWORD, 4 bytes. */
  QXSymTyVarLInt = 12,    /**< LINT, 8 bytes signed. */
  QXSymTyVarULInt = 13,   /**< ULINT, 8 bytes unsigned. */
  QXSymTyVarLWord = 14,   /**< LWORD, 8 bytes. */
  QXSymTyVarReal = 15,    /**< REAL, 4-byte float. */
  QXSymTyVarLReal = 16,   /**< LREAL, 8-byte float. */
  QXSymTyVarString = 17,  /**< STRING, zero-terminated 8-bit text. */
  QXSymTyVarUserDef = 18, /**< A user-defined type. */
  QXSymTyVarPointer = 20  /**< A pointer. */
};
typedef enum _QXSymTyVar QXSymTyVar; /**< Basic variable type. */

/** Type property flags, ORed together by QXSym_TypeGetProperties. */
enum _QXSymTypeProperty {
  QXSymTypeIsBasic = 1,          /**< The type is a basic type. */
  QXSymTypeIsComplex = 2,        /**< The type is complex (not basic). */
  QXSymTypeIsString = 4,         /**< The type is a string. */
  QXSymTypeIsArray = 8,          /**< The type is an array. */
  QXSymTypeIsStruct = 16,        /**< The type is a structure. */
  QXSymTypeIsFunctionBlock = 32, /**< The type is a function block. */
  QXSymTypeIsNumeric = 64,       /**< The type is numeric. */
  QXSymTypeIsSigned = 128,       /**< The type is signed. */
  QXSymTypeIsInteger = 256       /**< The type is an integer. */
};
typedef enum _QXSymTypeProperty QXSymTypeProperty; /**< Type property flag. */

/* ---- Server address ------------------------------------------------------ */

/**
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
  QXSymProtocol protocol; /**< How the workspace reaches the symbols. */
  char ip[60];            /**< Host name or IPv4 address, or the table's address. */
  uint16_t port;          /**< TCP port of the symbol service. */
  uint16_t timeout;       /**< Reply time-out in ms; 0 keeps the default (10000). */
};
typedef struct _QXSymServerAddress QXSymServerAddress; /**< See _QXSymServerAddress. */

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

/**
 * @brief Start the library. A second call while started does nothing.
 * @return symResOk, or symResSocketInitError (never on Linux).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_Init(void);

/**
 * @brief Whether the library is started.
 * @return symResOk (0) while the library is started, symResNotInited (1) otherwise.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsInitOk(void);

/**
 * @brief Stop the library.
 *
 * Handles still open are invalid afterwards and their objects are released
 * locally (nothing is sent to the controller); tag lists of
 * QXSym_GetGlobalTags or QXSym_QueryGlobalTags not yet given to
 * QXSym_FreeTagList are freed.
 * @return symResOk, or symResNotInited when not started.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_Shutdown(void);

/* ======================================================================== */
/* Workspaces and global tags                                                */
/* ======================================================================== */

/**
 * @brief Open a workspace on the source named by address.
 * @param selector passed to the source as it is.
 * @param address where and how to reach the symbols; read only during the call.
 * @param workspace receives the handle (0 on failure).
 * @return symResOk, or symResOkServerNotFullSupport (service 3.0.0.x) with a
 * valid handle; symResInvalidParameter (workspace null), symResInvalidAddress
 * (address null, or the channel or table cannot be attached),
 * symResServerNotCompatible (major version other than 3), or the source's
 * result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_OpenWorkspace(uint8_t selector,
                                                     const QXSymServerAddress* address,
                                                     QXSymWorkspaceHandle* workspace);

/**
 * @brief Close a workspace at the source and release it.
 *
 * The handle is invalid afterwards whatever the result. Tags, types and
 * groups of the workspace stay open but can no longer reach the source.
 * @param workspace the workspace to close.
 * @return the source's answer to the close, or symResInvalidHandle.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseWorkspace(QXSymWorkspaceHandle workspace);

/**
 * @brief Ask the source whether the workspace is still valid there.
 * @param workspace the workspace to check.
 * @return symResOk when valid, else the source's answer (for example
 * symResInvalidWorkspace, symResTimeoutError, symResConnectionLost).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsValidWorkspace(QXSymWorkspaceHandle workspace);

/**
 * @brief The source's version.
 * @param workspace an open workspace.
 * @param major receives the major version.
 * @param minor receives the minor version.
 * @param revision receives the revision.
 * @param build receives the build number.
 * @return symResOk; symResInvalidParameter when any of the four pointers is
 * null; or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetServerVersion(QXSymWorkspaceHandle workspace,
                                                        uint8_t* major, uint8_t* minor,
                                                        uint8_t* revision, uint8_t* build);

/**
 * @brief Download the raw symbol table into a file (binary, no header).
 * @param workspace an open Remote workspace.
 * @param fileName the file to write.
 * @param overwrite 0 keeps an existing file (symResFileAlreadyExists, nothing
 * else happens); non-zero replaces it.
 * @return symResOk; symResFileAlreadyExists; symResCannotOpenFile (a file
 * that cannot be created); symResCannotWriteFile (a short write);
 * symResMemoryAllocError (no memory, or a table larger than 256 MiB);
 * symResNotImplemented (a Direct workspace); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetSymbolTable(QXSymWorkspaceHandle workspace,
                                                      const char_t* fileName, bool_t overwrite);

/**
 * @brief Find one global tag by name.
 * @param workspace an open workspace.
 * @param name the tag's name or path (members and elements: "Line.Main",
 * "Temps[3]").
 * @param tag receives a new tag handle on success, to be released with
 * QXSym_CloseTag.
 * @return symResOk, or the source's status (for example symResSymbolNotFound)
 * unchanged.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTag(QXSymWorkspaceHandle workspace,
                                                    const char_t* name, QXSymTagHandle* tag);

/**
 * @brief Number of global tags.
 * @param workspace an open workspace.
 * @param count receives the number.
 * @return symResOk, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTagsNum(QXSymWorkspaceHandle workspace,
                                                        uint32_t* count);

/**
 * @brief All global tags into a list that the library allocates.
 * @param workspace an open workspace.
 * @param tags receives an array of *count handles followed by a 0, to be
 * released with QXSym_FreeTagList.
 * @param count receives the number of handles.
 * @return symResOk; symResMemoryAllocError when the list cannot be allocated
 * (from either kind of workspace); symResBufferOverflow when the source
 * reports more tags than it counted (nothing is kept); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTags(QXSymWorkspaceHandle workspace,
                                                     QXSymTagHandle** tags, uint32_t* count);

/**
 * @brief All global tags into the caller's array.
 *
 * One handle per tag reported; no terminating 0.
 * @param workspace an open workspace.
 * @param tags the caller's array of count entries.
 * @param count the array's length (count > 0).
 * @return symResOk; symResBufferOverflow when the source reports more tags
 * than count (nothing is kept); symResMemoryAllocError when the tags cannot
 * be allocated; or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_FillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                         QXSymTagHandle* tags, uint32_t count);

/**
 * @brief Number of global tags matching a filter.
 * @param workspace an open workspace.
 * @param filter the filter (null: the empty filter).
 * @param count receives the number.
 * @return symResOk, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryGlobalTagsNum(QXSymWorkspaceHandle workspace,
                                                          const char_t* filter, uint32_t* count);

/**
 * @brief As QXSym_GetGlobalTags, for the tags matching filter.
 * @param workspace an open workspace.
 * @param filter the filter (null: the empty filter).
 * @param tags receives the list, to be released with QXSym_FreeTagList.
 * @param count receives the number of handles.
 * @return as QXSym_GetGlobalTags.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryGlobalTags(QXSymWorkspaceHandle workspace,
                                                       const char_t* filter, QXSymTagHandle** tags,
                                                       uint32_t* count);

/**
 * @brief As QXSym_FillGlobalTagList, for the tags matching filter.
 * @param workspace an open workspace.
 * @param filter the filter (null: the empty filter).
 * @param tags the caller's array of count entries.
 * @param count the array's length (count > 0).
 * @return as QXSym_FillGlobalTagList.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_QueryFillGlobalTagList(QXSymWorkspaceHandle workspace,
                                                              const char_t* filter,
                                                              QXSymTagHandle* tags, uint32_t count);

/**
 * @brief Close every tag of a list and release the list.
 * @param tags a list made by QXSym_GetGlobalTags or QXSym_QueryGlobalTags.
 * @return symResOk; symResInvalidHandle for a list the library did not make
 * (left alone).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_FreeTagList(QXSymTagHandle* tags);

/**
 * @brief Tag maps are not available.
 * @param workspace a workspace.
 * @param map not written.
 * @return symResNotImplemented.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGlobalTagsMap(QXSymWorkspaceHandle workspace,
                                                        QXSymTagMapHandle* map);
/**
 * @brief Tag maps are not available.
 * @param map a tag map.
 * @return symResNotImplemented.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_FreeTagMap(QXSymTagMapHandle map);
/**
 * @brief Tag maps are not available.
 * @param map a tag map.
 * @param name a tag's name.
 * @param tag not written.
 * @return symResNotImplemented.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagFromMap(QXSymTagMapHandle map, const char_t* name,
                                                     QXSymTagHandle* tag);

/**
 * @brief Not available.
 * @param workspace a workspace.
 * @param codeId not written.
 * @param flag ignored.
 * @param arg1 ignored.
 * @param arg2 ignored.
 * @return symResNotImplemented in every state.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetCodeId(QXSymWorkspaceHandle workspace, uint32_t* codeId,
                                                 bool_t flag, uint16_t arg1, uint16_t arg2);

/* ======================================================================== */
/* Tags                                                                      */
/* ======================================================================== */

/**
 * @brief Name of a tag.
 * @param tag an open tag.
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length (terminator
 * included) out.
 * @return symResOk; symResInvalidParameter when buffer or length is null;
 * symResInvalidBuffer with the needed length in *length when too small; or
 * the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagName(QXSymTagHandle tag, char_t* buffer,
                                                  uint16_t* length);
/**
 * @brief Description of a tag.
 * @param tag an open tag.
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length out.
 * @return as QXSym_GetTagName.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDescr(QXSymTagHandle tag, char_t* buffer,
                                                   uint16_t* length);
/**
 * @brief Data type name of a tag.
 * @param tag an open tag.
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length out.
 * @return as QXSym_GetTagName.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataType(QXSymTagHandle tag, char_t* buffer,
                                                      uint16_t* length);
/**
 * @brief One attribute of a tag.
 * @param tag an open tag.
 * @param name the attribute's name (null: the empty name).
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length out.
 * @return as QXSym_GetTagName; symResAttributeNotFound from the source for
 * an unknown attribute.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAttribute(QXSymTagHandle tag, const char_t* name,
                                                       char_t* buffer, uint16_t* length);

/**
 * @brief Basic variable type of a tag.
 * @param tag an open tag.
 * @param type receives the type (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataTypeVar(QXSymTagHandle tag, QXSymTyVar* type);
/**
 * @brief Value size of a tag in bytes.
 * @param tag an open tag.
 * @param size receives the size (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataSize(QXSymTagHandle tag, uint32_t* size);
/**
 * @brief Full (raw) size of a tag in bytes.
 * @param tag an open tag.
 * @param size receives the size (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDataFullSize(QXSymTagHandle tag, uint32_t* size);
/**
 * @brief Whether a tag is read-only.
 * @param tag an open tag.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsTagReadOnly(QXSymTagHandle tag, bool_t* answer);
/**
 * @brief Whether a tag lives at a bit address.
 * @param tag an open tag.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_IsTagBitAddress(QXSymTagHandle tag, bool_t* answer);

/**
 * @brief The tag's three array dimensions (0 where unused).
 * @param tag an open tag.
 * @param dim1 receives the first dimension (required).
 * @param dim2 receives the second dimension (required).
 * @param dim3 receives the third dimension (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagDims(QXSymTagHandle tag, uint32_t* dim1,
                                                  uint32_t* dim2, uint32_t* dim3);

/**
 * @brief Address of the tag.
 * @param tag an open tag.
 * @param address receives the address.
 * @return symResOk; symResAddressMismatch32vs64 for an address that does not
 * fit qxsym_addr_t; or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAddress(QXSymTagHandle tag, qxsym_addr_t* address);
/**
 * @brief Address and bit offset of the tag.
 * @param tag an open tag.
 * @param address receives the address.
 * @param bitOffset receives the bit offset.
 * @return as QXSym_GetTagAddress.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagAddressBitOffset(QXSymTagHandle tag,
                                                              qxsym_addr_t* address,
                                                              uint32_t* bitOffset);
/**
 * @brief Address of one array element.
 * @param tag an open array tag.
 * @param index1 first index.
 * @param index2 second index.
 * @param index3 third index.
 * @param address receives the address.
 * @return as QXSym_GetTagAddress; the source checks the indices.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayAddress(QXSymTagHandle tag, uint32_t index1,
                                                          uint32_t index2, uint32_t index3,
                                                          qxsym_addr_t* address);
/**
 * @brief Address and bit offset of one array element.
 * @param tag an open array tag.
 * @param index1 first index.
 * @param index2 second index.
 * @param index3 third index.
 * @param address receives the address.
 * @param bitOffset receives the bit offset.
 * @return as QXSym_GetTagAddress; the source checks the indices.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayAddressBitOffset(QXSymTagHandle tag,
                                                                   uint32_t index1, uint32_t index2,
                                                                   uint32_t index3,
                                                                   qxsym_addr_t* address,
                                                                   uint32_t* bitOffset);

/**
 * @brief Read the tag's value.
 *
 * Any size is accepted; a controller sends at most 65535 bytes of value in
 * one reply.
 * @param tag an open tag.
 * @param buffer receives the value.
 * @param size the buffer's size in bytes; at least the data size.
 * @return symResOk; symResInvalidBuffer when size is below the data size or
 * the reply is longer than size (nothing copied); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValue_Ptr(QXSymTagHandle tag, void* buffer,
                                                       uint32_t size);
/**
 * @brief Write the tag's value.
 * @param tag an open tag.
 * @param data the bytes to write.
 * @param size how many bytes.
 * @return symResOk; symResInvalidParameter for a value longer than 65535
 * bytes to a controller (nothing sent); or the source's result (for example
 * symResReadOnlyTag).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagValue_Ptr(QXSymTagHandle tag, const void* data,
                                                       uint32_t size);
/**
 * @brief Read one array element.
 * @param tag an open array tag.
 * @param index1 first index.
 * @param index2 second index.
 * @param index3 third index.
 * @param buffer receives the element's value.
 * @param size the buffer's size in bytes.
 * @return as QXSym_GetTagValue_Ptr; the source checks the indices
 * (symResInvalidArrayIndex).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                            uint32_t index2, uint32_t index3,
                                                            void* buffer, uint32_t size);
/**
 * @brief Write one array element.
 * @param tag an open array tag.
 * @param index1 first index.
 * @param index2 second index.
 * @param index3 third index.
 * @param data the bytes to write.
 * @param size how many bytes.
 * @return as QXSym_SetTagValue_Ptr; the source checks the indices
 * (symResInvalidArrayIndex).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagArrayValue_Ptr(QXSymTagHandle tag, uint32_t index1,
                                                            uint32_t index2, uint32_t index3,
                                                            const void* data, uint32_t size);
/**
 * @brief Read the raw memory of the tag from its start.
 *
 * Exactly the full size is read.
 * @param tag an open tag.
 * @param buffer receives the bytes.
 * @param size the buffer's size; at least the full size.
 * @return symResOk; symResInvalidBuffer when size is below the full size; or
 * the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagRawValue_Ptr(QXSymTagHandle tag, void* buffer,
                                                          uint32_t size);
/**
 * @brief Write the raw memory of the tag from its start.
 * @param tag an open tag.
 * @param data the bytes to write.
 * @param size how many bytes; not more than the full size.
 * @return symResOk; symResInvalidParameter when size exceeds the full size;
 * or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_SetTagRawValue_Ptr(QXSymTagHandle tag, const void* data,
                                                          uint32_t size);

/**
 * @brief A new type handle for the tag's type.
 * @param tag an open tag.
 * @param type receives the handle, to be released with QXSym_CloseType.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagType(QXSymTagHandle tag, QXSymTypeHandle* type);

/**
 * @brief Release the tag at the source and close its handle.
 * @param tag an open tag. On failure the handle stays valid, except when the
 *            connection is gone (symResConnectionLost or symResSocketError):
 *            the source then holds nothing to release, and the handle is
 *            released all the same, so a program that reconnects never piles
 *            up handles of lost connections.
 * @return symResOk, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseTag(QXSymTagHandle tag);

/* ======================================================================== */
/* Types                                                                     */
/* ======================================================================== */

/**
 * @brief Whether the type is basic.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsBasic(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is complex (not basic).
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsComplex(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is a string.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsString(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is an array.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsArray(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is a structure.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsStruct(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is a function block.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsFunctionBlock(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is numeric.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsNumeric(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is signed.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsSigned(QXSymTypeHandle type, bool_t* answer);
/**
 * @brief Whether the type is an integer.
 * @param type an open type.
 * @param answer receives the flag (required).
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeIsInteger(QXSymTypeHandle type, bool_t* answer);

/**
 * @brief Size of the type in bytes.
 * @param type an open type.
 * @param size receives the size.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetSize(QXSymTypeHandle type, uint32_t* size);
/**
 * @brief Property flags of the type.
 * @param type an open type.
 * @param flags receives the QXSymTypeProperty flags ORed.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetProperties(QXSymTypeHandle type, uint32_t* flags);
/**
 * @brief Number of children (members or elements) of the type.
 * @param type an open type.
 * @param count receives the number.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetNumChildren(QXSymTypeHandle type, uint32_t* count);

/**
 * @brief Name of the type.
 * @param type an open type.
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length out.
 * @return symResOk; symResInvalidParameter for null pointers;
 * symResInvalidBuffer with the needed length when too small; or the
 * source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetName(QXSymTypeHandle type, char_t* buffer,
                                                   uint16_t* length);
/**
 * @brief Name of one child of the type.
 * @param type an open type.
 * @param index the child's index, from 0.
 * @param buffer receives the zero-terminated text.
 * @param length the buffer's capacity in, the needed length out.
 * @return symResOk; symResInvalidBuffer for null pointers or when too small
 * (with the needed length); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChildName(QXSymTypeHandle type, uint32_t index,
                                                        char_t* buffer, uint16_t* length);

/**
 * @brief A new type handle for a child, by index.
 * @param type an open type.
 * @param index the child's index, from 0.
 * @param child receives the handle (required); release it with QXSym_CloseType.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChild(QXSymTypeHandle type, uint32_t index,
                                                    QXSymTypeHandle* child);
/**
 * @brief A new type handle for a child, by name.
 * @param type an open type.
 * @param name the child's name.
 * @param child receives the handle (required); release it with QXSym_CloseType.
 * @return symResOk, symResInvalidParameter, or the source's result (for
 * example symResSymbolNotFound).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetChildByName(QXSymTypeHandle type, const char_t* name,
                                                          QXSymTypeHandle* child);

/**
 * @brief Number of array dimensions.
 * @param type an open type.
 * @param count receives the number.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayNumDimensions(QXSymTypeHandle type,
                                                                 uint32_t* count);
/**
 * @brief One array dimension.
 * @param type an open array type.
 * @param index the dimension's index, from 0.
 * @param value receives the dimension.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimension(QXSymTypeHandle type, uint32_t index,
                                                             uint32_t* value);
/**
 * @brief All array dimensions.
 * @param type an open array type.
 * @param values receives the dimensions.
 * @param maxCount the length of values.
 * @return symResOk; symResInvalidParameter when there are more than maxCount
 * (nothing written); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_TypeGetArrayDimensions(QXSymTypeHandle type,
                                                              uint32_t* values, uint8_t maxCount);

/**
 * @brief Release a type handle.
 * @param type an open type.
 * @return symResOk; symResNotInited while stopped; symResInvalidHandle.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CloseType(QXSymTypeHandle type);

/* ======================================================================== */
/* Groups                                                                    */
/* ======================================================================== */

/**
 * @brief A new, empty group on the workspace.
 * @param workspace an open workspace.
 * @param group receives the handle; release it with QXSym_DeleteGroup.
 * @return symResOk, symResInvalidParameter, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_CreateGroup(QXSymWorkspaceHandle workspace,
                                                   QXSymGroupHandle* group);

/**
 * @brief Remove the group at the source and release it.
 * @param group an open group; on failure the handle stays valid with no
 *              members, except when the connection is gone
 *              (symResConnectionLost or symResSocketError): the handle is
 *              released all the same.
 * @return symResOk, or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_DeleteGroup(QXSymGroupHandle group);

/**
 * @brief Member count and total value size of a group.
 * @param group an open group.
 * @param count receives the number of members.
 * @param size receives the total value size in bytes.
 * @return symResOk, or symResInvalidParameter.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetGroupInfo(QXSymGroupHandle group, uint32_t* count,
                                                    uint32_t* size);

/**
 * @brief Add a tag of the group's workspace to the group.
 * @param group an open group.
 * @param tag an open tag of the same workspace.
 * @return symResOk; symResInvalidHandle for a tag of another workspace;
 * symResHandleAlreadyExists when already a member; symResMemoryAllocError
 * when the member would take the group's values beyond 64 MiB (the member is
 * not added); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_AddTagToGroup(QXSymGroupHandle group, QXSymTagHandle tag);
/**
 * @brief Remove a tag from the group.
 * @param group an open group.
 * @param tag a member.
 * @return symResOk; symResInvalidHandle for a tag of another workspace;
 * symResNotOk for a non-member; or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_RemoveTagFromGroup(QXSymGroupHandle group,
                                                          QXSymTagHandle tag);

/**
 * @brief Read the values of all members in one exchange.
 * @param group an open group.
 * @return symResOk; symResGroupIsEmpty (no members); symResInvalidGroupSize
 * (a reply of the wrong length); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_ReadGroup(QXSymGroupHandle group);
/**
 * @brief Write the values of all members in one exchange.
 * @param group an open group.
 * @return symResOk; symResGroupIsEmpty (no members); or the source's result.
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_WriteGroup(QXSymGroupHandle group);

/**
 * @brief Take one member's value out of the last read.
 *
 * Exactly the member's size is copied.
 * @param group an open group.
 * @param tag a member.
 * @param buffer receives the value.
 * @param size the buffer's size; at least the member's size.
 * @return symResOk; symResInvalidBuffer (buffer null); symResGroupMustBeRead
 * (before the first read); symResInvalidTagSize (size smaller than the
 * member); symResInvalidHandle (not a member).
 */
QXSYM_API QXSymResult QXSYM_CALL QXSym_GetTagValueFromGroup_Ptr(QXSymGroupHandle group,
                                                                QXSymTagHandle tag, void* buffer,
                                                                uint32_t size);
/**
 * @brief Put one member's value in for the next write.
 *
 * Exactly the member's size is copied.
 * @param group an open group.
 * @param tag a member.
 * @param data the value.
 * @param size the data's size; at least the member's size.
 * @return symResOk; symResInvalidBuffer (data null); symResGroupMustBeRead
 * (before the first read); symResInvalidTagSize (size smaller than the
 * member); symResInvalidHandle (not a member).
 */
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
