// Command codes and fixed sizes of the symbol-service messages carried by
// the channel's Transact. Shared by the library's Remote objects and by the
// simulator's service so both sides use one numbering.
//
// Request: u16 code; for requests about an open workspace the workspace
// reference (2 x u32); for requests about a tag, type or group also the
// object's reference (2 x u32): an 18-byte header. Reply: u16 code (echoed),
// u16 status (a QXSymResult), then the payload. All little-endian, packed.
#pragma once

#include <cstdint>

namespace qxsym {

enum SymCmd : std::uint16_t {
  // Workspaces
  kCmdOpenWorkspace = 4,
  kCmdCloseWorkspace = 5,
  kCmdIsValidWorkspace = 6,
  kCmdGetServerVersion = 7,
  kCmdGetSymbolTableSize = 8,
  kCmdReadSymbolTable = 9,
  kCmdGetGlobalTag = 10,
  kCmdGetGlobalTagsNum = 12,
  kCmdGetGlobalTags = 91,
  kCmdCreateGroup = 100,
  kCmdQueryGlobalTags = 110,
  kCmdQueryGlobalTagsNum = 111,
  // Tags
  kCmdTagClose = 11,
  kCmdTagGetAttribute = 17,
  kCmdTagGetName = 18,
  kCmdTagGetDataType = 19,
  kCmdTagGetDataSize = 20,
  kCmdTagIsReadOnly = 21,
  kCmdTagIsBitAddress = 22,
  kCmdTagGetDescr = 23,
  kCmdTagGetDims = 24,
  kCmdTagGetArrayAddress = 26,
  kCmdTagGetDataTypeVar = 27,
  kCmdTagGetValue = 40,
  kCmdTagSetValue = 41,
  kCmdTagGetArrayValue = 42,
  kCmdTagSetArrayValue = 43,
  kCmdTagGetRawValue = 44,
  kCmdTagSetRawValue = 45,
  kCmdTagGetType = 70,
  kCmdTagGetDataFullSize = 89,
  // Types
  kCmdTypeIsBasic = 71,
  kCmdTypeIsComplex = 72,
  kCmdTypeIsString = 73,
  kCmdTypeIsArray = 74,
  kCmdTypeIsStruct = 75,
  kCmdTypeIsFunctionBlock = 76,
  kCmdTypeIsNumeric = 77,
  kCmdTypeIsSigned = 78,
  kCmdTypeIsInteger = 79,
  kCmdTypeGetSize = 80,
  kCmdTypeGetName = 81,
  kCmdTypeGetNumChildren = 82,
  kCmdTypeGetChild = 83,
  kCmdTypeGetChildByName = 84,
  kCmdTypeGetChildName = 85,
  kCmdTypeGetArrayNumDimensions = 86,
  kCmdTypeGetArrayDimension = 87,
  kCmdTypeGetArrayDimensions = 88,
  kCmdTypeGetProperties = 90,
  // Groups
  kCmdGroupDelete = 101,
  kCmdGroupAddTag = 102,
  kCmdGroupRemoveTag = 103,
  kCmdGroupRead = 104,
  kCmdGroupWrite = 105,
};

constexpr std::uint32_t kWorkspaceHeaderSize = 10;  // code + workspace reference
constexpr std::uint32_t kObjectHeaderSize = 18;     // code + workspace + object reference
constexpr std::uint32_t kReplyHeaderSize = 4;       // code + status
constexpr std::uint32_t kMaxText = 260;             // text with terminator
constexpr std::uint32_t kMaxSentTextChars = 259;    // text sent, without terminator

// Reply capacities: the reply header plus the largest payload each reply
// carries. Fixed-size replies first, then the overheads of replies whose
// payload length depends on the request.
constexpr std::uint32_t kStatusReplyCapacity = kReplyHeaderSize;        // status only
constexpr std::uint32_t kBoolReplyCapacity = kReplyHeaderSize + 1;      // u8 answer
constexpr std::uint32_t kU32ReplyCapacity = kReplyHeaderSize + 4;       // u32 value
constexpr std::uint32_t kRefReplyCapacity = kReplyHeaderSize + 8;       // object reference
constexpr std::uint32_t kVersionReplyCapacity = kReplyHeaderSize + 4;   // 4 version bytes
constexpr std::uint32_t kTagDimsReplyCapacity = kReplyHeaderSize + 12;  // 3 x u32
constexpr std::uint32_t kAddressReplyCapacity = 18;  // u64 address, u32 bit offset, 2 spare
constexpr std::uint32_t kGlobalTagReplyCapacity = kReplyHeaderSize + 20;  // reference, 3 x u32
constexpr std::uint32_t kTextReplyCapacity = 266;  // header + u16 length + 260 bytes
constexpr std::uint32_t kTagListReplyCapacity = 4020;
constexpr std::uint32_t kValueReplyOverhead = kReplyHeaderSize + 2;      // u16 value length
constexpr std::uint32_t kRawReplyOverhead = kReplyHeaderSize + 4;        // u32 raw length
constexpr std::uint32_t kGroupReadReplyOverhead = kReplyHeaderSize + 4;  // u32 values length
constexpr std::uint32_t kTableReplyOverhead = 12;  // header and room for the service's words
constexpr std::uint32_t kTagListOffset = 20;  // code, status, 2 x u32 unread, byte length, count
constexpr std::uint32_t kTagListMaxEntries = 500;
constexpr std::uint32_t kFilterFieldSize = 260;
constexpr std::uint32_t kFilterRequestSize = 272;
constexpr std::uint32_t kDimsReplyCapacity = 4008;
constexpr std::uint32_t kMaxDimsValues = 1000;

// A reference issued by the service: two 32-bit words, kept in the order
// received and sent back word 0 first.
struct SymRef {
  std::uint32_t w0 = 0;
  std::uint32_t w1 = 0;
  bool operator==(const SymRef& o) const { return w0 == o.w0 && w1 == o.w1; }
  bool operator!=(const SymRef& o) const { return !(*this == o); }
};

}  // namespace qxsym
