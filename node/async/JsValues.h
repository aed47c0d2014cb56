// Values between the client core and JavaScript (JavaScript thread only):
// single values, a read's values nested by its layout, a caller's value
// for a write, and layouts as plain objects.
#pragma once

#include <node_api.h>

#include <vector>

#include "Owned.h"
#include "ValueShape.h"

namespace qxsym::js {

// Booleans, Numbers, BigInts for 64-bit integers (wide), strings, Buffers.
napi_value ValueToJs(napi_env env, const OwnedValue& v);
// A JavaScript value as a core value (a boolean, a number, a BigInt, a
// string or a Buffer; anything else is QXSymCoreNone, which the core
// refuses). Answers false when the engine fails.
bool ValueFromJs(napi_env env, napi_value v, OwnedValue* out);

// The values of a read (the layout's leaves in order) nested by shape.
napi_value NestedToJs(napi_env env, const ValueShape& shape, const std::vector<OwnedValue>& values);

// A caller's value for a write, copied for the thread pool: undefined (and
// an array's holes) left out, objects by their own enumerable keys. Refuses
// (symResInvalidParameter) a value nested too deeply or of too many parts.
bool GivenFromJs(napi_env env, napi_value v, Given* out);
// The given value back, as spread made it: members spelt as the layout
// spells them, typed texts as the values they were read as.
napi_value GivenToJs(napi_env env, const Given& g);

// { path, typeName, size, valueCount, functionBlock, dims, lower,
//   leaves: [{ path, offset, size, tyvar, kind, elementSize, count, dims, lower }] }
napi_value LayoutToJs(napi_env env, const OwnedLayout& layout);

}  // namespace qxsym::js
