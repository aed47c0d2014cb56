// Sparkplug B topics and the data types of the controllers' basic types.
#include "Sparkplug.h"

#include <QXSymCore.h>

#include <iterator>

namespace qxsym::bridge {
namespace {

constexpr const char* kNamespace = "spBv1.0";

struct TypeName {
  MessageType type;
  const char* name;
  bool device;  // the topic names a device
};

constexpr TypeName kTypeNames[] = {
    {MessageType::kNBirth, "NBIRTH", false}, {MessageType::kNDeath, "NDEATH", false},
    {MessageType::kNData, "NDATA", false},   {MessageType::kNCmd, "NCMD", false},
    {MessageType::kDBirth, "DBIRTH", true},  {MessageType::kDDeath, "DDEATH", true},
    {MessageType::kDData, "DDATA", true},    {MessageType::kDCmd, "DCMD", true},
};

const TypeName* FindType(MessageType type) {
  for (const TypeName& row : kTypeNames) {
    if (row.type == type) return &row;
  }
  return nullptr;
}

const TypeName* FindType(const std::string& name) {
  for (const TypeName& row : kTypeNames) {
    if (name == row.name) return &row;
  }
  return nullptr;
}

// The topic's levels; "a//b" has an empty one.
std::vector<std::string> SplitLevels(const std::string& topic) {
  std::vector<std::string> levels(1);
  for (char c : topic) {
    if (c == '/') {
      levels.emplace_back();
    } else {
      levels.back() += c;
    }
  }
  return levels;
}

DataType IntegerType(bool is_signed, std::uint32_t size) {
  switch (size) {
    case 1:
      return is_signed ? DataType::kInt8 : DataType::kUInt8;
    case 2:
      return is_signed ? DataType::kInt16 : DataType::kUInt16;
    case 4:
      return is_signed ? DataType::kInt32 : DataType::kUInt32;
    case 8:
      return is_signed ? DataType::kInt64 : DataType::kUInt64;
    default:
      return DataType::kBytes;
  }
}

}  // namespace

DataType DataTypeOf(std::uint32_t tyvar, std::uint32_t element_size) {
  switch (QXSymCore_KindOf(tyvar)) {
    case QXSymCoreBool:
      return DataType::kBoolean;
    case QXSymCoreSigned:
      return IntegerType(true, element_size);
    case QXSymCoreUnsigned:
      return IntegerType(false, element_size);
    case QXSymCoreFloat:
      if (element_size == 4) return DataType::kFloat;
      return element_size == 8 ? DataType::kDouble : DataType::kBytes;
    case QXSymCoreText:
      return DataType::kString;
    default:
      return DataType::kBytes;
  }
}

std::string Topic(const std::string& group, MessageType type, const std::string& node,
                  const std::string& device) {
  const TypeName* row = FindType(type);
  std::string topic =
      std::string(kNamespace) + "/" + group + "/" + (row ? row->name : "") + "/" + node;
  if (row != nullptr && row->device) topic += "/" + device;
  return topic;
}

bool ParseTopic(const std::string& topic, const std::string& group, const std::string& node,
                MessageType* type, std::string* device) {
  const std::vector<std::string> levels = SplitLevels(topic);
  if (levels.size() < 4 || levels.size() > 5) return false;
  if (levels[0] != kNamespace || levels[1] != group || levels[3] != node) return false;
  const TypeName* row = FindType(levels[2]);
  if (row == nullptr) return false;
  if (row->device != (levels.size() == 5)) return false;
  if (row->device && levels[4].empty()) return false;
  if (type != nullptr) *type = row->type;
  if (device != nullptr) *device = row->device ? levels[4] : std::string();
  return true;
}

}  // namespace qxsym::bridge
