/*
 * A host program that serves its own variables to the library through a
 * direct-access table, then uses the library on them like any client.
 *
 * Only the entries this host supports are filled; the library answers
 * symResNotImplemented for the others. Texts handed to the library come from
 * malloc (the library frees them).
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "QXSymDirectAccess.h"
#include "QXSymbols.h"

/* The host's variables. */
static int32_t counter = 41;
static float temperature = 21.5f;
static bool_t running = 1;

struct HostVar {
  const char* name;
  const char* type_name;
  QXSymTyVar type;
  void* value;
  uint32_t size;
  bool_t read_only;
};

static struct HostVar vars[] = {
    {"counter", "DINT", QXSymTyVarDInt, &counter, sizeof counter, 0},
    {"temperature", "REAL", QXSymTyVarReal, &temperature, sizeof temperature, 1},
    {"running", "BOOL", QXSymTyVarBool, &running, sizeof running, 0},
};
#define VAR_COUNT (sizeof vars / sizeof vars[0])
#define CONTEXT 7u

/* Identifiers are the index + 1, so 0 never names a variable. */
static struct HostVar* Var(uint32_t ctx, uint32_t id) {
  if (ctx != CONTEXT || id == 0 || id > VAR_COUNT) return NULL;
  return &vars[id - 1];
}

static char* Dup(const char* s) {
  char* p = malloc(strlen(s) + 1);
  if (p) strcpy(p, s);
  return p;
}

static QXSymResult Open(uint32_t z1, uint32_t selector, uint32_t z2, uint32_t* ctx) {
  (void)z1, (void)selector, (void)z2;
  *ctx = CONTEXT;
  return symResOk;
}
static QXSymResult Version(uint8_t* major, uint8_t* minor, uint8_t* revision, uint8_t* build) {
  *major = 3, *minor = 0, *revision = 1, *build = 0;
  return symResOk;
}
static QXSymResult Close(uint32_t ctx) {
  return ctx == CONTEXT ? symResOk : symResInvalidWorkspace;
}
static QXSymResult GetGlobalTag(uint32_t ctx, const char* name, uint32_t* tag, uint32_t* tyVar,
                                uint32_t* dataSize, uint32_t* fullSize) {
  uint32_t i;
  if (ctx != CONTEXT) return symResInvalidWorkspace;
  for (i = 0; i < VAR_COUNT; ++i) {
    if (strcmp(vars[i].name, name) == 0) {
      *tag = i + 1;
      *tyVar = (uint32_t)vars[i].type;
      *dataSize = *fullSize = vars[i].size;
      return symResOk;
    }
  }
  return symResSymbolNotFound;
}
static QXSymResult Count(uint32_t ctx, uint32_t* count) {
  if (ctx != CONTEXT) return symResInvalidWorkspace;
  *count = VAR_COUNT;
  return symResOk;
}
static QXSymResult TagClose(uint32_t ctx, uint32_t id) {
  return Var(ctx, id) ? symResOk : symResInvalidHandle;
}
static QXSymResult TagName(uint32_t ctx, uint32_t id, char** text) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  *text = Dup(v->name);
  return *text ? symResOk : symResMemoryAllocError;
}
static QXSymResult TagTypeName(uint32_t ctx, uint32_t id, char** text) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  *text = Dup(v->type_name);
  return *text ? symResOk : symResMemoryAllocError;
}
static QXSymResult TagSize(uint32_t ctx, uint32_t id, uint32_t* size) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  *size = v->size;
  return symResOk;
}
static QXSymResult TagReadOnly(uint32_t ctx, uint32_t id, bool_t* answer) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  *answer = v->read_only;
  return symResOk;
}
static QXSymResult TagGetValue(uint32_t ctx, uint32_t id, void* buffer, uint32_t size,
                               uint32_t* count) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  if (size < v->size) return symResInvalidBuffer;
  memcpy(buffer, v->value, v->size);
  if (count) *count = v->size;
  return symResOk;
}
static QXSymResult TagSetValue(uint32_t ctx, uint32_t id, const void* data, uint32_t size) {
  struct HostVar* v = Var(ctx, id);
  if (!v) return symResInvalidHandle;
  if (v->read_only) return symResReadOnlyTag;
  if (size != v->size) return symResInvalidTagSize;
  memcpy(v->value, data, size);
  return symResOk;
}

int main(void) {
  QXSymDirectAccessTable table;
  QXSymServerAddress address;
  QXSymWorkspaceHandle ws = 0;
  QXSymTagHandle tag = 0;
  QXSymResult r;
  const QXSymDirectAccessTable* table_ptr = &table;
  int32_t value = 0;
  uint32_t count = 0;
  float t = 0;
  char name[QXSYM_MAX_STRING];
  uint16_t length = sizeof name;

  memset(&table, 0, sizeof table);
  table.Open = Open;
  table.GetServerVersion = Version;
  table.Close = Close;
  table.IsValid = Close;
  table.GetGlobalTag = GetGlobalTag;
  table.GetGlobalTagsNum = Count;
  table.TagClose = TagClose;
  table.TagGetName = TagName;
  table.TagGetDataType = TagTypeName;
  table.TagGetDataSize = TagSize;
  table.TagGetDataFullSize = TagSize;
  table.TagIsReadOnly = TagReadOnly;
  table.TagGetValue = TagGetValue;
  table.TagSetValue = TagSetValue;

  memset(&address, 0, sizeof address);
  address.protocol = symProtDirectAccess;
  memcpy(address.ip, &table_ptr, sizeof table_ptr);

  if (QXSym_Init() != symResOk) return 1;
  r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r != symResOk) {
    fprintf(stderr, "open failed: %d\n", r);
    return 1;
  }
  QXSym_GetGlobalTagsNum(ws, &count);
  printf("host table serves %u tags\n", (unsigned)count);

  if (QXSym_GetGlobalTag(ws, "counter", &tag) != symResOk) return 1;
  QXSym_GetTagName(tag, name, &length);
  QXSym_GetTagValue_Ptr(tag, &value, sizeof value);
  printf("%s = %d\n", name, (int)value);
  value += 1;
  r = QXSym_SetTagValue_Ptr(tag, &value, sizeof value);
  printf("write %d: result %d, host variable now %d\n", (int)value, r, (int)counter);
  QXSym_CloseTag(tag);

  if (QXSym_GetGlobalTag(ws, "temperature", &tag) != symResOk) return 1;
  QXSym_GetTagValue_Ptr(tag, &t, sizeof t);
  r = QXSym_SetTagValue_Ptr(tag, &t, sizeof t);
  printf("temperature = %.1f (write refused: result %d)\n", t, r);
  QXSym_CloseTag(tag);

  r = QXSym_GetGlobalTag(ws, "missing", &tag);
  printf("lookup of an unknown name: result %d\n", r);

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return counter == 42 && r == symResSymbolNotFound ? 0 : 1;
}
