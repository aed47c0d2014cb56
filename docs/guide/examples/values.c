/* Read and write values of each kind: the buffer is the tag's C type.
 * Usage: values HOST PORT */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static QXSymWorkspaceHandle ws;

/* Opens the tag, reads it into buffer, closes it. */
static QXSymResult Read(const char* name, void* buffer, uint32_t size) {
  QXSymTagHandle tag;
  QXSymResult r = QXSym_GetGlobalTag(ws, name, &tag);
  if (r != symResOk) return r;
  r = QXSym_GetTagValue_Ptr(tag, buffer, size);
  QXSym_CloseTag(tag);
  return r;
}

static QXSymResult Write(const char* name, const void* data, uint32_t size) {
  QXSymTagHandle tag;
  QXSymResult r = QXSym_GetGlobalTag(ws, name, &tag);
  if (r != symResOk) return r;
  r = QXSym_SetTagValue_Ptr(tag, data, size);
  QXSym_CloseTag(tag);
  return r;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 2000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;
  int failures = 0;

  bool_t door = 0;      /* BOOL: one byte */
  int16_t state = 0;    /* INT */
  uint16_t status = 0;  /* WORD */
  int64_t big = 0;      /* LINT */
  float32_t temp = 0;   /* REAL */
  float64_t energy = 0; /* LREAL */
  char serial[17];      /* STRING[16]: 16 characters and the terminator */
  failures += Read("DoorClosed", &door, sizeof door) != symResOk;
  failures += Read("MachineState", &state, sizeof state) != symResOk;
  failures += Read("StatusWord", &status, sizeof status) != symResOk;
  failures += Read("CntLint", &big, sizeof big) != symResOk;
  failures += Read("Temps[3]", &temp, sizeof temp) != symResOk; /* one element by path */
  failures += Read("TotalEnergy", &energy, sizeof energy) != symResOk;
  failures += Read("SerialNumber", serial, sizeof serial) != symResOk;
  printf("DoorClosed=%d MachineState=%d StatusWord=16#%04X CntLint=%lld\n", door, state, status,
         (long long)big);
  printf("Temps[3]=%.2f TotalEnergy=%.3f SerialNumber=%s\n", temp, energy, serial);

  state = 2;
  big = -9000000000000000000LL;
  char text[81] = "Smith"; /* STRING: the tag's full size, the rest zero */
  failures += Write("MachineState", &state, sizeof state) != symResOk;
  failures += Write("CntLint", &big, sizeof big) != symResOk;
  failures += Write("Operator", text, sizeof text) != symResOk;
  memset(text, 0, sizeof text);
  failures += Read("Operator", text, sizeof text) != symResOk;
  printf("Operator=%s\n", text);

  /* An array element by index: Grid is ARRAY[0..2, 0..3] OF INT. */
  QXSymTagHandle grid;
  int16_t cell = 42, back = 0;
  failures += QXSym_GetGlobalTag(ws, "Grid", &grid) != symResOk;
  failures += QXSym_SetTagArrayValue_Ptr(grid, 1, 2, 0, &cell, sizeof cell) != symResOk;
  failures += QXSym_GetTagArrayValue_Ptr(grid, 1, 2, 0, &back, sizeof back) != symResOk;
  printf("Grid[1,2]=%d\n", back);
  QXSym_CloseTag(grid);

  /* A read-only tag refuses the write and keeps its value. */
  QXSymResult r = Write("SerialNumber", "X", 2);
  printf("writing SerialNumber: %s\n", r == symResReadOnlyTag ? "read-only" : "unexpected");
  failures += r != symResReadOnlyTag;

  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return failures == 0 ? 0 : 1;
}
