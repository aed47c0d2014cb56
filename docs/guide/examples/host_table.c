/* A host program serving one variable of its own to the library in-process,
 * then using it like any client. The entries left null answer
 * symResNotImplemented. */
#include <QXSymDirectAccess.h>
#include <QXSymbols.h>
#include <stdio.h>
#include <string.h>

static int32_t speed = 1450; /* the host's variable, served as tag "Speed" (id 1) */
enum { kContext = 1, kSpeedId = 1 };

static QXSymResult Open(uint32_t zero1, uint32_t selector, uint32_t zero2, uint32_t* ctx) {
  (void)zero1, (void)selector, (void)zero2;
  *ctx = kContext;
  return symResOk;
}
static QXSymResult Version(uint8_t* major, uint8_t* minor, uint8_t* revision, uint8_t* build) {
  *major = 3, *minor = 0, *revision = 1, *build = 0; /* major 3 is required */
  return symResOk;
}
static QXSymResult Close(uint32_t ctx) {
  return ctx == kContext ? symResOk : symResInvalidWorkspace;
}
static QXSymResult GetGlobalTag(uint32_t ctx, const char* name, uint32_t* tag, uint32_t* tyVar,
                                uint32_t* dataSize, uint32_t* fullSize) {
  if (ctx != kContext) return symResInvalidWorkspace;
  if (strcmp(name, "Speed") != 0) return symResSymbolNotFound;
  *tag = kSpeedId;
  *tyVar = QXSymTyVarDInt;
  *dataSize = *fullSize = sizeof speed;
  return symResOk;
}
static QXSymResult TagClose(uint32_t ctx, uint32_t id) {
  return ctx == kContext && id == kSpeedId ? symResOk : symResInvalidHandle;
}
static QXSymResult GetValue(uint32_t ctx, uint32_t id, void* buffer, uint32_t size,
                            uint32_t* count) {
  if (ctx != kContext || id != kSpeedId) return symResInvalidHandle;
  if (size < sizeof speed) return symResInvalidBuffer;
  memcpy(buffer, &speed, sizeof speed);
  *count = sizeof speed;
  return symResOk;
}
static QXSymResult SetValue(uint32_t ctx, uint32_t id, const void* data, uint32_t size) {
  if (ctx != kContext || id != kSpeedId) return symResInvalidHandle;
  if (size != sizeof speed) return symResInvalidTagSize;
  memcpy(&speed, data, sizeof speed);
  return symResOk;
}

int main(void) {
  /* Static: the table must outlive every workspace opened on it. */
  static QXSymDirectAccessTable table;
  table.Open = Open;
  table.GetServerVersion = Version;
  table.Close = Close;
  table.IsValid = Close;
  table.GetGlobalTag = GetGlobalTag;
  table.TagClose = TagClose;
  table.TagGetValue = GetValue;
  table.TagSetValue = SetValue;

  QXSymServerAddress address = {symProtDirectAccess, "", 0, 0};
  const QXSymDirectAccessTable* table_ptr = &table;
  memcpy(address.ip, &table_ptr, sizeof table_ptr); /* the table's address goes into ip */

  QXSymWorkspaceHandle ws;
  QXSymTagHandle tag;
  int32_t value = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;
  if (QXSym_GetGlobalTag(ws, "Speed", &tag) != symResOk) return 1;
  QXSym_GetTagValue_Ptr(tag, &value, sizeof value);
  printf("Speed = %d\n", (int)value);
  value = 1500;
  QXSym_SetTagValue_Ptr(tag, &value, sizeof value);
  printf("after the write the host's variable is %d\n", (int)speed);
  char text[64];
  uint16_t len = sizeof text;
  QXSymResult none = QXSym_GetTagDescr(tag, text, &len);
  printf("description: %s\n", none == symResNotImplemented ? "not served by this host" : text);

  QXSym_CloseTag(tag);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return speed == 1500 ? 0 : 1;
}
