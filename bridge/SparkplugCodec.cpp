// The protobuf encoding of Sparkplug B payloads, over the C code protoc-c
// generates from sparkplug_b.proto. Encoding points the generated structs
// at the Payload's own strings; decoding walks the bytes for their nesting
// first and unpacks them with an allocator that stops at a byte budget.
#include <sparkplug_b.pb-c.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include "Sparkplug.h"
#include "WireDepth.h"

namespace qxsym::bridge {
namespace {

using PbPayload = Org__Eclipse__Tahu__Protobuf__Payload;
using PbMetric = Org__Eclipse__Tahu__Protobuf__Payload__Metric;
using PbPropertySet = Org__Eclipse__Tahu__Protobuf__Payload__PropertySet;
using PbPropertyValue = Org__Eclipse__Tahu__Protobuf__Payload__PropertyValue;

// Memory the generated decoder may take for one payload: the nesting is
// checked first, so this only bounds many small messages in many bytes.
constexpr std::size_t kDecodeBaseBytes = 64u * 1024 * 1024;
constexpr std::size_t kDecodeBytesPerInput = 16;

// A value as the payload carries it: which member of the value oneof is set.
struct WireValue {
  enum Case { kNone, kInt, kLong, kFloat, kDouble, kBool, kString, kBytes, kOther };
  Case which = kNone;
  std::uint32_t int_value = 0;
  std::uint64_t long_value = 0;
  float float_value = 0;
  double double_value = 0;
  bool bool_value = false;
  const char* string_value = nullptr;
  ProtobufCBinaryData bytes_value = {0, nullptr};
};

// An allocator for protobuf-c that fails once @p limit bytes are in use; the
// decoder then returns null instead of taking all memory.
class CappedAllocator {
 public:
  explicit CappedAllocator(std::size_t limit) : limit_(limit) {
    allocator_.alloc = &Alloc;
    allocator_.free = &Free;
    allocator_.allocator_data = this;
  }
  ProtobufCAllocator* get() { return &allocator_; }

 private:
  static constexpr std::size_t kHeader = alignof(std::max_align_t);

  static void* Alloc(void* data, std::size_t size) {
    auto* self = static_cast<CappedAllocator*>(data);
    if (size > self->limit_ - self->used_ || self->limit_ - self->used_ - size < kHeader) {
      return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (block == nullptr) return nullptr;
    std::memcpy(block, &size, sizeof size);
    self->used_ += size + kHeader;
    return block + kHeader;
  }
  static void Free(void* data, void* pointer) {
    if (pointer == nullptr) return;
    auto* self = static_cast<CappedAllocator*>(data);
    unsigned char* block = static_cast<unsigned char*>(pointer) - kHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    self->used_ -= size + kHeader;
    std::free(block);
  }

  std::size_t used_ = 0;
  std::size_t limit_;
  ProtobufCAllocator allocator_{};
};

// An unpacked payload, freed with the allocator it was unpacked with.
class Unpacked {
 public:
  explicit Unpacked(std::size_t size)
      : allocator_(kDecodeBaseBytes + kDecodeBytesPerInput * size) {}
  ~Unpacked() {
    if (payload_ != nullptr) {
      org__eclipse__tahu__protobuf__payload__free_unpacked(payload_, allocator_.get());
    }
  }
  Unpacked(const Unpacked&) = delete;
  Unpacked& operator=(const Unpacked&) = delete;

  bool Unpack(const std::uint8_t* data, std::size_t size, std::string* error) {
    if (size > kMaxPayloadBytes) {
      *error = "payload of " + std::to_string(size) + " bytes is larger than the limit of " +
               std::to_string(kMaxPayloadBytes);
      return false;
    }
    if (size > 0 && data == nullptr) {
      *error = "no payload bytes";
      return false;
    }
    if (!CheckPayloadWire(data, size, error)) return false;
    payload_ = org__eclipse__tahu__protobuf__payload__unpack(allocator_.get(), size, data);
    if (payload_ == nullptr) {
      *error = "not a payload (or too large to unpack)";
      return false;
    }
    if (payload_->n_metrics > kMaxDecodedMetrics) {
      *error = "payload holds " + std::to_string(payload_->n_metrics) +
               " metrics, more than the limit of " + std::to_string(kMaxDecodedMetrics);
      return false;
    }
    return true;
  }
  PbPayload* get() const { return payload_; }

 private:
  CappedAllocator allocator_;
  PbPayload* payload_ = nullptr;
};

std::vector<std::uint8_t> Pack(const PbPayload& payload) {
  std::vector<std::uint8_t> out(org__eclipse__tahu__protobuf__payload__get_packed_size(&payload));
  if (!out.empty()) org__eclipse__tahu__protobuf__payload__pack(&payload, out.data());
  return out;
}

// The wire form of @p value as a @p type; kNone for a null value and for
// types that carry no plain value.
WireValue ToWire(DataType type, const Value& value) {
  WireValue w;
  if (value.is_null) return w;
  switch (type) {
    case DataType::kInt8:
    case DataType::kInt16:
    case DataType::kInt32:
      w.which = WireValue::kInt;  // the low 32 bits of the two's complement
      w.int_value = static_cast<std::uint32_t>(static_cast<std::uint64_t>(value.i));
      break;
    case DataType::kUInt8:
    case DataType::kUInt16:
    case DataType::kUInt32:
      w.which = WireValue::kInt;
      w.int_value = static_cast<std::uint32_t>(value.u);
      break;
    case DataType::kInt64:
      w.which = WireValue::kLong;
      w.long_value = static_cast<std::uint64_t>(value.i);
      break;
    case DataType::kUInt64:
    case DataType::kDateTime:
      w.which = WireValue::kLong;
      w.long_value = value.u;
      break;
    case DataType::kFloat:
      w.which = WireValue::kFloat;
      w.float_value = static_cast<float>(value.f);
      break;
    case DataType::kDouble:
      w.which = WireValue::kDouble;
      w.double_value = value.f;
      break;
    case DataType::kBoolean:
      w.which = WireValue::kBool;
      w.bool_value = value.b;
      break;
    case DataType::kString:
    case DataType::kText:
      w.which = WireValue::kString;
      w.string_value = value.text.c_str();
      break;
    case DataType::kBytes:
      w.which = WireValue::kBytes;
      w.bytes_value.len = value.bytes.size();
      // The packer only reads the bytes.
      w.bytes_value.data = const_cast<std::uint8_t*>(value.bytes.data());
      break;
    default:
      break;
  }
  return w;
}
void SetMetricValue(const WireValue& w, PbMetric* m) {
  using C = Org__Eclipse__Tahu__Protobuf__Payload__Metric__ValueCase;
  switch (w.which) {
    case WireValue::kInt:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_INT_VALUE;
      m->int_value = w.int_value;
      break;
    case WireValue::kLong:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_LONG_VALUE;
      m->long_value = w.long_value;
      break;
    case WireValue::kFloat:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_FLOAT_VALUE;
      m->float_value = w.float_value;
      break;
    case WireValue::kDouble:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE;
      m->double_value = w.double_value;
      break;
    case WireValue::kBool:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE;
      m->boolean_value = w.bool_value;
      break;
    case WireValue::kString:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_STRING_VALUE;
      m->string_value = const_cast<char*>(w.string_value);  // the packer only reads it
      break;
    case WireValue::kBytes:
      m->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BYTES_VALUE;
      m->bytes_value = w.bytes_value;
      break;
    default:
      m->value_case = C{};
      m->has_is_null = true;
      m->is_null = true;
      break;
  }
}

void SetPropertyValue(const WireValue& w, PbPropertyValue* p) {
  switch (w.which) {
    case WireValue::kInt:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_INT_VALUE;
      p->int_value = w.int_value;
      break;
    case WireValue::kLong:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_LONG_VALUE;
      p->long_value = w.long_value;
      break;
    case WireValue::kFloat:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_FLOAT_VALUE;
      p->float_value = w.float_value;
      break;
    case WireValue::kDouble:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_DOUBLE_VALUE;
      p->double_value = w.double_value;
      break;
    case WireValue::kBool:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_BOOLEAN_VALUE;
      p->boolean_value = w.bool_value;
      break;
    case WireValue::kString:
      p->value_case = ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_STRING_VALUE;
      p->string_value = const_cast<char*>(w.string_value);  // the packer only reads it
      break;
    default:  // a property has no bytes member: bytes go as null too
      p->has_is_null = true;
      p->is_null = true;
      break;
  }
}

WireValue MetricWire(const PbMetric& m) {
  WireValue w;
  switch (m.value_case) {
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE__NOT_SET:
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_INT_VALUE:
      w.which = WireValue::kInt;
      w.int_value = m.int_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_LONG_VALUE:
      w.which = WireValue::kLong;
      w.long_value = m.long_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_FLOAT_VALUE:
      w.which = WireValue::kFloat;
      w.float_value = m.float_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_DOUBLE_VALUE:
      w.which = WireValue::kDouble;
      w.double_value = m.double_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BOOLEAN_VALUE:
      w.which = WireValue::kBool;
      w.bool_value = m.boolean_value != 0;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_STRING_VALUE:
      w.which = WireValue::kString;
      w.string_value = m.string_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__METRIC__VALUE_BYTES_VALUE:
      w.which = WireValue::kBytes;
      w.bytes_value = m.bytes_value;
      break;
    default:  // data sets, templates, extensions
      w.which = WireValue::kOther;
      break;
  }
  return w;
}

WireValue PropertyWire(const PbPropertyValue& p) {
  WireValue w;
  switch (p.value_case) {
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE__NOT_SET:
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_INT_VALUE:
      w.which = WireValue::kInt;
      w.int_value = p.int_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_LONG_VALUE:
      w.which = WireValue::kLong;
      w.long_value = p.long_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_FLOAT_VALUE:
      w.which = WireValue::kFloat;
      w.float_value = p.float_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_DOUBLE_VALUE:
      w.which = WireValue::kDouble;
      w.double_value = p.double_value;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_BOOLEAN_VALUE:
      w.which = WireValue::kBool;
      w.bool_value = p.boolean_value != 0;
      break;
    case ORG__ECLIPSE__TAHU__PROTOBUF__PAYLOAD__PROPERTY_VALUE__VALUE_STRING_VALUE:
      w.which = WireValue::kString;
      w.string_value = p.string_value;
      break;
    default:  // nested property sets, extensions
      w.which = WireValue::kOther;
      break;
  }
  return w;
}

// The data type a value without one is read as, by the member that is set.
DataType TypeOfWire(const WireValue& w) {
  switch (w.which) {
    case WireValue::kInt:
      return DataType::kUInt32;
    case WireValue::kLong:
      return DataType::kUInt64;
    case WireValue::kFloat:
      return DataType::kFloat;
    case WireValue::kDouble:
      return DataType::kDouble;
    case WireValue::kBool:
      return DataType::kBoolean;
    case WireValue::kString:
      return DataType::kString;
    case WireValue::kBytes:
      return DataType::kBytes;
    default:
      return DataType::kUnknown;
  }
}

// A signed integer of @p bits from the low bits of @p raw, sign-extended.
std::int64_t SignExtend(std::uint64_t raw, unsigned bits) {
  if (bits >= 64) return static_cast<std::int64_t>(raw);
  const std::uint64_t mask = (std::uint64_t{1} << bits) - 1;
  const std::uint64_t sign = std::uint64_t{1} << (bits - 1);
  const std::uint64_t low = raw & mask;
  return (low & sign) != 0 ? -static_cast<std::int64_t>(mask - low) - 1
                           : static_cast<std::int64_t>(low);
}

unsigned SignedBits(DataType type) {
  switch (type) {
    case DataType::kInt8:
      return 8;
    case DataType::kInt16:
      return 16;
    case DataType::kInt32:
      return 32;
    default:
      return 64;
  }
}
std::string TypeName(DataType type) {
  static const char* const kNames[] = {"Unknown", "Int8",    "Int16",  "Int32",    "Int64",
                                       "UInt8",   "UInt16",  "UInt32", "UInt64",   "Float",
                                       "Double",  "Boolean", "String", "DateTime", "Text"};
  const auto number = static_cast<std::uint32_t>(type);
  if (number < std::size(kNames)) return kNames[number];
  if (type == DataType::kBytes) return "Bytes";
  return "datatype " + std::to_string(number);
}

// Reads @p w as a *type; a missing type is taken from the member that is
// set. Types that carry no plain value (data sets, templates, arrays, ...)
// read as null. False with @p why when the member set does not fit the type.
bool ReadWire(DataType* type, const WireValue& w, Value* out, std::string* why) {
  if (*type == DataType::kUnknown) *type = TypeOfWire(w);
  out->is_null = w.which == WireValue::kNone;
  if (out->is_null) return true;
  const bool integer = w.which == WireValue::kInt || w.which == WireValue::kLong;
  const std::uint64_t raw = w.which == WireValue::kInt ? w.int_value : w.long_value;
  switch (*type) {
    case DataType::kInt8:
    case DataType::kInt16:
    case DataType::kInt32:
    case DataType::kInt64:
      if (!integer) break;
      out->i = SignExtend(
          raw, w.which == WireValue::kInt && *type == DataType::kInt64 ? 32 : SignedBits(*type));
      return true;
    case DataType::kUInt8:
    case DataType::kUInt16:
    case DataType::kUInt32:
    case DataType::kUInt64:
    case DataType::kDateTime:
      if (!integer) break;
      out->u = raw;  // not masked: a value beyond the type is refused by its writer
      return true;
    case DataType::kFloat:
    case DataType::kDouble:
      if (w.which != WireValue::kFloat && w.which != WireValue::kDouble) break;
      out->f = w.which == WireValue::kFloat ? w.float_value : w.double_value;
      return true;
    case DataType::kBoolean:
      if (w.which != WireValue::kBool) break;
      out->b = w.bool_value;
      return true;
    case DataType::kString:
    case DataType::kText:
      if (w.which != WireValue::kString) break;
      out->text = w.string_value != nullptr ? w.string_value : "";
      return true;
    case DataType::kBytes:
      if (w.which != WireValue::kBytes) break;
      out->bytes.assign(w.bytes_value.data, w.bytes_value.data + w.bytes_value.len);
      return true;
    default:
      out->is_null = true;
      return true;
  }
  *why = "a " + TypeName(*type) + " holds a value of another kind";
  return false;
}

bool ReadProperties(const PbPropertySet& set, std::vector<Property>* out, std::string* why) {
  if (set.n_keys != set.n_values) {
    *why = std::to_string(set.n_keys) + " property keys for " + std::to_string(set.n_values) +
           " values";
    return false;
  }
  out->resize(set.n_keys);
  for (std::size_t k = 0; k < set.n_keys; ++k) {
    Property& property = (*out)[k];
    const PbPropertyValue& pv = *set.values[k];
    property.key = set.keys[k] != nullptr ? set.keys[k] : "";
    property.type = pv.has_type ? static_cast<DataType>(pv.type) : DataType::kUnknown;
    if (pv.has_is_null && pv.is_null) {
      property.value.is_null = true;
    } else if (!ReadWire(&property.type, PropertyWire(pv), &property.value, why)) {
      *why = "property " + property.key + ": " + *why;
      return false;
    }
  }
  return true;
}

bool ReadMetric(const PbMetric& m, std::size_t index, Metric* out, std::string* error) {
  out->name = m.name != nullptr ? m.name : "";
  out->has_alias = m.has_alias;
  out->alias = m.alias;
  out->has_timestamp = m.has_timestamp;
  out->timestamp_ms = m.timestamp;
  out->datatype = m.has_datatype ? static_cast<DataType>(m.datatype) : DataType::kUnknown;
  out->is_historical = m.has_is_historical && m.is_historical;
  std::string why;
  bool ok = true;
  if (m.has_is_null && m.is_null) {
    out->value.is_null = true;
  } else {
    ok = ReadWire(&out->datatype, MetricWire(m), &out->value, &why);
  }
  if (ok && m.properties != nullptr) ok = ReadProperties(*m.properties, &out->properties, &why);
  if (!ok) {
    *error = "metric " + std::to_string(index) +
             (out->name.empty() ? std::string() : " (" + out->name + ")") + ": " + why;
  }
  return ok;
}

// The generated structs of one metric's properties; they point into the
// Property values, which outlive the packing.
struct PropertyParts {
  PbPropertySet set;
  std::vector<char*> keys;
  std::vector<PbPropertyValue> values;
  std::vector<PbPropertyValue*> value_ptrs;
};

void FillProperties(const std::vector<Property>& properties, PropertyParts* parts) {
  org__eclipse__tahu__protobuf__payload__property_set__init(&parts->set);
  const std::size_t n = properties.size();
  parts->keys.resize(n);
  parts->values.resize(n);
  parts->value_ptrs.resize(n);
  for (std::size_t k = 0; k < n; ++k) {
    PbPropertyValue* pv = &parts->values[k];
    org__eclipse__tahu__protobuf__payload__property_value__init(pv);
    pv->has_type = true;
    pv->type = static_cast<std::uint32_t>(properties[k].type);
    SetPropertyValue(ToWire(properties[k].type, properties[k].value), pv);
    parts->keys[k] = const_cast<char*>(properties[k].key.c_str());  // the packer only reads it
    parts->value_ptrs[k] = pv;
  }
  parts->set.n_keys = n;
  parts->set.keys = parts->keys.data();
  parts->set.n_values = n;
  parts->set.values = parts->value_ptrs.data();
}

void FillMetric(const Metric& metric, PbMetric* m, PropertyParts* parts) {
  org__eclipse__tahu__protobuf__payload__metric__init(m);
  if (!metric.name.empty()) m->name = const_cast<char*>(metric.name.c_str());
  m->has_alias = metric.has_alias;
  m->alias = metric.alias;
  m->has_timestamp = metric.has_timestamp;
  m->timestamp = metric.timestamp_ms;
  m->has_datatype = metric.datatype != DataType::kUnknown;
  m->datatype = static_cast<std::uint32_t>(metric.datatype);
  m->has_is_historical = metric.is_historical;
  m->is_historical = metric.is_historical;
  SetMetricValue(ToWire(metric.datatype, metric.value), m);
  if (!metric.properties.empty()) {
    FillProperties(metric.properties, parts);
    m->properties = &parts->set;
  }
}

}  // namespace

std::vector<std::uint8_t> EncodePayload(const Payload& payload) {
  const std::size_t n = payload.metrics.size();
  std::vector<PbMetric> metrics(n);
  std::vector<PbMetric*> metric_ptrs(n);
  std::vector<PropertyParts> parts(n);
  for (std::size_t k = 0; k < n; ++k) {
    FillMetric(payload.metrics[k], &metrics[k], &parts[k]);
    metric_ptrs[k] = &metrics[k];
  }
  PbPayload pb;
  org__eclipse__tahu__protobuf__payload__init(&pb);
  pb.has_timestamp = payload.has_timestamp;
  pb.timestamp = payload.timestamp_ms;
  pb.has_seq = payload.has_seq;
  pb.seq = payload.seq;
  pb.n_metrics = n;
  pb.metrics = metric_ptrs.data();
  return Pack(pb);
}

bool DecodePayload(const std::uint8_t* data, std::size_t size, Payload* out, std::string* error) {
  std::string ignored;
  std::string* why = error != nullptr ? error : &ignored;
  Unpacked unpacked(size);
  if (out == nullptr || !unpacked.Unpack(data, size, why)) return false;
  const PbPayload& pb = *unpacked.get();
  Payload result;
  result.has_timestamp = pb.has_timestamp;
  result.timestamp_ms = pb.timestamp;
  result.has_seq = pb.has_seq;
  result.seq = pb.seq;
  result.metrics.resize(pb.n_metrics);
  for (std::size_t k = 0; k < pb.n_metrics; ++k) {
    if (!ReadMetric(*pb.metrics[k], k, &result.metrics[k], why)) return false;
  }
  *out = std::move(result);
  return true;
}

bool RestampPayload(const std::vector<std::uint8_t>& data, std::uint64_t seq, bool historical,
                    std::vector<std::uint8_t>* out) {
  std::string error;
  Unpacked unpacked(data.size());
  if (out == nullptr || !unpacked.Unpack(data.data(), data.size(), &error)) return false;
  PbPayload* pb = unpacked.get();
  pb->has_seq = true;
  pb->seq = seq;
  if (historical) {
    for (std::size_t k = 0; k < pb->n_metrics; ++k) {
      pb->metrics[k]->has_is_historical = true;
      pb->metrics[k]->is_historical = true;
    }
  }
  *out = Pack(*pb);
  return true;
}

}  // namespace qxsym::bridge
