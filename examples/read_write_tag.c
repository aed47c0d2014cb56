/*
 * Reads and writes tags of a controller: usage read_write_tag HOST PORT.
 * Against the simulator's demo model it lists the first tags, reads a
 * counter, an array element and a string, and writes the machine state.
 */
#include <stdio.h>
#include <stdlib.h>

#include "QXSymbols.h"
#include "example_util.h"

static int Fail(const char* what, QXSymResult r) {
  fprintf(stderr, "%s failed: result %d\n", what, r);
  return 1;
}

/* Prints "name : TYPE = value" for one tag handle. */
static void PrintTag(QXSymTagHandle tag) {
  char name[QXSYM_MAX_STRING], type_name[QXSYM_MAX_STRING], text[300];
  unsigned char value[256];
  uint16_t len = sizeof name, tlen = sizeof type_name;
  QXSymTyVar type = QXSymTyVarNull;
  uint32_t size = 0;
  QXSym_GetTagName(tag, name, &len);
  QXSym_GetTagDataType(tag, type_name, &tlen);
  QXSym_GetTagDataTypeVar(tag, &type);
  QXSym_GetTagDataSize(tag, &size);
  if (size <= sizeof value && QXSym_GetTagValue_Ptr(tag, value, sizeof value) == symResOk) {
    FormatValue(type, value, size, text, sizeof text);
  } else {
    snprintf(text, sizeof text, "(%u bytes)", (unsigned)size);
  }
  printf("  %-14s : %-22s = %s\n", name, type_name, text);
}

int main(int argc, char** argv) {
  QXSymServerAddress address = {symProtGDB_TCP, "127.0.0.1", 0, 3000};
  QXSymWorkspaceHandle ws = 0;
  QXSymTagHandle tag = 0, *tags = NULL;
  uint8_t major = 0, minor = 0, revision = 0, build = 0;
  uint32_t count = 0, i;
  int16_t state = 0, readback = 0;
  QXSymResult r;

  if (argc < 3) {
    fprintf(stderr, "usage: %s HOST PORT\n", argv[0]);
    return 2;
  }
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  address.port = (uint16_t)atoi(argv[2]);

  if ((r = QXSym_Init()) != symResOk) return Fail("QXSym_Init", r);
  r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r != symResOk && r != symResOkServerNotFullSupport) return Fail("QXSym_OpenWorkspace", r);
  QXSym_GetServerVersion(ws, &major, &minor, &revision, &build);
  printf("connected to %s:%u, symbol service %u.%u.%u.%u\n", address.ip, address.port, major, minor,
         revision, build);

  if ((r = QXSym_GetGlobalTags(ws, &tags, &count)) != symResOk)
    return Fail("QXSym_GetGlobalTags", r);
  printf("%u global tags; the first ones:\n", (unsigned)count);
  for (i = 0; i < count && i < 8; ++i) PrintTag(tags[i]);
  QXSym_FreeTagList(tags);

  printf("single tags and elements:\n");
  const char* names[] = {"CntDint", "Temps[3]", "Grid[1,2]", "Recipe.Name", "TotalEnergy"};
  for (i = 0; i < sizeof names / sizeof names[0]; ++i) {
    if ((r = QXSym_GetGlobalTag(ws, names[i], &tag)) != symResOk) return Fail(names[i], r);
    PrintTag(tag);
    QXSym_CloseTag(tag);
  }

  if ((r = QXSym_GetGlobalTag(ws, "MachineState", &tag)) != symResOk)
    return Fail("MachineState", r);
  QXSym_GetTagValue_Ptr(tag, &state, sizeof state);
  state = (int16_t)(state == 2 ? 1 : 2);
  if ((r = QXSym_SetTagValue_Ptr(tag, &state, sizeof state)) != symResOk)
    return Fail("write MachineState", r);
  QXSym_GetTagValue_Ptr(tag, &readback, sizeof readback);
  printf("wrote MachineState = %d, read back %d\n", state, readback);
  QXSym_CloseTag(tag);

  if ((r = QXSym_GetGlobalTag(ws, "SerialNumber", &tag)) != symResOk)
    return Fail("SerialNumber", r);
  r = QXSym_SetTagValue_Ptr(tag, "X", 2);
  printf("write to read-only SerialNumber: result %d (symResReadOnlyTag is %d)\n", r,
         symResReadOnlyTag);
  QXSym_CloseTag(tag);

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return readback == state && r == symResReadOnlyTag ? 0 : 1;
}
