/* Read and write several tags in one exchange with a group.
 * Usage: groups HOST PORT */
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 2000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSymWorkspaceHandle ws = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;

  const char* names[] = {"CntInt", "Line.Speed", "Recipe.Id"};
  QXSymTagHandle tags[3];
  QXSymGroupHandle group;
  if (QXSym_CreateGroup(ws, &group) != symResOk) return 1;
  for (int i = 0; i < 3; ++i) {
    if (QXSym_GetGlobalTag(ws, names[i], &tags[i]) != symResOk) return 1;
    if (QXSym_AddTagToGroup(group, tags[i]) != symResOk) return 1;
  }
  uint32_t count = 0, size = 0;
  QXSym_GetGroupInfo(group, &count, &size);
  printf("group of %u tags, %u bytes\n", (unsigned)count, (unsigned)size);

  /* One exchange reads every member; the values are then taken one by one. */
  int16_t counter = 0;
  float32_t speed = 0;
  int32_t id = 0;
  if (QXSym_ReadGroup(group) != symResOk) return 1;
  QXSym_GetTagValueFromGroup_Ptr(group, tags[0], &counter, sizeof counter);
  QXSym_GetTagValueFromGroup_Ptr(group, tags[1], &speed, sizeof speed);
  QXSym_GetTagValueFromGroup_Ptr(group, tags[2], &id, sizeof id);
  printf("CntInt=%d Line.Speed=%.2f Recipe.Id=%d\n", counter, speed, (int)id);

  /* Put new values in, then one exchange writes every member. */
  counter += 1;
  speed = 1.5f;
  id = 43;
  QXSym_SetTagValueIntoGroup_Ptr(group, tags[0], &counter, sizeof counter);
  QXSym_SetTagValueIntoGroup_Ptr(group, tags[1], &speed, sizeof speed);
  QXSym_SetTagValueIntoGroup_Ptr(group, tags[2], &id, sizeof id);
  QXSymResult r = QXSym_WriteGroup(group);
  printf("group written: result %d\n", r);

  QXSym_DeleteGroup(group);
  for (int i = 0; i < 3; ++i) QXSym_CloseTag(tags[i]);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return r == symResOk ? 0 : 1;
}
