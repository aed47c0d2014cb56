// Drives the public API through one session against a controller (normally
// the simulator behind the seed recorder's loopback proxy): every global tag
// with its texts, sizes, dimensions, value and type tree, queries, a group
// read and written, and the symbol table download. The bytes this exchange
// puts on the wire become the fuzzers' seed corpus.
//
//   qxsym-seed-driver HOST PORT SCRATCH_FILE
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "QXSymbols.h"

namespace {

void WalkType(QXSymTypeHandle type, int depth) {
  bool_t b = 0;
  uint32_t v = 0;
  char text[256];
  uint16_t length = sizeof text;
  QXSym_TypeGetName(type, text, &length);
  QXSym_TypeIsArray(type, &b);
  QXSym_TypeIsString(type, &b);
  QXSym_TypeGetSize(type, &v);
  QXSym_TypeGetProperties(type, &v);
  uint32_t dims = 0;
  if (QXSym_TypeGetArrayNumDimensions(type, &dims) == symResOk && dims > 0) {
    uint32_t values[3] = {0, 0, 0};
    QXSym_TypeGetArrayDimensions(type, values, 3);
  }
  uint32_t children = 0;
  if (depth > 2 || QXSym_TypeGetNumChildren(type, &children) != symResOk) return;
  for (uint32_t i = 0; i < children && i < 4; ++i) {
    length = sizeof text;
    QXSym_TypeGetChildName(type, i, text, &length);
    QXSymTypeHandle child = 0;
    if (QXSym_TypeGetChild(type, i, &child) == symResOk) {
      WalkType(child, depth + 1);
      QXSym_CloseType(child);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s HOST PORT SCRATCH_FILE\n", argv[0]);
    return 2;
  }
  QXSym_Init();
  QXSymServerAddress address{};
  address.protocol = symProtGDB_TCP;
  std::snprintf(address.ip, sizeof address.ip, "%s", argv[1]);
  address.port = static_cast<uint16_t>(std::atoi(argv[2]));
  address.timeout = 2000;
  QXSymWorkspaceHandle ws = 0;
  QXSymResult r = QXSym_OpenWorkspace(0, &address, &ws);
  if (r != symResOk && r != symResOkServerNotFullSupport) {
    std::fprintf(stderr, "open failed: %d\n", r);
    return 1;
  }
  uint8_t version[4];
  QXSym_GetServerVersion(ws, &version[0], &version[1], &version[2], &version[3]);
  QXSym_IsValidWorkspace(ws);

  QXSymTagHandle* tags = nullptr;
  uint32_t count = 0;
  QXSym_GetGlobalTagsNum(ws, &count);
  QXSym_QueryGlobalTagsNum(ws, "Cnt*", &count);
  if (QXSym_GetGlobalTags(ws, &tags, &count) == symResOk) {
    QXSymGroupHandle group = 0;
    QXSym_CreateGroup(ws, &group);
    for (uint32_t i = 0; i < count; ++i) {
      char text[256];
      uint16_t length = sizeof text;
      QXSym_GetTagName(tags[i], text, &length);
      length = sizeof text;
      QXSym_GetTagDescr(tags[i], text, &length);
      length = sizeof text;
      QXSym_GetTagDataType(tags[i], text, &length);
      length = sizeof text;
      QXSym_GetTagAttribute(tags[i], "unit", text, &length);
      uint32_t size = 0, full = 0, d1 = 0, d2 = 0, d3 = 0;
      QXSymTyVar tyvar;
      bool_t ro = 0;
      QXSym_GetTagDataTypeVar(tags[i], &tyvar);
      QXSym_GetTagDataSize(tags[i], &size);
      QXSym_GetTagDataFullSize(tags[i], &full);
      QXSym_IsTagReadOnly(tags[i], &ro);
      QXSym_GetTagDims(tags[i], &d1, &d2, &d3);
      qxsym_addr_t where = 0;
      QXSym_GetTagAddress(tags[i], &where);
      std::vector<uint8_t> value(full + 1);
      if (QXSym_GetTagValue_Ptr(tags[i], value.data(), size) == symResOk && !ro) {
        QXSym_SetTagValue_Ptr(tags[i], value.data(), size);
      }
      QXSym_GetTagRawValue_Ptr(tags[i], value.data(), full);
      if (d1 > 0) {
        QXSym_GetTagArrayValue_Ptr(tags[i], d1 - 1, 0, 0, value.data(), size);
        QXSym_GetTagArrayAddress(tags[i], 0, 0, 0, &where);
      }
      QXSymTypeHandle type = 0;
      if (QXSym_GetTagType(tags[i], &type) == symResOk) {
        WalkType(type, 0);
        QXSym_CloseType(type);
      }
      if (i % 3 == 0) QXSym_AddTagToGroup(group, tags[i]);
    }
    if (QXSym_ReadGroup(group) == symResOk) QXSym_WriteGroup(group);
    QXSym_RemoveTagFromGroup(group, tags[0]);
    QXSym_DeleteGroup(group);
    QXSym_FreeTagList(tags);
  }
  QXSymTagHandle* some = nullptr;
  if (QXSym_QueryGlobalTags(ws, "Cnt*", &some, &count) == symResOk) QXSym_FreeTagList(some);
  QXSymTagHandle tag = 0;
  QXSym_GetGlobalTag(ws, "NoSuchTag", &tag);
  if (QXSym_GetGlobalTag(ws, "Line.Motor[1].Speed", &tag) == symResOk) QXSym_CloseTag(tag);
  QXSym_GetSymbolTable(ws, argv[3], 1);
  QXSym_CloseWorkspace(ws);
  QXSym_Shutdown();
  return 0;
}
