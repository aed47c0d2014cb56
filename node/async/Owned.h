// Layouts and values copied out of the client core, whose own memory lasts
// only until the next call on the same handle. Plain C++: work on the
// thread pool fills them, the JavaScript thread turns them into values.
#pragma once

#include <QXSymCore.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qxsym::js {

struct OwnedValue {
  uint32_t kind = QXSymCoreNone;
  bool wide = false;  // a 64-bit integer: a BigInt in JavaScript
  bool boolean = false;
  int64_t i = 0;
  uint64_t u = 0;
  double f = 0;
  std::string data;  // text (UTF-8) or bytes
};

struct OwnedLeaf {
  std::string path;
  uint32_t offset = 0, size = 0, tyvar = 0, element_size = 0, count = 0;
  std::vector<uint32_t> dims;
  std::vector<int64_t> lower;
};

struct OwnedLayout {
  std::string path, type_name;
  uint32_t size = 0, type_properties = 0, value_count = 0;
  std::vector<OwnedLeaf> leaves;
  std::vector<uint32_t> dims;  // the path's own, when it is an array
  std::vector<int64_t> lower;
};

// A value of a leaf of basic type tyvar and element_size bytes: wide when
// it is a 64-bit integer.
bool IsWide(uint32_t tyvar, uint32_t element_size);
OwnedValue CopyValue(const QXSymCoreValue& v, bool wide);
void CopyLayout(const QXSymCoreLayout& c, OwnedLayout* out);
// The core's view of an owned value; data points into `v`.
QXSymCoreValue ToCore(const OwnedValue& v);

}  // namespace qxsym::js
