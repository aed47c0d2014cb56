/* The core's header as strict C, and a call through it. */
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "QXSymCore.h"

int main(void) {
  int failures = 0;
  QXSymCoreValue v;
  QXSymCoreHandle s = 0;
  memset(&v, 0, sizeof v);
  if (sizeof(QXSymCoreHandle) != 4) failures++;
  if (offsetof(QXSymCoreValue, data) % sizeof(void*) != 0) failures++;
  if (strcmp(QXSymCore_ResultName(symResOk), "symResOk") != 0) failures++;
  if (QXSymCore_Close(s) != symResInvalidHandle) failures++;
  if (QXSymCore_Open(NULL, 0, QXSymCoreLatin1, 1, &s) != symResInvalidParameter) failures++;
  if (failures) fprintf(stderr, "%d checks failed\n", failures);
  return failures != 0;
}
