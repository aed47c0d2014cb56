// A controller's leaf values as Sparkplug metrics.
#include "DeviceModel.h"

#include <cmath>
#include <limits>

namespace qxsym::bridge {

namespace {

// Quality property of values that are not good, as subscribers expect it.
constexpr std::int64_t kQualityBad = 0;
constexpr std::int64_t kQualityStale = 500;

Property TextProperty(const std::string& key, const std::string& text) {
  Property p;
  p.key = key;
  p.type = DataType::kString;
  p.value.text = text;
  return p;
}

Property FlagProperty(const std::string& key) {
  Property p;
  p.key = key;
  p.type = DataType::kBoolean;
  p.value.b = true;
  return p;
}

Property QualityProperty(std::int64_t quality) {
  Property p;
  p.key = "Quality";
  p.type = DataType::kInt32;
  p.value.i = quality;
  return p;
}

// The leaf path an element path belongs to: "Temps[3]" -> "Temps".
std::string WithoutLastIndex(const std::string& path) {
  if (path.empty() || path.back() != ']') return std::string();
  const auto open = path.rfind('[');
  return open == std::string::npos ? std::string() : path.substr(0, open);
}

bool IsInteger(DataType t) {
  return t == DataType::kInt8 || t == DataType::kInt16 || t == DataType::kInt32 ||
         t == DataType::kInt64 || t == DataType::kUInt8 || t == DataType::kUInt16 ||
         t == DataType::kUInt32 || t == DataType::kUInt64 || t == DataType::kDateTime;
}

bool IsSigned(DataType t) {
  return t == DataType::kInt8 || t == DataType::kInt16 || t == DataType::kInt32 ||
         t == DataType::kInt64;
}

// A command's number as a double, and whether it is one.
bool NumberOf(const Metric& m, double* out) {
  if (m.datatype == DataType::kFloat || m.datatype == DataType::kDouble) {
    *out = m.value.f;
    return true;
  }
  if (!IsInteger(m.datatype)) return false;
  *out = IsSigned(m.datatype) ? static_cast<double>(m.value.i) : static_cast<double>(m.value.u);
  return true;
}

// A command's number for an integer leaf of kind v->kind.
bool IntegerOf(const Metric& m, bool is_number, double number, QXSymCoreValue* v,
               std::string* why) {
  if (!is_number || std::floor(number) != number) {
    *why = "an integer leaf takes a whole number";
    return false;
  }
  const bool is_signed = v->kind == QXSymCoreSigned;
  if (IsInteger(m.datatype)) {
    const bool from_signed = IsSigned(m.datatype);
    if ((is_signed && !from_signed &&
         m.value.u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) ||
        (!is_signed && from_signed && m.value.i < 0)) {
      *why = "the number is out of the leaf's range";
      return false;
    }
    v->i = from_signed ? m.value.i : static_cast<std::int64_t>(m.value.u);
    v->u = from_signed ? static_cast<std::uint64_t>(m.value.i) : m.value.u;
    return true;
  }
  // Within what both casts can take; the core checks the leaf's own range.
  if (is_signed ? (number < -9.2e18 || number > 9.2e18) : (number < 0 || number > 1.8e19)) {
    *why = "the number is out of the leaf's range";
    return false;
  }
  v->i = is_signed ? static_cast<std::int64_t>(number) : 0;
  v->u = is_signed ? 0 : static_cast<std::uint64_t>(number);
  return true;
}

}  // namespace

bool GlobMatch(const std::string& pattern, const std::string& text) {
  std::size_t p = 0, t = 0, star = std::string::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == text[t])) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      mark = t;
    } else if (star != std::string::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

Value ValueOf(const QXSymCoreValue& v) {
  Value out;
  switch (v.kind) {
    case QXSymCoreBool:
      out.b = v.boolean != 0;
      break;
    case QXSymCoreSigned:
      out.i = v.i;
      break;
    case QXSymCoreUnsigned:
      out.u = v.u;
      break;
    case QXSymCoreFloat:
      out.f = v.f;
      break;
    case QXSymCoreText:
      if (v.length > 0) out.text.assign(reinterpret_cast<const char*>(v.data), v.length);
      break;
    case QXSymCoreBytes:
      if (v.length > 0) out.bytes.assign(v.data, v.data + v.length);
      break;
    default:
      out.is_null = true;
      break;
  }
  return out;
}

void DeviceModel::SetLeaves(std::map<std::string, LeafInfo> leaves) {
  leaves_ = std::move(leaves);
  std::vector<Entry> kept;
  index_.clear();
  aliases_.clear();
  for (Entry& e : metrics_) {
    e.leaf = LeafOf(e.path);
    if (e.leaf == nullptr) continue;
    e.type = DataTypeOf(e.leaf->tyvar, e.leaf->element_size);
    index_[e.path] = kept.size();
    aliases_[e.alias] = kept.size();
    kept.push_back(std::move(e));
  }
  metrics_ = std::move(kept);
}

const LeafInfo* DeviceModel::LeafOf(const std::string& path) const {
  auto it = leaves_.find(path);
  if (it == leaves_.end()) it = leaves_.find(WithoutLastIndex(path));
  return it == leaves_.end() ? nullptr : &it->second;
}

bool DeviceModel::IsWritable(const std::string& path) const {
  for (const std::string& pattern : writable_) {
    if (GlobMatch(pattern, path)) return true;
  }
  return false;
}

DeviceModel::Applied DeviceModel::Apply(const QXSymCoreEvent& event) {
  if (event.kind != QXSymCoreEventChange || event.path == nullptr) return Applied::kKnown;
  const std::string path = event.path;
  Applied applied = Applied::kKnown;
  auto it = index_.find(path);
  if (it == index_.end()) {
    const LeafInfo* leaf = LeafOf(path);
    if (leaf == nullptr) return Applied::kUnknown;
    Entry e;
    e.path = path;
    e.alias = next_alias_++;
    e.leaf = leaf;
    e.type = DataTypeOf(leaf->tyvar, leaf->element_size);
    aliases_[e.alias] = metrics_.size();
    it = index_.emplace(path, metrics_.size()).first;
    metrics_.push_back(std::move(e));
    applied = Applied::kAdded;
  }
  Entry& e = metrics_[it->second];
  e.status = event.status;
  if (event.status != QXSymCoreStale) e.value = ValueOf(event.value);
  if (event.status == QXSymCoreBad) e.value.is_null = true;
  e.timestamp_ms = static_cast<std::uint64_t>(event.timestamp_us / 1000);
  e.changed = true;
  return applied;
}

Metric DeviceModel::MetricOf(const Entry& e, bool named) const {
  Metric m;
  if (named) m.name = e.path;
  m.has_alias = true;
  m.alias = e.alias;
  m.has_timestamp = e.timestamp_ms != 0;
  m.timestamp_ms = e.timestamp_ms;
  m.datatype = e.type;
  m.value = e.value;
  if (e.status == QXSymCoreBad) m.properties.push_back(QualityProperty(kQualityBad));
  if (e.status == QXSymCoreStale) m.properties.push_back(QualityProperty(kQualityStale));
  return m;
}

Payload DeviceModel::Birth(std::uint64_t timestamp_ms) const {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = timestamp_ms;
  p.metrics.reserve(metrics_.size());
  for (const Entry& e : metrics_) {
    Metric m = MetricOf(e, true);
    if (!e.leaf->description.empty()) {
      m.properties.push_back(TextProperty("description", e.leaf->description));
    }
    for (const auto& [name, text] : e.leaf->attributes) {
      m.properties.push_back(TextProperty(name, text));
    }
    if (e.leaf->read_only) m.properties.push_back(FlagProperty("readOnly"));
    if (!e.leaf->read_only && IsWritable(e.path)) {
      m.properties.push_back(FlagProperty("writable"));
    }
    p.metrics.push_back(std::move(m));
  }
  return p;
}

Payload DeviceModel::TakeChanges(std::uint64_t timestamp_ms) {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = timestamp_ms;
  for (Entry& e : metrics_) {
    if (!e.changed) continue;
    e.changed = false;
    p.metrics.push_back(MetricOf(e, true));
  }
  return p;
}

// A command metric's value in the leaf's own kind: numbers of any Sparkplug
// type go to number leaves when they fit, texts to texts, bytes to bytes.
bool DeviceModel::Convert(const Metric& m, const Entry& e, WriteRequest* out,
                          std::string* why) const {
  QXSymCoreValue& v = out->value;
  v = QXSymCoreValue{};
  v.kind = QXSymCore_KindOf(e.leaf->tyvar);
  double number = 0;
  const bool is_number = NumberOf(m, &number);
  if (m.value.is_null) {
    *why = "the command has no value";
    return false;
  }
  switch (v.kind) {
    case QXSymCoreBool:
      if (m.datatype == DataType::kBoolean) {
        v.boolean = m.value.b ? 1 : 0;
        return true;
      }
      if (is_number && (number == 0 || number == 1)) {
        v.boolean = number == 1 ? 1 : 0;
        return true;
      }
      *why = "a BOOL takes a Boolean, 0 or 1";
      return false;
    case QXSymCoreSigned:
    case QXSymCoreUnsigned:
      return IntegerOf(m, is_number, number, &v, why);
    case QXSymCoreFloat:
      if (!is_number) {
        *why = "a REAL or LREAL takes a number";
        return false;
      }
      v.f = number;
      return true;
    case QXSymCoreText:
      if (m.datatype != DataType::kString && m.datatype != DataType::kText) {
        *why = "a STRING takes a String";
        return false;
      }
      out->text = m.value.text;
      break;
    default:
      if (m.datatype != DataType::kBytes) {
        *why = "this leaf takes Bytes";
        return false;
      }
      out->text.assign(m.value.bytes.begin(), m.value.bytes.end());
      break;
  }
  return true;
}

std::vector<WriteRequest> DeviceModel::Commands(const Payload& command,
                                                std::vector<std::string>* refusals) const {
  std::vector<WriteRequest> writes;
  for (const Metric& m : command.metrics) {
    const Entry* e = nullptr;
    if (!m.name.empty()) {
      auto it = index_.find(m.name);
      if (it != index_.end()) e = &metrics_[it->second];
    } else if (m.has_alias) {
      auto it = aliases_.find(m.alias);
      if (it != aliases_.end()) e = &metrics_[it->second];
    }
    const std::string label = !m.name.empty() ? m.name : "alias " + std::to_string(m.alias);
    if (e == nullptr) {
      refusals->push_back(label + " is not a metric of this device");
      continue;
    }
    if (e->leaf->read_only || !IsWritable(e->path)) {
      refusals->push_back(label + " is not writable");
      continue;
    }
    WriteRequest w;
    w.path = e->path;
    std::string why;
    if (!Convert(m, *e, &w, &why)) {
      refusals->push_back(label + ": " + why);
      continue;
    }
    writes.push_back(std::move(w));
  }
  return writes;
}

}  // namespace qxsym::bridge
