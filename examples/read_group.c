/*
 * Reads several tags of a controller in one exchange with a group:
 * usage read_group HOST PORT. Then writes two of them back in one exchange.
 */
#define _POSIX_C_SOURCE 199309L
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include "QXSymbols.h"
#include "example_util.h"

static int Fail(const char* what, QXSymResult r) {
  fprintf(stderr, "%s failed: result %d\n", what, r);
  return 1;
}

int main(int argc, char** argv) {
  const char* names[] = {"CntDint",      "CntInt",     "Temps[1]", "TotalEnergy",
                         "MachineState", "Line.Speed", "Recipe.Id"};
  enum { kCount = sizeof names / sizeof names[0] };
  QXSymServerAddress address = {symProtGDB_TCP, "127.0.0.1", 0, 3000};
  QXSymWorkspaceHandle ws = 0;
  QXSymGroupHandle group = 0;
  QXSymTagHandle tags[kCount];
  uint32_t members = 0, total = 0, i;
  int round;
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
  if ((r = QXSym_CreateGroup(ws, &group)) != symResOk) return Fail("QXSym_CreateGroup", r);
  for (i = 0; i < kCount; ++i) {
    if ((r = QXSym_GetGlobalTag(ws, names[i], &tags[i])) != symResOk) return Fail(names[i], r);
    if ((r = QXSym_AddTagToGroup(group, tags[i])) != symResOk) return Fail("add", r);
  }
  QXSym_GetGroupInfo(group, &members, &total);
  printf("group of %u tags, %u bytes of values\n", (unsigned)members, (unsigned)total);

  for (round = 1; round <= 2; ++round) {
    if (round > 1) {
      /* Give the controller's simulated values time to move. */
      struct timespec pause = {0, 300 * 1000 * 1000};
      nanosleep(&pause, NULL);
    }
    if ((r = QXSym_ReadGroup(group)) != symResOk) return Fail("QXSym_ReadGroup", r);
    printf("read %d:\n", round);
    for (i = 0; i < kCount; ++i) {
      unsigned char value[16];
      char text[64];
      uint32_t size = 0;
      QXSymTyVar type = QXSymTyVarNull;
      QXSym_GetTagDataSize(tags[i], &size);
      QXSym_GetTagDataTypeVar(tags[i], &type);
      if ((r = QXSym_GetTagValueFromGroup_Ptr(group, tags[i], value, sizeof value)) != symResOk)
        return Fail("take value", r);
      FormatValue(type, value, size, text, sizeof text);
      printf("  %-12s = %s\n", names[i], text);
    }
  }

  {
    int32_t recipe = 77;
    int16_t state = 3;
    QXSym_SetTagValueIntoGroup_Ptr(group, tags[6], &recipe, sizeof recipe);
    QXSym_SetTagValueIntoGroup_Ptr(group, tags[4], &state, sizeof state);
    if ((r = QXSym_WriteGroup(group)) != symResOk) return Fail("QXSym_WriteGroup", r);
    QXSym_ReadGroup(group);
    recipe = 0, state = 0;
    QXSym_GetTagValueFromGroup_Ptr(group, tags[6], &recipe, sizeof recipe);
    QXSym_GetTagValueFromGroup_Ptr(group, tags[4], &state, sizeof state);
    printf("group write: Recipe.Id = %d, MachineState = %d\n", (int)recipe, state);
    if (recipe != 77 || state != 3) return 1;
  }

  QXSym_DeleteGroup(group);
  for (i = 0; i < kCount; ++i) QXSym_CloseTag(tags[i]);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
