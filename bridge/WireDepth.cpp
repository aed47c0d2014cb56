#include "WireDepth.h"

#include <iterator>

namespace qxsym::bridge {
namespace {

// The payload's message types, and which of their fields hold messages.
enum class Msg {
  kPayload,
  kMetric,
  kMetaData,
  kPropertySet,
  kPropertyValue,
  kPropertySetList,
  kDataSet,
  kRow,
  kDataSetValue,
  kTemplate,
  kParameter,
  kOther,  // an extension: holds nothing we know
};

struct Child {
  Msg parent;
  std::uint32_t field;
  Msg child;
};

constexpr Child kChildren[] = {
    {Msg::kPayload, 2, Msg::kMetric},
    {Msg::kMetric, 8, Msg::kMetaData},
    {Msg::kMetric, 9, Msg::kPropertySet},
    {Msg::kMetric, 17, Msg::kDataSet},
    {Msg::kMetric, 18, Msg::kTemplate},
    {Msg::kMetric, 19, Msg::kOther},
    {Msg::kPropertySet, 2, Msg::kPropertyValue},
    {Msg::kPropertyValue, 9, Msg::kPropertySet},
    {Msg::kPropertyValue, 10, Msg::kPropertySetList},
    {Msg::kPropertyValue, 11, Msg::kOther},
    {Msg::kPropertySetList, 1, Msg::kPropertySet},
    {Msg::kDataSet, 4, Msg::kRow},
    {Msg::kRow, 1, Msg::kDataSetValue},
    {Msg::kDataSetValue, 7, Msg::kOther},
    {Msg::kTemplate, 2, Msg::kMetric},
    {Msg::kTemplate, 3, Msg::kParameter},
    {Msg::kParameter, 9, Msg::kOther},
};

bool ChildOf(Msg parent, std::uint32_t field, Msg* child) {
  for (const Child& row : kChildren) {
    if (row.parent == parent && row.field == field) {
      *child = row.child;
      return true;
    }
  }
  return false;
}

// One open message: its type and where its bytes end.
struct Frame {
  Msg type;
  std::size_t end;
};

bool ReadVarint(const std::uint8_t* data, std::size_t end, std::size_t* pos, std::uint64_t* out) {
  std::uint64_t value = 0;
  for (unsigned shift = 0; shift < 64; shift += 7) {
    if (*pos >= end) return false;
    const std::uint8_t byte = data[(*pos)++];
    value |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
    if ((byte & 0x80) == 0) {
      *out = value;
      return true;
    }
  }
  return false;
}

bool Fail(std::string* error, const std::string& why) {
  if (error != nullptr) *error = why;
  return false;
}

// Skips a field's value that is not a message; false when it runs past end.
bool SkipValue(const std::uint8_t* data, std::size_t end, std::uint32_t wire, std::size_t* pos) {
  std::uint64_t ignored = 0;
  switch (wire) {
    case 0:
      return ReadVarint(data, end, pos, &ignored);
    case 1:
      if (end - *pos < 8) return false;
      *pos += 8;
      return true;
    case 5:
      if (end - *pos < 4) return false;
      *pos += 4;
      return true;
    default:
      return false;  // groups (3, 4) are not used by the payload
  }
}

}  // namespace

bool CheckPayloadWire(const std::uint8_t* data, std::size_t size, std::string* error) {
  Frame stack[kMaxPayloadDepth];
  std::size_t depth = 1;
  stack[0] = {Msg::kPayload, size};
  std::size_t pos = 0;
  while (true) {
    while (depth > 0 && pos == stack[depth - 1].end) --depth;
    if (depth == 0) return true;
    const Frame& top = stack[depth - 1];
    std::uint64_t key = 0;
    if (!ReadVarint(data, top.end, &pos, &key) || (key >> 3) == 0 || (key >> 3) > 0x1FFFFFFF) {
      return Fail(error, "not a payload: bad field key at byte " + std::to_string(pos));
    }
    const auto field = static_cast<std::uint32_t>(key >> 3);
    const auto wire = static_cast<std::uint32_t>(key & 7);
    if (wire != 2) {
      if (!SkipValue(data, top.end, wire, &pos)) {
        return Fail(error, "not a payload: field " + std::to_string(field) + " cut short");
      }
      continue;
    }
    std::uint64_t length = 0;
    if (!ReadVarint(data, top.end, &pos, &length) || length > top.end - pos) {
      return Fail(error, "not a payload: field " + std::to_string(field) + " runs past its end");
    }
    Msg child = Msg::kOther;
    if (!ChildOf(top.type, field, &child)) {
      pos += static_cast<std::size_t>(length);  // a string, bytes or packed values
      continue;
    }
    if (depth == std::size(stack)) {
      return Fail(error, "payload nests deeper than " + std::to_string(kMaxPayloadDepth));
    }
    stack[depth++] = {child, pos + static_cast<std::size_t>(length)};
  }
}

}  // namespace qxsym::bridge
