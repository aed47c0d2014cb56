// Copies out of the client core (Owned.h).
#include "Owned.h"

namespace qxsym::js {

bool IsWide(uint32_t tyvar, uint32_t element_size) {
  const uint32_t kind = QXSymCore_KindOf(tyvar);
  return element_size == 8 && (kind == QXSymCoreSigned || kind == QXSymCoreUnsigned);
}

OwnedValue CopyValue(const QXSymCoreValue& v, bool wide) {
  OwnedValue o;
  o.kind = v.kind;
  o.wide = wide;
  o.boolean = v.boolean != 0;
  o.i = v.i;
  o.u = v.u;
  o.f = v.f;
  if (v.data != nullptr) o.data.assign(reinterpret_cast<const char*>(v.data), v.length);
  return o;
}

void CopyLayout(const QXSymCoreLayout& c, OwnedLayout* out) {
  out->path = c.path;
  out->type_name = c.type_name;
  out->size = c.size;
  out->type_properties = c.type_properties;
  out->value_count = c.value_count;
  out->dims.assign(c.dims, c.dims + c.num_dims);
  out->lower.assign(c.lower, c.lower + c.num_dims);
  out->leaves.resize(c.leaf_count);
  for (uint32_t k = 0; k < c.leaf_count; ++k) {
    const QXSymCoreLeaf& l = c.leaves[k];
    OwnedLeaf& o = out->leaves[k];
    o.path = l.path;
    o.offset = l.offset;
    o.size = l.size;
    o.tyvar = l.tyvar;
    o.element_size = l.element_size;
    o.count = l.count;
    o.dims.assign(l.dims, l.dims + l.num_dims);
    o.lower.assign(l.lower, l.lower + l.num_dims);
  }
}

QXSymCoreValue ToCore(const OwnedValue& v) {
  QXSymCoreValue c{};
  c.kind = v.kind;
  c.boolean = v.boolean ? 1 : 0;
  c.i = v.i;
  c.u = v.u;
  c.f = v.f;
  c.data = reinterpret_cast<const uint8_t*>(v.data.data());
  c.length = static_cast<uint32_t>(v.data.size());
  return c;
}

}  // namespace qxsym::js
