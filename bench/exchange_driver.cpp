// qxsym-bench-driver HOST PORT COUNT [TAG]
// Opens a workspace on a controller (qxsym-sim), finds TAG (default
// Value00000), reads it once to warm up, then COUNT more times with
// QXSym_GetTagValue_Ptr, and closes everything. Run under
// valgrind --tool=callgrind with COUNT 0 and COUNT N: the difference of the
// two instruction counts divided by N is the client's cost of one exchange.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "QXSymbols.h"

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: qxsym-bench-driver HOST PORT COUNT [TAG]\n");
    return 2;
  }
  const long count = std::strtol(argv[3], nullptr, 10);
  const char* name = argc == 5 ? argv[4] : "Value00000";
  QXSymServerAddress address;
  std::memset(&address, 0, sizeof address);
  address.protocol = symProtGDB_TCP;
  std::snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  address.port = static_cast<uint16_t>(std::strtoul(argv[2], nullptr, 10));
  address.timeout = 30000;  // the client runs slowly under instrumentation

  if (QXSym_Init() != symResOk) return 1;
  QXSymWorkspaceHandle ws = 0;
  QXSymResult r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r != symResOk) {
    std::fprintf(stderr, "open: %d\n", r);
    return 1;
  }
  QXSymTagHandle tag = 0;
  r = QXSym_GetGlobalTag(ws, name, &tag);
  if (r != symResOk) {
    std::fprintf(stderr, "tag %s: %d\n", name, r);
    return 1;
  }
  int32_t value = 0;
  for (long i = 0; i <= count; ++i) {
    r = QXSym_GetTagValue_Ptr(tag, &value, sizeof value);
    if (r != symResOk) {
      std::fprintf(stderr, "read %ld: %d\n", i, r);
      return 1;
    }
  }
  QXSym_CloseTag(tag);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
