/**
 * @file QXSymCore.h
 * @brief QXSymCore: the client core beneath qxsym, Node, Python and the
 * explorer, as plain C functions.
 *
 * Sessions, listing, tag layouts, values and result texts, with one set of
 * rules for every front end. Built on the exported QXSym_* functions, so it
 * serves both sources (a controller over TCP and a host's direct-access
 * table). It keeps no thread running between calls.
 *
 * Handles are 32-bit ids, never 0. Every call checks its handle: an id that
 * is not open, already closed, or of another kind (a listing passed as a
 * session) answers symResInvalidHandle. No C++ exception leaves a function;
 * running out of memory answers symResMemoryAllocError.
 *
 * Memory. Every pointer the core hands out (layouts, read items, write
 * results, tag batches, events, texts) belongs to the core. It stays valid
 * until the next call with the same handle (session, listing or
 * subscription) or until that handle is closed, whichever comes first; copy
 * what you keep. Texts are UTF-8 and zero-terminated.
 *
 * Threads. A session, and each of its listings, is used by one thread at a
 * time; calls that arrive at once on one session take turns. Different
 * sessions may be used from different threads at the same time. A
 * subscription is polled by the thread that waits on it, on its session
 * (see QXSymCore_SubscriptionWait).
 */
#ifndef QXSYMCORE_H
#define QXSYMCORE_H

#include <stddef.h>
#include <stdint.h>

#include "QXSymbols.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#if defined(QXSYMCORE_BUILDING)
#define QXSYMCORE_API __declspec(dllexport)
#else
#define QXSYMCORE_API __declspec(dllimport)
#endif
#else
#if defined(QXSYMCORE_BUILDING)
#define QXSYMCORE_API __attribute__((visibility("default")))
#else
/** Marks a function exported by the core (plain C calling convention). */
#define QXSYMCORE_API
#endif
#endif

typedef uint32_t QXSymCoreHandle; /**< A session, a listing or a subscription (never 0). */

/** How the controller's 8-bit texts map to characters. */
enum _QXSymCoreEncoding {
  QXSymCoreLatin1 = 0,     /**< Every byte one character: any stored text round-trips. */
  QXSymCoreUtf8 = 1,       /**< UTF-8. */
  QXSymCoreWindows1252 = 2 /**< Windows-1252. */
};

/** What a value holds. */
enum _QXSymCoreValueKind {
  QXSymCoreNone = 0,     /**< No value. */
  QXSymCoreBool = 1,     /**< boolean (BOOL). */
  QXSymCoreSigned = 2,   /**< i (SINT, INT, DINT, LINT). */
  QXSymCoreUnsigned = 3, /**< u (USINT, UINT, UDINT, ULINT and the bit strings). */
  QXSymCoreFloat = 4,    /**< f (REAL, LREAL). */
  QXSymCoreText = 5,     /**< data/length: UTF-8 text (STRING). */
  QXSymCoreBytes = 6     /**< data/length: raw bytes (every other basic type). */
};

#define QXSYMCORE_MAX_DIMS 8          /**< Most array dimensions of a leaf. */
#define QXSYMCORE_MAX_CONNECTIONS 8   /**< Most connections of one listing. */
#define QXSYMCORE_LIST_DETAILS 1      /**< Listing: type name, basic type, size and flags. */
#define QXSYMCORE_LIST_DESCRIPTIONS 2 /**< Listing: descriptions. */
#define QXSYMCORE_TAG_READ_ONLY 1     /**< Tag flag: may not be written. */
#define QXSYMCORE_TAG_BIT_ADDRESS 2   /**< Tag flag: lives at a bit address. */

/** One plain value of a leaf (or of one element of an array leaf). */
typedef struct QXSymCoreValue {
  uint32_t kind;    /**< A _QXSymCoreValueKind. */
  uint32_t boolean; /**< QXSymCoreBool: 0 or 1. */
  int64_t i;        /**< QXSymCoreSigned. */
  uint64_t u;       /**< QXSymCoreUnsigned. */
  double f;         /**< QXSymCoreFloat. */
  const uint8_t*
      data;          /**< QXSymCoreText (UTF-8) and QXSymCoreBytes; may be null when length is 0. */
  uint32_t length;   /**< Bytes at data (a text's terminator not counted). */
  uint32_t reserved; /**< 0. */
} QXSymCoreValue;

/** One leaf of a layout: a value of a basic type, or an array of them. */
typedef struct QXSymCoreLeaf {
  const char* path;                  /**< "Line.Main.Speed", "Temps", "RecipeBook[2].Name". */
  uint32_t offset;                   /**< Byte offset within the described value. */
  uint32_t size;                     /**< Bytes of the whole leaf. */
  uint32_t tyvar;                    /**< Basic variable type (QXSymTyVar). */
  uint32_t element_size;             /**< Bytes of one value (= size for a single value). */
  uint32_t count;                    /**< Values in the leaf: 1, or the array's element count. */
  uint32_t num_dims;                 /**< 0 for a single value, else the array's dimensions. */
  uint32_t dims[QXSYMCORE_MAX_DIMS]; /**< Elements per dimension. */
  int64_t lower[QXSYMCORE_MAX_DIMS]; /**< Declared lower bound per dimension. */
} QXSymCoreLeaf;

/** A tag, member or element as a flat table of leaves. */
typedef struct QXSymCoreLayout {
  const char* path;                  /**< The path described. */
  const char* type_name;             /**< Its type's name ("LINE", "ARRAY[1..8] OF REAL"). */
  uint32_t size;                     /**< Bytes of the whole value. */
  uint32_t leaf_count;               /**< Entries at leaves. */
  const QXSymCoreLeaf* leaves;       /**< In order of the type's members and elements. */
  uint32_t value_count;              /**< Values over all leaves (the sum of their counts). */
  uint32_t num_dims;                 /**< 0, or the dimensions of the path itself, an array. */
  uint32_t dims[QXSYMCORE_MAX_DIMS]; /**< Its elements per dimension. */
  int64_t lower[QXSYMCORE_MAX_DIMS]; /**< Its declared lower bound per dimension. */
  uint32_t type_properties;          /**< The controller's QXSymTypeIs* flags; 0 for basic types. */
} QXSymCoreLayout;

/** The outcome of reading one path. */
typedef struct QXSymCoreReadItem {
  int32_t result;                /**< symResOk or why this path failed. */
  const char* message;           /**< Why, for people; "" on success. */
  const QXSymCoreLayout* layout; /**< Null when the path could not be described. */
  uint32_t value_count;          /**< Entries at values (0 on failure). */
  const QXSymCoreValue* values;  /**< The leaves in order, array elements last index fastest. */
} QXSymCoreReadItem;

/** One path and all the values of its layout, for QXSymCore_Write. */
typedef struct QXSymCoreWriteItem {
  const char* path;             /**< A tag, member or element path. */
  const QXSymCoreValue* values; /**< As QXSymCoreReadItem::values. */
  uint32_t value_count;         /**< Must equal the layout's value_count. */
} QXSymCoreWriteItem;

/** The outcome of writing one item. */
typedef struct QXSymCoreWriteResult {
  int32_t result;      /**< symResOk or why. */
  const char* message; /**< Why, for people; "" on success. */
} QXSymCoreWriteResult;

/** One tag found by a listing. */
typedef struct QXSymCoreTagInfo {
  const char* name;        /**< The tag's name. */
  const char* type_name;   /**< With QXSYMCORE_LIST_DETAILS, else "". */
  const char* description; /**< With QXSYMCORE_LIST_DESCRIPTIONS, else "". */
  uint32_t tyvar;          /**< With QXSYMCORE_LIST_DETAILS: basic variable type. */
  uint32_t size;           /**< With QXSYMCORE_LIST_DETAILS: data size in bytes. */
  uint32_t flags;          /**< With QXSYMCORE_LIST_DETAILS: QXSYMCORE_TAG_* flags. */
} QXSymCoreTagInfo;

/* ---- Sessions ------------------------------------------------------------ */

/**
 * @brief Open a session on the source named by address.
 * @param address where and how to reach the symbols (as QXSym_OpenWorkspace);
 *                read only during the call.
 * @param timeout_ms time-out of every wait in ms (1 to 65535); 0 keeps the
 *                   address's own.
 * @param encoding a _QXSymCoreEncoding for the controller's texts.
 * @param connections connections a listing may use, the session's own
 *                    included (1 to 8); extra ones are opened on demand.
 * @param session receives the handle; release it with QXSymCore_Close.
 * @return symResOk; symResInvalidParameter (a null pointer, an unknown
 * encoding, connections outside 1 to 8, a time-out above 65535); or the
 * source's result of opening (for example symResInvalidAddress,
 * symResTimeoutError, symResSocketError).
 */
QXSYMCORE_API QXSymResult QXSymCore_Open(const QXSymServerAddress* address, uint32_t timeout_ms,
                                         uint32_t encoding, uint32_t connections,
                                         QXSymCoreHandle* session);

/**
 * @brief Close a session, its listings and subscriptions, and everything it
 * opened at the source.
 * @param session an open session; invalid afterwards.
 * @return symResOk, or symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_Close(QXSymCoreHandle session);

/**
 * @brief Requests the session has sent to its source so far.
 *
 * Open and close included, and the requests of its listings on every
 * connection; the link's own mode handshakes on connecting are not
 * requests. Benchmarks read it; it never resets.
 * @param session an open session.
 * @param count receives the number.
 * @return symResOk; symResInvalidParameter (count null); symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_Exchanges(QXSymCoreHandle session, uint64_t* count);

/**
 * @brief Turn reconnecting on or off for a session (off when opened).
 *
 * With it on, a request that finds the connection lost (symResSocketError
 * or symResConnectionLost) makes the session "away" once the call ends:
 * the dead workspace is closed, and every call that needs the source fails
 * at once with symResConnectionLost, sending nothing, until an attempt to
 * open the workspace again is due. Attempts are made inside calls, never by
 * a thread: the first one first_ms after the loss, each failed one doubling
 * the wait up to max_ms. The call (or subscription poll) that finds an
 * attempt due makes it before its own work; a subscription's wait wakes at
 * the attempt times. A time-out (symResTimeoutError: the request was
 * acknowledged, the reply late) is not a loss: the controller may answer
 * on the same connection, and the values are told stale meanwhile. A
 * controller that does not even acknowledge (stopped) gives
 * symResSocketError and counts as lost; an attempt to open it again then
 * takes the open's five time-outs before it fails.
 *
 * After a reopen, tags and groups are looked up again without the caller's
 * help, and the program's fingerprint (see QXSymCoreSessionState) is taken
 * again: when it differs, the program counts as changed (see
 * QXSymCoreEventOnlineChange). Listings begun before the loss are not
 * carried over; end them and begin again. Turned off while away, the
 * session stays away (as one without reconnecting whose connection broke).
 *
 * Turning it on takes the fingerprint at once: the number of global tags
 * and, from a controller, the raw symbol table (one request each; the table
 * is hashed by its size and its first and last 64 KiB). A session that
 * never turns it on sends none of these.
 * @param session an open session.
 * @param first_ms wait before the first attempt, 1 to 3600000; 0 turns
 *                 reconnecting off.
 * @param max_ms longest wait between attempts, first_ms to 3600000; 0 takes
 *               5000 (or first_ms when that is longer).
 * @return symResOk; symResInvalidParameter (a wait out of range);
 * symResInvalidHandle; or the source's result of taking the fingerprint
 * (reconnecting stays off then).
 */
QXSYMCORE_API QXSymResult QXSymCore_SetReconnect(QXSymCoreHandle session, uint32_t first_ms,
                                                 uint32_t max_ms);

/**
 * Turns the session's symbol cache on disk on or off. The cache keeps the
 * types the session learned (their layouts and member offsets) in one file
 * per controller and program, so that another process's first look at a
 * structure costs the tag's lookup and the name of its type, not a walk of
 * the controller's type objects.
 *
 * Turning it on takes the program's fingerprint when the session has none
 * yet (as QXSymCore_SetReconnect does: two requests) and, while the
 * session has learned no type, reads the file for this controller
 * (protocol, host and port) and fingerprint in directory: its types count
 * as learned. The types learned after are written back when the session
 * learned more: at QXSymCore_Close and at the next QXSymCore_SetCache.
 * Files are written whole under another name and renamed, so a reader
 * never sees part of one, and two processes writing the same file leave
 * one of their files. A file that is damaged, truncated, of another
 * version, above 64 MiB, or beyond the walk's limits is passed over as if
 * there were none, and written again. When the program changes (an online
 * change, or a reconnect that finds another fingerprint) the cache follows
 * the new program's file; writing the file of a program removes the
 * controller's files of other programs. A session on a host's table keeps
 * no cache (symResOk, nothing read or written).
 * @param session an open session.
 * @param directory the cache's directory, made when missing; null or empty
 *                  turns the cache off (after writing the types back).
 * @return symResOk (also when no file could be read or written: the cache
 * then works as empty); symResInvalidHandle; symResConnectionLost (away,
 * and no fingerprint yet); or the source's result of taking the
 * fingerprint (the cache stays off then).
 */
QXSYMCORE_API QXSymResult QXSymCore_SetCache(QXSymCoreHandle session, const char* directory);

/** What a session knows of its connection and of the controller's program. */
typedef struct QXSymCoreSessionState {
  uint32_t connected;      /**< 1 while the workspace is open, 0 while away. */
  uint32_t reserved;       /**< 0. */
  uint64_t reconnects;     /**< Times the workspace was opened again after a loss. */
  uint64_t online_changes; /**< Times the controller's program was seen to change. */
  uint64_t fingerprint;    /**< Hash of the program (see QXSymCore_SetReconnect); 0 until taken. */
  uint64_t retry_in_ms;    /**< While away: time until the next attempt to open again. */
} QXSymCoreSessionState;

/**
 * @brief A session's connection state and counts, without a request.
 *
 * The program counts as changed when the controller answers
 * symResInvalidHandle to a tag or group the session holds (the controller
 * loaded another program), or when the fingerprint taken after a reopen
 * differs from the one before. On a change the session drops its tags,
 * groups, types and layouts and learns them again as they are used; a
 * write through a path whose layout is no longer the one handed out
 * before the change is refused (see QXSymCore_Write).
 * @param session an open session.
 * @param state receives the state.
 * @return symResOk; symResInvalidParameter (state null); symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_SessionState(QXSymCoreHandle session,
                                                 QXSymCoreSessionState* state);

/**
 * @brief The version of the source's symbol service (one request).
 * @param session an open session.
 * @param version receives major, minor, revision and build.
 * @param full_support receives 1, or 0 when the service's version does not
 *                     support every function; may be null.
 * @return symResOk; symResInvalidParameter (version null);
 * symResInvalidHandle; or the source's result.
 */
QXSYMCORE_API QXSymResult QXSymCore_ServerVersion(QXSymCoreHandle session, uint8_t version[4],
                                                  uint32_t* full_support);

/* ---- Layouts and values -------------------------------------------------- */

/**
 * @brief The layout of a tag, member or element path.
 *
 * Paths name members with '.' and elements with their declared indices:
 * "Line.Main.Speed", "Temps[3]" (Temps declared ARRAY[1..8]), "Grid[1,2]".
 * Each type is asked for once per session.
 * @param session an open session.
 * @param path the path (UTF-8 as the source spells names).
 * @param layout receives the layout (the core's, see Memory).
 * @param message receives why it failed ("" on success); may be null.
 * @return symResOk; symResInvalidParameter (null pointers); symResInvalidHandle;
 * symResSymbolNotFound or symResInvalidArrayIndex from the source;
 * symResMaxReached when the type is nested too deeply, claims too many
 * members or holds too many values; or the source's result.
 */
QXSYMCORE_API QXSymResult QXSymCore_Describe(QXSymCoreHandle session, const char* path,
                                             const QXSymCoreLayout** layout, const char** message);

/**
 * @brief Read the values of a set of paths in one exchange.
 *
 * Every path gets an item, in order; the paths that can be read are
 * delivered even when others fail. A reply shorter than the values is an
 * error of every item read with it (symResInvalidTagSize).
 * @param session an open session.
 * @param paths count paths.
 * @param count number of paths (1 to 65536).
 * @param items receives count items (the core's, see Memory).
 * @return symResOk when every path was read; else the first item's failure
 * (items are delivered all the same); symResInvalidParameter (null
 * pointers, count 0 or above 65536; no items then); symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_Read(QXSymCoreHandle session, const char* const* paths,
                                         uint32_t count, const QXSymCoreReadItem** items);

/**
 * @brief Write a set of paths in one exchange.
 *
 * Each item gives every value of its path's layout. To write part of a
 * structure or array, name the parts ("Line.Speed", "Temps[3]"): only the
 * given leaves are written, each by its own path, and the bytes around them
 * stay as they are. Values are checked against their type first (ranges,
 * texts the encoding cannot carry, lengths in bytes); when one is refused
 * nothing is written. A path whose layout was handed out (by
 * QXSymCore_Describe, a read or a write) before the controller's program
 * changed, and is another now, is refused once with symResInvalidTagType
 * and a message saying the program changed, and nothing is written; the
 * refusal hands out the new layout (see QXSymCore_Describe), so the next
 * write of the path is checked against it. A write is never tried again by
 * the core.
 * @param session an open session.
 * @param items count items.
 * @param count number of items (1 to 65536).
 * @param results receives count results (the core's, see Memory); may be null.
 * @return symResOk; the first failure (symResInvalidParameter for a refused
 * value or a wrong number of values, symResInvalidTagType for a layout
 * from before a program change, the source's result otherwise);
 * symResInvalidParameter (null pointers, count 0 or above 65536);
 * symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_Write(QXSymCoreHandle session, const QXSymCoreWriteItem* items,
                                          uint32_t count, const QXSymCoreWriteResult** results);

/**
 * @brief The description of a tag, member or element.
 * @param session an open session.
 * @param path the path.
 * @param text receives the description, "" when there is none (the core's,
 *             see Memory).
 * @return symResOk; symResInvalidParameter (null pointers);
 * symResInvalidHandle; or the source's result (symResSymbolNotFound).
 */
QXSYMCORE_API QXSymResult QXSymCore_Description(QXSymCoreHandle session, const char* path,
                                                const char** text);

/**
 * @brief One attribute of a tag, member or element (a unit, a range, an I/O address).
 * @param session an open session.
 * @param path the path.
 * @param name the attribute's name.
 * @param text receives its text (the core's, see Memory).
 * @return symResOk; symResInvalidParameter (null pointers, or a name the
 * session's encoding cannot spell or longer than 259 bytes);
 * symResInvalidHandle; symResAttributeNotFound; or the source's result.
 */
QXSYMCORE_API QXSymResult QXSymCore_Attribute(QXSymCoreHandle session, const char* path,
                                              const char* name, const char** text);

/**
 * @brief A value typed by a person, for a leaf of basic type tyvar.
 *
 * Integers in decimal or as IEC literals (2\#1010, 8\#17, 16\#FF), BOOL as
 * TRUE/FALSE/1/0, REAL and LREAL as decimal numbers, STRING as the text
 * itself. Ranges are checked when the value is written.
 * @param tyvar the leaf's basic variable type.
 * @param text the text (UTF-8).
 * @param value receives the value; its data stays valid until the next call
 *              of this function on the same thread.
 * @param message receives why the text was refused ("" on success); may be null.
 * @return symResOk; symResInvalidParameter (null pointers, or the text is
 * not a value of the type).
 */
QXSYMCORE_API QXSymResult QXSymCore_ParseLeafText(uint32_t tyvar, const char* text,
                                                  QXSymCoreValue* value, const char** message);

/**
 * @brief A value as text for people (numbers in decimal, TRUE/FALSE, texts
 * as they are, bytes in hex).
 * @param value the value.
 * @param text receives the text, valid until the next call of this function
 *             on the same thread.
 * @return symResOk; symResInvalidParameter (null pointers or an unknown kind).
 */
QXSYMCORE_API QXSymResult QXSymCore_FormatValue(const QXSymCoreValue* value, const char** text);

/**
 * @brief The value kind a leaf of basic type tyvar reads as.
 * @param tyvar a basic variable type (QXSymTyVar).
 * @return a _QXSymCoreValueKind (QXSymCoreBytes for types read as bytes).
 */
QXSYMCORE_API uint32_t QXSymCore_KindOf(uint32_t tyvar);

/**
 * @brief Decode the bytes of one leaf value, by the rules of QXSymCore_Read.
 * @param tyvar the leaf's basic variable type.
 * @param data size bytes, little-endian; may be null when size is 0.
 * @param size bytes of the leaf.
 * @param encoding a _QXSymCoreEncoding for texts.
 * @param value receives the value; its data stays valid until the next call
 *              of this function on the same thread.
 * @param message receives why it failed ("" on success); may be null.
 * @return symResOk; symResInvalidParameter (null pointers, an unknown
 * encoding); symResInvalidTagSize (fewer bytes than the type's width).
 */
QXSYMCORE_API QXSymResult QXSymCore_DecodeLeaf(uint32_t tyvar, const uint8_t* data, uint32_t size,
                                               uint32_t encoding, QXSymCoreValue* value,
                                               const char** message);

/**
 * @brief Encode one leaf value into exactly size bytes, by the rules of
 * QXSymCore_Write (ranges, texts the encoding cannot carry, lengths in bytes).
 * @param tyvar the leaf's basic variable type.
 * @param value the value.
 * @param size bytes of the leaf.
 * @param encoding a _QXSymCoreEncoding for texts.
 * @param bytes receives size bytes; may be null when size is 0.
 * @param message receives why it was refused ("" on success), valid until
 *                the next call of this function on the same thread; may be null.
 * @return symResOk; symResInvalidParameter (null pointers, an unknown
 * encoding, a refused value); symResInvalidTagSize (size below the type's width).
 */
QXSYMCORE_API QXSymResult QXSymCore_EncodeLeaf(uint32_t tyvar, const QXSymCoreValue* value,
                                               uint32_t size, uint32_t encoding, uint8_t* bytes,
                                               const char** message);

/* ---- Listing ------------------------------------------------------------- */

/**
 * @brief Start listing the tags that match a filter.
 * @param session an open session.
 * @param filter '*' any run, '?' one character; null or "" lists every tag.
 * @param flags QXSYMCORE_LIST_DETAILS and QXSYMCORE_LIST_DESCRIPTIONS, ORed.
 * @param connections 1 to 8 connections to list over; 0 takes the session's.
 * @param listing receives the handle; release it with QXSymCore_ListEnd.
 * @return symResOk; symResInvalidParameter (listing null, unknown flags,
 * connections above 8); symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_ListBegin(QXSymCoreHandle session, const char* filter,
                                              uint32_t flags, uint32_t connections,
                                              QXSymCoreHandle* listing);

/**
 * @brief The next batch of tags, each tag once over the whole listing.
 * @param listing an open listing.
 * @param tags receives the batch (the core's, see Memory).
 * @param count receives the batch's size (0 only at the end).
 * @param done receives 1 once the listing is complete, else 0.
 * @return symResOk; symResInvalidParameter (null pointers);
 * symResInvalidHandle; symResBufferOverflow when the source's counts never
 * add up; or the source's result.
 */
QXSYMCORE_API QXSymResult QXSymCore_ListNext(QXSymCoreHandle listing, const QXSymCoreTagInfo** tags,
                                             uint32_t* count, uint32_t* done);

/**
 * @brief End a listing and close the connections it opened.
 * @param listing an open listing; invalid afterwards.
 * @return symResOk, or symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_ListEnd(QXSymCoreHandle listing);

/* ---- Subscriptions ------------------------------------------------------- */

#define QXSYMCORE_MAX_SUBSCRIBED_VALUES 65536 /**< Most leaf values of one subscription. */
#define QXSYMCORE_MAX_SUBSCRIBED_PARTS 8192   /**< Most group members of one subscription. */
#define QXSYMCORE_MAX_INTERVAL_MS 86400000    /**< Longest interval and heartbeat (a day). */

/** What a subscription event tells. */
enum _QXSymCoreEventKind {
  QXSymCoreEventChange = 1,         /**< A leaf value to tell: changed, heartbeat, stale or bad. */
  QXSymCoreEventCycle = 2,          /**< A poll completed. */
  QXSymCoreEventOverrun = 3,        /**< A poll ended after the next tick; ticks were skipped. */
  QXSymCoreEventConnectionLost = 4, /**< The connection was lost (result says how); once. */
  QXSymCoreEventConnectionBack = 5, /**< The session opened the workspace again. */
  QXSymCoreEventOnlineChange = 6    /**< The controller's program changed; paths looked up again. */
};

/** How far a value of an event can be trusted. */
enum _QXSymCoreStatus {
  QXSymCoreGood = 0,  /**< Read from the controller in this poll. */
  QXSymCoreStale = 1, /**< The controller does not answer; the value is the last one told. */
  QXSymCoreBad = 2    /**< The value cannot be read (result says why); no value. */
};

/** How a subscription polls and when it tells a value. */
typedef struct QXSymCoreSubscribeOptions {
  uint32_t interval_ms;    /**< Time between polls, 1 to QXSYMCORE_MAX_INTERVAL_MS. */
  uint32_t heartbeat_ms;   /**< Tell every leaf at least this often; 0: no heartbeat. */
  double deadband;         /**< Absolute deadband of numbers; 0 or below: any change. */
  const double* deadbands; /**< Null, or one deadband per path, replacing deadband. */
} QXSymCoreSubscribeOptions;

/** One event of a subscription; times in microseconds (us). */
typedef struct QXSymCoreEvent {
  uint32_t kind;           /**< A _QXSymCoreEventKind. */
  uint32_t status;         /**< A _QXSymCoreStatus (of the value, or of the poll's exchange). */
  int32_t result;          /**< symResOk, or why the value is stale or bad / the poll failed. */
  uint32_t has_previous;   /**< 1 when previous holds the value told before. */
  const char* path;        /**< Change: the leaf value's path ("Temps[3]"); else "". */
  QXSymCoreValue value;    /**< Change: the value (kind QXSymCoreNone when there is none). */
  QXSymCoreValue previous; /**< Change: the value told before, when has_previous. */
  int64_t timestamp_us;    /**< When the poll's reply arrived: UTC, us since the Unix epoch. */
  uint64_t duration_us;    /**< Cycle: how long the poll took, in us. */
  uint64_t late_us;        /**< Overrun: from the first missed tick to the poll's end, in us. */
  uint64_t missed;         /**< Overrun: ticks skipped. */
} QXSymCoreEvent;

/**
 * @brief Subscribe to a set of paths, polled together.
 *
 * Each path is a tag, member or element; structures and arrays expand to
 * their leaf values, each named by its own path ("Line.Main.Speed",
 * "Temps[3]", "Grid[1,2]" with the declared indices). All values travel
 * in one group exchange per poll. A leaf value is told (an event of kind
 * QXSymCoreEventChange) on the first poll; when it differs from the last
 * value told by more than its deadband (numbers) or at all (BOOL, texts,
 * bytes); once per heartbeat while it stays; once as stale when the
 * controller stops answering (then nothing until it answers again, when it
 * is told good with its value); and once as bad when it cannot be read for
 * a reason of its own, while the others go on. A path that does not
 * resolve is taken all the same, told bad under its own name, left out of
 * the polls and tried again every 10 s. Every poll ends with a
 * QXSymCoreEventCycle event; one that ends after the next tick, or begins
 * after ticks that nobody waited for, adds a QXSymCoreEventOverrun event.
 * Polls keep to the ticks t0 + k * interval_ms, t0 being the first wait;
 * ticks missed are skipped, never made up.
 *
 * With reconnecting on (QXSymCore_SetReconnect), a lost connection is told
 * once by a QXSymCoreEventConnectionLost event, and every leaf once as
 * stale; the wait wakes at the session's attempts to open again, and the
 * poll that finds the workspace open again tells QXSymCoreEventConnectionBack,
 * then the values as read. When the controller's program changed (see
 * QXSymCore_SessionState), a QXSymCoreEventOnlineChange event comes first,
 * every path is described again and the poll's read is made once more: a
 * path that is gone is told bad under its own name (and tried again every
 * 10 s), one laid out anew is told by its new leaves, the others go on.
 *
 * Describing the paths takes the exchanges of QXSymCore_Describe, on the
 * calling thread; nothing is polled before the first wait.
 * @param session an open session.
 * @param paths count paths (UTF-8), each given once.
 * @param count number of paths (1 to 65536).
 * @param options the interval, deadbands and heartbeat; read only during the call.
 * @param subscription receives the handle; release it with QXSymCore_Unsubscribe.
 * @return symResOk; symResInvalidParameter (null pointers, count 0 or above
 * 65536, a path given twice, an interval of 0 or above a day, a heartbeat
 * above a day, a deadband that is not a number); symResInvalidHandle;
 * symResMaxReached (more than QXSYMCORE_MAX_SUBSCRIBED_VALUES values or
 * QXSYMCORE_MAX_SUBSCRIBED_PARTS group members: one per tag, member or
 * array element path, and one per element of an array of a basic type);
 * the source's result when the controller does not answer
 * (symResTimeoutError, symResSocketError, symResConnectionLost).
 */
QXSYMCORE_API QXSymResult QXSymCore_Subscribe(QXSymCoreHandle session, const char* const* paths,
                                              uint32_t count,
                                              const QXSymCoreSubscribeOptions* options,
                                              QXSymCoreHandle* subscription);

/**
 * @brief Run the subscription's due polls on the calling thread until it
 * has events to tell or timeout_ms passes.
 *
 * A poll is due at once on the first wait, then at every tick. A poll uses
 * the session: other calls on the session take turns with it, and a poll
 * once begun runs to its end (at most the session's time-outs of one group
 * exchange, plus QXSymCore_Describe of a path tried again). Between polls
 * the session is free. One thread at a time waits on the subscriptions of
 * one session: a wait that finds another thread waiting on the same session
 * waits for it to return first, within its own timeout_ms. Unsubscribing,
 * or closing the session, from another thread wakes the waiter, which
 * returns symResInvalidHandle.
 * @param subscription an open subscription.
 * @param timeout_ms longest wait in ms; 0 runs a due poll, if any, and returns.
 * @param events receives the events of one poll (the core's, valid until
 *               the next call with this subscription or its release); null
 *               when there are none.
 * @param count receives their number: 0 when timeout_ms passed first, else
 *              at most one per leaf value and per unresolved path, plus the
 *              cycle and overrun events (twice that, and the connection and
 *              online change events, in the poll that follows a reopen or
 *              a program change).
 * @return symResOk (also when the time ran out); symResInvalidParameter
 * (null pointers); symResInvalidHandle (not open, or released during the
 * wait).
 */
QXSYMCORE_API QXSymResult QXSymCore_SubscriptionWait(QXSymCoreHandle subscription,
                                                     uint32_t timeout_ms,
                                                     const QXSymCoreEvent** events,
                                                     uint32_t* count);

/**
 * @brief End a subscription; a thread waiting on it returns symResInvalidHandle.
 *
 * Waits for a poll that is running to end. Closing the session ends its
 * subscriptions as well.
 * @param subscription an open subscription; invalid afterwards.
 * @return symResOk, or symResInvalidHandle.
 */
QXSYMCORE_API QXSymResult QXSymCore_Unsubscribe(QXSymCoreHandle subscription);

/* ---- Result texts -------------------------------------------------------- */

/**
 * @brief The name of a result code ("symResTimeoutError"; "symRes?" when unknown).
 * @param code a QXSymResult.
 * @return a static text, never null.
 */
QXSYMCORE_API const char* QXSymCore_ResultName(int32_t code);

/**
 * @brief What a result code means, for people.
 * @param code a QXSymResult.
 * @return a static text, never null.
 */
QXSYMCORE_API const char* QXSymCore_ResultMessage(int32_t code);

/**
 * @brief What to do about a result code, for people.
 * @param code a QXSymResult.
 * @return a static text, never null.
 */
QXSYMCORE_API const char* QXSymCore_ResultAdvice(int32_t code);

/**
 * @brief What a failed QXSymCore_Open means, for people.
 *
 * A controller that accepts the connection and never answers fails the open
 * with symResSocketError after five waits of the time-out (the two
 * negotiations, each tried twice, then the open request); one that refuses
 * or closes the connection fails it at once with the same code. This tells
 * them apart by the time the open took.
 * @param code the result of QXSymCore_Open.
 * @param elapsed_ms how long the open took, in milliseconds.
 * @param timeout_ms the time-out given to the open (0: the default, 10 s).
 * @return "the controller does not answer" for a socket error after at least
 * one whole time-out, else QXSymCore_ResultMessage(code); static, never null.
 */
QXSYMCORE_API const char* QXSymCore_OpenFailureMessage(int32_t code, uint64_t elapsed_ms,
                                                       uint32_t timeout_ms);

#ifdef __cplusplus
}
#endif

#endif /* QXSYMCORE_H */
