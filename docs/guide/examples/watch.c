/* Watch tags: read them as one group every 100 ms and print what changed.
 * Usage: watch HOST PORT */
#define _POSIX_C_SOURCE 200809L
#include <QXSymbols.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  QXSymServerAddress address = {symProtGDB_TCP, "", (uint16_t)atoi(argv[2]), 2000};
  snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  QXSymWorkspaceHandle ws = 0;
  QXSym_Init();
  if (QXSym_OpenWorkspace(0, &address, &ws) != symResOk) return 1;

  QXSymTagHandle heartbeat, counter;
  QXSymGroupHandle group;
  if (QXSym_GetGlobalTag(ws, "Heartbeat", &heartbeat) != symResOk ||
      QXSym_GetGlobalTag(ws, "CntDint", &counter) != symResOk ||
      QXSym_CreateGroup(ws, &group) != symResOk ||
      QXSym_AddTagToGroup(group, heartbeat) != symResOk ||
      QXSym_AddTagToGroup(group, counter) != symResOk)
    return 1;

  bool_t beat = 0, last_beat = 2; /* 2: nothing seen yet */
  int32_t count = 0, last_count = 0;
  int changes = 0;
  const struct timespec interval = {0, 100 * 1000 * 1000};
  for (int round = 0; round < 20; ++round) {
    QXSymResult r = QXSym_ReadGroup(group);
    if (r != symResOk) {
      fprintf(stderr, "read failed: result %d\n", r); /* time-out, lost connection, ... */
      break;
    }
    QXSym_GetTagValueFromGroup_Ptr(group, heartbeat, &beat, sizeof beat);
    QXSym_GetTagValueFromGroup_Ptr(group, counter, &count, sizeof count);
    if (beat != last_beat) printf("Heartbeat -> %s\n", beat ? "TRUE" : "FALSE");
    if (round > 0 && count != last_count) printf("CntDint %d -> %d\n", (int)last_count, (int)count);
    changes += round > 0 && (beat != last_beat || count != last_count);
    last_beat = beat;
    last_count = count;
    nanosleep(&interval, NULL);
  }

  QXSym_DeleteGroup(group);
  QXSym_CloseTag(heartbeat);
  QXSym_CloseTag(counter);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return changes > 0 ? 0 : 1;
}
