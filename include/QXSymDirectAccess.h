/*
 * QXSymDirectAccessTable: the table of plain C functions through which a
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
typedef QXSymResult (*QXSymDA_Open)(uint32_t zero1, uint32_t selector, uint32_t zero2,
                                    uint32_t* ctx);
typedef QXSymResult (*QXSymDA_GetServerVersion)(uint8_t* major, uint8_t* minor, uint8_t* revision,
                                                uint8_t* build);
typedef QXSymResult (*QXSymDA_Ctx)(uint32_t ctx);
typedef QXSymResult (*QXSymDA_GetGlobalTag)(uint32_t ctx, const char* name, uint32_t* tag,
                                            uint32_t* tyVar, uint32_t* dataSize,
                                            uint32_t* fullSize);
typedef QXSymResult (*QXSymDA_GetGlobalTags)(uint32_t ctx, uint32_t** tags, uint32_t* count);
typedef QXSymResult (*QXSymDA_CtxU32)(uint32_t ctx, uint32_t* value);
typedef QXSymResult (*QXSymDA_QueryGlobalTags)(uint32_t ctx, const char* filter, uint32_t** tags,
                                               uint32_t* count);
typedef QXSymResult (*QXSymDA_QueryGlobalTagsNum)(uint32_t ctx, const char* filter,
                                                  uint32_t* count);

/* ---- Entries on one object (tag, type or group identifier second) ---- */
typedef QXSymResult (*QXSymDA_Obj)(uint32_t ctx, uint32_t id);
typedef QXSymResult (*QXSymDA_ObjText)(uint32_t ctx, uint32_t id, char** text);
typedef QXSymResult (*QXSymDA_ObjU32)(uint32_t ctx, uint32_t id, uint32_t* value);
typedef QXSymResult (*QXSymDA_ObjBool)(uint32_t ctx, uint32_t id, bool_t* answer);

/* ---- Tag entries ---- */
typedef QXSymResult (*QXSymDA_TagGetRawValue)(uint32_t ctx, uint32_t tag, uint32_t offset,
                                              uint32_t size, void* buffer, uint32_t bufferSize,
                                              uint32_t* count);
typedef QXSymResult (*QXSymDA_TagSetRawValue)(uint32_t ctx, uint32_t tag, uint32_t offset,
                                              uint32_t size, const void* data, uint32_t* count);
typedef QXSymResult (*QXSymDA_TagGetAttribute)(uint32_t ctx, uint32_t tag, const char* name,
                                               char** text);
typedef QXSymResult (*QXSymDA_TagGetDims)(uint32_t ctx, uint32_t tag, uint32_t* dim1,
                                          uint32_t* dim2, uint32_t* dim3);
/* The host reports the full 64-bit address; the library narrows it to
 * qxsym_addr_t. bitOffset may be null. The two byte outputs are ignored. */
typedef QXSymResult (*QXSymDA_TagGetArrayAddress)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                  uint32_t index2, uint32_t index3,
                                                  addr64_t* address, uint32_t* bitOffset,
                                                  uint8_t* reserved1, uint8_t* reserved2);
typedef QXSymResult (*QXSymDA_TagGetArrayValue)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3, void* buffer,
                                                uint32_t size, uint32_t* count);
typedef QXSymResult (*QXSymDA_TagGetValue)(uint32_t ctx, uint32_t tag, void* buffer, uint32_t size,
                                           uint32_t* count);
typedef QXSymResult (*QXSymDA_TagSetArrayValue)(uint32_t ctx, uint32_t tag, uint32_t index1,
                                                uint32_t index2, uint32_t index3, const void* data,
                                                uint32_t size);
typedef QXSymResult (*QXSymDA_TagSetValue)(uint32_t ctx, uint32_t tag, const void* data,
                                           uint32_t size);

/* ---- Type entries ---- */
typedef QXSymResult (*QXSymDA_TypeGetChild)(uint32_t ctx, uint32_t type, uint32_t index,
                                            uint32_t* child);
typedef QXSymResult (*QXSymDA_TypeGetChildByName)(uint32_t ctx, uint32_t type, const char* name,
                                                  uint32_t* child);
typedef QXSymResult (*QXSymDA_TypeGetChildName)(uint32_t ctx, uint32_t type, uint32_t index,
                                                char** text);
typedef QXSymResult (*QXSymDA_TypeGetArrayDimension)(uint32_t ctx, uint32_t type, uint32_t index,
                                                     uint32_t* value);
typedef QXSymResult (*QXSymDA_TypeGetArrayDimensions)(uint32_t ctx, uint32_t type, uint32_t* values,
                                                      uint8_t maxCount);

/* ---- Group entries ---- */
typedef QXSymResult (*QXSymDA_GroupAddTag)(uint32_t ctx, uint32_t group, uint32_t tag,
                                           uint32_t* memberSize);
typedef QXSymResult (*QXSymDA_GroupRemoveTag)(uint32_t ctx, uint32_t group, uint32_t tag);
typedef QXSymResult (*QXSymDA_GroupRead)(uint32_t ctx, uint32_t group, void* buffer, uint32_t size);
typedef QXSymResult (*QXSymDA_GroupWrite)(uint32_t ctx, uint32_t group, const void* buffer,
                                          uint32_t size);

/* The table: 56 pointer-sized entries, numbered from 0 in this order. */
struct _QXSymDirectAccessTable {
  QXSymDA_Open Open;                                     /*  0 */
  QXSymDA_GetServerVersion GetServerVersion;             /*  1 */
  QXSymDA_Ctx Close;                                     /*  2 */
  QXSymDA_Ctx IsValid;                                   /*  3 */
  void* reserved4;                                       /*  4 never called */
  void* reserved5;                                       /*  5 never called */
  QXSymDA_GetGlobalTag GetGlobalTag;                     /*  6 */
  QXSymDA_GetGlobalTags GetGlobalTags;                   /*  7 */
  QXSymDA_CtxU32 GetGlobalTagsNum;                       /*  8 */
  QXSymDA_Obj TagClose;                                  /*  9 */
  QXSymDA_ObjText TagGetName;                            /* 10 */
  QXSymDA_ObjText TagGetDataType;                        /* 11 */
  QXSymDA_ObjU32 TagGetDataTypeVar;                      /* 12 */
  QXSymDA_TagGetRawValue TagGetRawValue;                 /* 13 */
  QXSymDA_TagSetRawValue TagSetRawValue;                 /* 14 */
  QXSymDA_ObjText TagGetDescr;                           /* 15 */
  QXSymDA_TagGetAttribute TagGetAttribute;               /* 16 */
  QXSymDA_ObjU32 TagGetDataSize;                         /* 17 */
  QXSymDA_ObjU32 TagGetDataFullSize;                     /* 18 */
  QXSymDA_ObjBool TagIsReadOnly;                         /* 19 */
  QXSymDA_ObjBool TagIsBitAddress;                       /* 20 */
  QXSymDA_TagGetDims TagGetDims;                         /* 21 */
  QXSymDA_TagGetArrayAddress TagGetArrayAddress;         /* 22 */
  QXSymDA_TagGetArrayValue TagGetArrayValue;             /* 23 */
  QXSymDA_TagGetValue TagGetValue;                       /* 24 */
  QXSymDA_TagSetArrayValue TagSetArrayValue;             /* 25 */
  QXSymDA_TagSetValue TagSetValue;                       /* 26 */
  QXSymDA_ObjU32 TagGetType;                             /* 27 */
  QXSymDA_ObjBool TypeIsBasic;                           /* 28 */
  QXSymDA_ObjBool TypeIsComplex;                         /* 29 */
  QXSymDA_ObjBool TypeIsString;                          /* 30 */
  QXSymDA_ObjBool TypeIsArray;                           /* 31 */
  QXSymDA_ObjBool TypeIsStruct;                          /* 32 */
  QXSymDA_ObjBool TypeIsFunctionBlock;                   /* 33 */
  QXSymDA_ObjBool TypeIsNumeric;                         /* 34 */
  QXSymDA_ObjBool TypeIsSigned;                          /* 35 */
  QXSymDA_ObjBool TypeIsInteger;                         /* 36 */
  QXSymDA_ObjU32 TypeGetSize;                            /* 37 */
  QXSymDA_ObjText TypeGetName;                           /* 38 */
  QXSymDA_ObjU32 TypeGetNumChildren;                     /* 39 */
  QXSymDA_TypeGetChild TypeGetChild;                     /* 40 */
  QXSymDA_TypeGetChildByName TypeGetChildByName;         /* 41 */
  QXSymDA_TypeGetChildName TypeGetChildName;             /* 42 */
  QXSymDA_ObjU32 TypeGetArrayNumDimensions;              /* 43 */
  QXSymDA_TypeGetArrayDimension TypeGetArrayDimension;   /* 44 */
  QXSymDA_TypeGetArrayDimensions TypeGetArrayDimensions; /* 45 */
  QXSymDA_ObjU32 TypeGetProperties;                      /* 46 */
  QXSymDA_CtxU32 CreateGroup;                            /* 47 */
  QXSymDA_Obj GroupDelete;                               /* 48 */
  QXSymDA_GroupAddTag GroupAddTag;                       /* 49 */
  QXSymDA_GroupRemoveTag GroupRemoveTag;                 /* 50 */
  QXSymDA_GroupRead GroupRead;                           /* 51 */
  QXSymDA_GroupWrite GroupWrite;                         /* 52 */
  void* reserved53;                                      /* 53 never called */
  QXSymDA_QueryGlobalTags QueryGlobalTags;               /* 54 */
  QXSymDA_QueryGlobalTagsNum QueryGlobalTagsNum;         /* 55 */
};
typedef struct _QXSymDirectAccessTable QXSymDirectAccessTable;

#define QXSYM_DIRECT_ACCESS_ENTRIES 56

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
