/**
 * @file QXSymDirectAccess.h
 * @brief QXSymDirectAccessTable: the table of plain C functions through which a
 * host program serves its own symbols to the library in the same process.
 *
 * Open a workspace with protocol symProtDirectAccess and the table's address
 * in the first sizeof(void*) bytes of QXSymServerAddress::ip. The library
 * never writes to the table. Every entry returns a QXSymResult that the
 * library passes on unchanged; a null entry answers symResNotImplemented.
 * Entries are called outside the library's lock, possibly from several
 * threads at once: the host makes them thread-safe.
 *
 * Memory handed to the library is released by the library:
 *  - texts (char** outputs) must come from malloc; the library calls free;
 *  - identifier arrays (entries 7 and 54) must come from new uint32_t[];
 *    the library calls delete[]. Host and library share one C/C++ runtime.
 *
 * "ctx" is the workspace context issued by entry 0; "tag", "type" and
 * "group" are the identifiers issued by the host for those objects.
 */
#ifndef QXSYM_DIRECT_ACCESS_H
#define QXSYM_DIRECT_ACCESS_H

#include "QXSymbols.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Workspace entries ---- */
/** Entry 0: open a workspace; *ctx receives its context. */
typedef QXSymResult (*QXSymDA_Open)(uint32_t zero1, uint32_t selector, uint32_t zero2,
                                    uint32_t* ctx);
/** Entry 1: the host's version. */
typedef QXSymResult (*QXSymDA_GetServerVersion)(uint8_t* major, uint8_t* minor, uint8_t* revision,
                                                uint8_t* build);
/** Entries 2 and 3: close a workspace, or check that it is valid. */
typedef QXSymResult (*QXSymDA_Ctx)(uint32_t ctx);
/** Entry 6: find a tag by name; reports its identifier, basic type, data size and full size. */
typedef QXSymResult (*QXSymDA_GetGlobalTag)(uint32_t ctx, const char* name, uint32_t* tag,
                                            uint32_t* tyVar, uint32_t* dataSize,
                                            uint32_t* fullSize);
/** Entry 7: all tags; *tags from new uint32_t[] (the library calls delete[]). */
typedef QXSymResult (*QXSymDA_GetGlobalTags)(uint32_t ctx, uint32_t** tags, uint32_t* count);
/** Entries 8 and 47: number of tags, or a new group identifier. */
typedef QXSymResult (*QXSymDA_CtxU32)(uint32_t ctx, uint32_t* value);
/** Entry 54: tags matching a filter; *tags from new uint32_t[]. */
typedef QXSymResult (*QXSymDA_QueryGlobalTags)(uint32_t ctx, const char* filter, uint32_t** tags,
                                               uint32_t* count);
/** Entry 55: number of tags matching a filter. */
typedef QXSymResult (*QXSymDA_QueryGlobalTagsNum)(uint32_t ctx, const char* filter,
                                                  uint32_t* count);

/* ---- Entries on one object (tag, type or group identifier second) ---- */
/** Entries on one object: release a tag (9) or delete a group (48). */
typedef QXSymResult (*QXSymDA_Obj)(uint32_t ctx, uint32_t id);
/** A text of a tag or type; *text from malloc (the library calls free). */
typedef QXSymResult (*QXSymDA_ObjText)(uint32_t ctx, uint32_t id, char** text);
/** A number about a tag or type (type, sizes, type identifier, counts, properties). */
typedef QXSymResult (*QXSymDA_ObjU32)(uint32_t ctx, uint32_t id, uint32_t* value);
/** A flag of a tag or type (read-only, bit address, type predicates). */
typedef QXSymResult (*QXSymDA_ObjBool)(uint32_t ctx, uint32_t id, bool_t* answer);

/* ---- Tag entries ---- */
/** Entry 13: read size raw bytes from offset; *count receives the bytes read. */
typedef QXSymResult (*QXSymDA_TagGetRawValue)(uint32_t ctx, uint32_t tag, uint32_t offset,
                                              uint32_t size, void* buffer, uint32_t bufferSize,
                                              uint32_t* count);
/** Entry 14: write size raw bytes at offset; *count receives the bytes written. */
typedef QXSymResult (*QXSymDA_TagSetRawValue)(uint32_t ctx, uint32_t tag, uint32_t offset,
                                              uint32_t size, const void* data, uint32_t* count);
/** Entry 16: one attribute of a tag; *text from malloc. */
typedef QXSymResult (*QXSymDA_TagGetAttribute)(uint32_t ctx, uint32_t tag, const char* name,
                                               char** text);
/** Entry 21: a tag's three array dimensions. */
typedef QXSymResult (*QXSymDA_TagGetDims)(uint32_t ctx, uint32_t tag, uint32_t* dim1,
                                          uint32_t* dim2, uint32_t* dim3);
/* The host reports the full 64-bit address; the library narrows it to
 * qxsym_addr_t. bitOffset may be null. The two byte outputs are ignored. */
/** Entry 22: address and bit offset of a tag or element. */
typedef QXSymResult (*QXSymDA_TagGetArrayAddress)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3,
                                                  addr64_t* address, uint32_t* bitOffset,
                                                  uint8_t* reserved1, uint8_t* reserved2);
/** Entry 23: read one array element; *count receives the bytes read. */
typedef QXSymResult (*QXSymDA_TagGetArrayValue)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3, void* buffer,
                                                uint32_t size, uint32_t* count);
/** Entry 24: read a tag's value; *count receives the bytes read. */
typedef QXSymResult (*QXSymDA_TagGetValue)(uint32_t ctx, uint32_t tag, void* buffer, uint32_t size,
                                           uint32_t* count);
/** Entry 25: write one array element. */
typedef QXSymResult (*QXSymDA_TagSetArrayValue)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3, const void* data,
                                                uint32_t size);
/** Entry 26: write a tag's value. */
typedef QXSymResult (*QXSymDA_TagSetValue)(uint32_t ctx, uint32_t tag, const void* data,
                                           uint32_t size);

/* ---- Type entries ---- */
/** Entry 40: a child type by index. */
typedef QXSymResult (*QXSymDA_TypeGetChild)(uint32_t ctx, uint32_t type, uint32_t index,
                                            uint32_t* child);
/** Entry 41: a child type by name. */
typedef QXSymResult (*QXSymDA_TypeGetChildByName)(uint32_t ctx, uint32_t type, const char* name,
                                                  uint32_t* child);
/** Entry 42: a child's name; *text from malloc. */
typedef QXSymResult (*QXSymDA_TypeGetChildName)(uint32_t ctx, uint32_t type, uint32_t index,
                                                char** text);
/** Entry 44: one array dimension. */
typedef QXSymResult (*QXSymDA_TypeGetArrayDimension)(uint32_t ctx, uint32_t type, uint32_t index,
                                                     uint32_t* value);
/** Entry 45: all array dimensions, at most maxCount. */
typedef QXSymResult (*QXSymDA_TypeGetArrayDimensions)(uint32_t ctx, uint32_t type, uint32_t* values,
                                                      uint8_t maxCount);

/* ---- Group entries ---- */
/** Entry 49: add a tag to a group; *memberSize receives its value size. */
typedef QXSymResult (*QXSymDA_GroupAddTag)(uint32_t ctx, uint32_t group, uint32_t tag,
                                           uint32_t* memberSize);
/** Entry 50: remove a tag from a group. */
typedef QXSymResult (*QXSymDA_GroupRemoveTag)(uint32_t ctx, uint32_t group, uint32_t tag);
/** Entry 51: read all members' values into buffer, in the order added. */
typedef QXSymResult (*QXSymDA_GroupRead)(uint32_t ctx, uint32_t group, void* buffer, uint32_t size);
/** Entry 52: write all members' values from buffer, in the order added. */
typedef QXSymResult (*QXSymDA_GroupWrite)(uint32_t ctx, uint32_t group, const void* buffer,
                                          uint32_t size);

/** The table: 56 pointer-sized entries, numbered from 0 in this order. */
struct _QXSymDirectAccessTable {
  QXSymDA_Open Open;                                     /**< entry  0 */
  QXSymDA_GetServerVersion GetServerVersion;             /**< entry  1 */
  QXSymDA_Ctx Close;                                     /**< entry  2 */
  QXSymDA_Ctx IsValid;                                   /**< entry  3 */
  void* reserved4;                                       /**<  4: reserved, never called */
  void* reserved5;                                       /**<  5: reserved, never called */
  QXSymDA_GetGlobalTag GetGlobalTag;                     /**< entry  6 */
  QXSymDA_GetGlobalTags GetGlobalTags;                   /**< entry  7 */
  QXSymDA_CtxU32 GetGlobalTagsNum;                       /**< entry  8 */
  QXSymDA_Obj TagClose;                                  /**< entry  9 */
  QXSymDA_ObjText TagGetName;                            /**< entry 10 */
  QXSymDA_ObjText TagGetDataType;                        /**< entry 11 */
  QXSymDA_ObjU32 TagGetDataTypeVar;                      /**< entry 12 */
  QXSymDA_TagGetRawValue TagGetRawValue;                 /**< entry 13 */
  QXSymDA_TagSetRawValue TagSetRawValue;                 /**< entry 14 */
  QXSymDA_ObjText TagGetDescr;                           /**< entry 15 */
  QXSymDA_TagGetAttribute TagGetAttribute;               /**< entry 16 */
  QXSymDA_ObjU32 TagGetDataSize;                         /**< entry 17 */
  QXSymDA_ObjU32 TagGetDataFullSize;                     /**< entry 18 */
  QXSymDA_ObjBool TagIsReadOnly;                         /**< entry 19 */
  QXSymDA_ObjBool TagIsBitAddress;                       /**< entry 20 */
  QXSymDA_TagGetDims TagGetDims;                         /**< entry 21 */
  QXSymDA_TagGetArrayAddress TagGetArrayAddress;         /**< entry 22 */
  QXSymDA_TagGetArrayValue TagGetArrayValue;             /**< entry 23 */
  QXSymDA_TagGetValue TagGetValue;                       /**< entry 24 */
  QXSymDA_TagSetArrayValue TagSetArrayValue;             /**< entry 25 */
  QXSymDA_TagSetValue TagSetValue;                       /**< entry 26 */
  QXSymDA_ObjU32 TagGetType;                             /**< entry 27 */
  QXSymDA_ObjBool TypeIsBasic;                           /**< entry 28 */
  QXSymDA_ObjBool TypeIsComplex;                         /**< entry 29 */
  QXSymDA_ObjBool TypeIsString;                          /**< entry 30 */
  QXSymDA_ObjBool TypeIsArray;                           /**< entry 31 */
  QXSymDA_ObjBool TypeIsStruct;                          /**< entry 32 */
  QXSymDA_ObjBool TypeIsFunctionBlock;                   /**< entry 33 */
  QXSymDA_ObjBool TypeIsNumeric;                         /**< entry 34 */
  QXSymDA_ObjBool TypeIsSigned;                          /**< entry 35 */
  QXSymDA_ObjBool TypeIsInteger;                         /**< entry 36 */
  QXSymDA_ObjU32 TypeGetSize;                            /**< entry 37 */
  QXSymDA_ObjText TypeGetName;                           /**< entry 38 */
  QXSymDA_ObjU32 TypeGetNumChildren;                     /**< entry 39 */
  QXSymDA_TypeGetChild TypeGetChild;                     /**< entry 40 */
  QXSymDA_TypeGetChildByName TypeGetChildByName;         /**< entry 41 */
  QXSymDA_TypeGetChildName TypeGetChildName;             /**< entry 42 */
  QXSymDA_ObjU32 TypeGetArrayNumDimensions;              /**< entry 43 */
  QXSymDA_TypeGetArrayDimension TypeGetArrayDimension;   /**< entry 44 */
  QXSymDA_TypeGetArrayDimensions TypeGetArrayDimensions; /**< entry 45 */
  QXSymDA_ObjU32 TypeGetProperties;                      /**< entry 46 */
  QXSymDA_CtxU32 CreateGroup;                            /**< entry 47 */
  QXSymDA_Obj GroupDelete;                               /**< entry 48 */
  QXSymDA_GroupAddTag GroupAddTag;                       /**< entry 49 */
  QXSymDA_GroupRemoveTag GroupRemoveTag;                 /**< entry 50 */
  QXSymDA_GroupRead GroupRead;                           /**< entry 51 */
  QXSymDA_GroupWrite GroupWrite;                         /**< entry 52 */
  void* reserved53;                                      /**< 53: reserved, never called */
  QXSymDA_QueryGlobalTags QueryGlobalTags;               /**< entry 54 */
  QXSymDA_QueryGlobalTagsNum QueryGlobalTagsNum;         /**< entry 55 */
};
typedef struct _QXSymDirectAccessTable QXSymDirectAccessTable; /**< See _QXSymDirectAccessTable. */

#define QXSYM_DIRECT_ACCESS_ENTRIES 56 /**< Number of entries of the table. */

#if defined(__cplusplus)
static_assert(sizeof(QXSymDirectAccessTable) == QXSYM_DIRECT_ACCESS_ENTRIES * sizeof(void*),
              "56 pointer-sized entries");
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
_Static_assert(sizeof(QXSymDirectAccessTable) == QXSYM_DIRECT_ACCESS_ENTRIES * sizeof(void*),
               "56 pointer-sized entries");
#endif

#ifdef __cplusplus
}
#endif

#endif /* QXSYM_DIRECT_ACCESS_H */
