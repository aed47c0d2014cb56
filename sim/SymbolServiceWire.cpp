// Decoding of symbol-service requests and encoding of their replies. Every
// request is checked against its exact layout before anything is looked up;
// a malformed one gets a status and no payload.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "SymbolService.h"
#include "Wire.h"

namespace qxsym::sim {

namespace {

constexpr std::uint32_t kMaxValueLength = 0xFFFF;  // 16-bit length fields

// The reply under construction: code, status, payload.
class Reply {
 public:
  Reply(std::vector<std::uint8_t>& bytes, std::uint16_t code) : bytes_(bytes), code_(code) {
    Status(symResOk);
  }
  // Header only, with the given status.
  void Status(QXSymResult status) {
    bytes_.assign(kReplyHeaderSize, 0);
    WireWriter(bytes_.data(), bytes_.size()).U16(code_).U16(static_cast<std::uint16_t>(status));
  }
  // Room for a payload of n bytes after a successful header; the writer
  // starts right after the header.
  WireWriter Payload(std::size_t n) {
    Status(symResOk);
    bytes_.resize(kReplyHeaderSize + n);
    return WireWriter(bytes_.data() + kReplyHeaderSize, n);
  }

 private:
  std::vector<std::uint8_t>& bytes_;
  std::uint16_t code_;
};

// A text of a request: a 16-bit length N that counts the terminator, then
// the text in N bytes, or in a field of `field` bytes when field is not 0.
bool ReadText(WireReader& in, std::size_t field, std::string* out) {
  std::uint16_t n = 0;
  if (!in.U16(&n) || n < 1 || n > kMaxText) return false;
  const std::size_t stored = field != 0 ? field : n;
  if (n > stored) return false;
  const std::uint8_t* p = in.View(stored);
  if (p == nullptr || p[n - 1] != 0) return false;
  out->assign(reinterpret_cast<const char*>(p));
  return true;
}

// A text as the service sends it: at most 259 characters and a terminator.
std::string Cut(const std::string& s) {
  std::size_t n = std::min<std::size_t>(::strnlen(s.c_str(), s.size()), kMaxSentTextChars);
  return s.substr(0, n);
}

// Tag texts: length, then exactly that many bytes.
void TextReply(Reply& reply, const std::string& text) {
  const std::string t = Cut(text);
  const std::uint16_t n = static_cast<std::uint16_t>(t.size() + 1);
  WireWriter w = reply.Payload(2 + n);
  w.U16(n).Bytes(t.data(), t.size()).U8(0);
}

// Type texts: length, then a zero-filled field of 260 bytes.
void FieldTextReply(Reply& reply, const std::string& text) {
  const std::string t = Cut(text);
  WireWriter w = reply.Payload(2 + kMaxText);
  w.U16(static_cast<std::uint16_t>(t.size() + 1)).Bytes(t.data(), t.size());
  w.Zeros(kMaxText - t.size());
}

void U32Reply(Reply& reply, std::uint32_t v) { reply.Payload(4).U32(v); }
void U8Reply(Reply& reply, std::uint8_t v) { reply.Payload(1).U8(v); }
void RefReply(Reply& reply, const SymRef& r) { reply.Payload(8).U32(r.w0).U32(r.w1); }

bool ReadRef(WireReader& in, SymRef* r) { return in.U32(&r->w0) && in.U32(&r->w1); }

bool ReadIndices(WireReader& in, std::uint32_t idx[3]) {
  return in.U32(&idx[0]) && in.U32(&idx[1]) && in.U32(&idx[2]);
}

bool IsWorkspaceCommand(std::uint16_t code) {
  switch (code) {
    case kCmdCloseWorkspace:
    case kCmdIsValidWorkspace:
    case kCmdGetSymbolTableSize:
    case kCmdReadSymbolTable:
    case kCmdGetGlobalTag:
    case kCmdGetGlobalTagsNum:
    case kCmdGetGlobalTags:
    case kCmdCreateGroup:
    case kCmdQueryGlobalTags:
    case kCmdQueryGlobalTagsNum:
      return true;
    default:
      return false;
  }
}

bool IsTagCommand(std::uint16_t code) {
  return code == kCmdTagClose || (code >= kCmdTagGetAttribute && code <= kCmdTagGetDims) ||
         code == kCmdTagGetArrayAddress || code == kCmdTagGetDataTypeVar ||
         (code >= kCmdTagGetValue && code <= kCmdTagSetRawValue) || code == kCmdTagGetType ||
         code == kCmdTagGetDataFullSize;
}

bool IsTypeCommand(std::uint16_t code) {
  return (code >= kCmdTypeIsBasic && code <= kCmdTypeGetArrayDimensions) ||
         code == kCmdTypeGetProperties;
}

bool IsGroupCommand(std::uint16_t code) {
  return code >= kCmdGroupDelete && code <= kCmdGroupWrite;
}

// ---- Without a workspace ----

void HandleServiceCommand(SymbolService& service, std::uint16_t code, WireReader& in,
                          Reply& reply) {
  if (code == kCmdGetServerVersion) {
    if (in.remaining() != 0) return reply.Status(symResInvalidParameter);
    std::uint8_t v[4];
    service.GetVersion(&v[0], &v[1], &v[2], &v[3]);
    reply.Payload(4).Bytes(v, 4);
    return;
  }
  std::uint8_t selector = 0;
  if (!in.U8(&selector) || in.remaining() != 0) return reply.Status(symResInvalidParameter);
  std::uint32_t ws = 0;
  const QXSymResult r = service.OpenWorkspace(selector, &ws);
  if (r != symResOk) return reply.Status(r);
  RefReply(reply, service.RefFor(ws));
}

// ---- Workspace commands ----

void HandleTagList(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                   const std::string& filter, Reply& reply) {
  SymbolModel& model = service.symbols();
  std::vector<std::size_t> hits;
  if (code == kCmdGetGlobalTags) {
    hits.resize(model.tags().size());
    for (std::size_t i = 0; i < hits.size(); ++i) hits[i] = i;
  } else {
    hits = model.Match(filter);
  }
  // The list must fit the client's 4020-byte reply.
  if (hits.size() > kTagListMaxEntries) return reply.Status(symResBufferOverflow);
  std::vector<std::uint32_t> tags;
  const QXSymResult r = service.NewTags(ws, hits, &tags);
  if (r != symResOk) return reply.Status(r);
  const std::uint32_t count = static_cast<std::uint32_t>(tags.size());
  WireWriter w = reply.Payload(kTagListOffset - kReplyHeaderSize + 8 * tags.size());
  // The two leading words carry the number of symbols matched and 0.
  w.U32(count).U32(0).U32(8 * count).U32(count);
  for (std::uint32_t id : tags) {
    const SymRef ref = service.RefFor(id);
    w.U32(ref.w0).U32(ref.w1);
  }
}

void HandleWorkspaceCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                            WireReader& in, Reply& reply) {
  std::string text;
  std::uint32_t table_size = 0;
  bool ok;
  switch (code) {
    case kCmdGetGlobalTag:
      ok = ReadText(in, 0, &text);
      break;
    case kCmdQueryGlobalTags:
    case kCmdQueryGlobalTagsNum:
      ok = ReadText(in, kFilterFieldSize, &text);
      break;
    case kCmdReadSymbolTable:
      ok = in.U32(&table_size);
      break;
    default:
      ok = true;
  }
  if (!ok || in.remaining() != 0) return reply.Status(symResInvalidParameter);
  QXSymResult r = service.CheckWorkspace(ws);
  if (r != symResOk) return reply.Status(r);

  SymbolModel& model = service.symbols();
  switch (code) {
    case kCmdCloseWorkspace:
      return reply.Status(service.CloseWorkspace(ws));
    case kCmdIsValidWorkspace:
      return reply.Status(symResOk);
    case kCmdGetSymbolTableSize:
      return U32Reply(reply, static_cast<std::uint32_t>(model.source_bytes().size()));
    case kCmdReadSymbolTable: {
      const std::string& table = model.source_bytes();
      // A shorter read delivers the start of the table; a longer one
      // would leave the client with bytes that never came.
      if (table_size > table.size()) return reply.Status(symResInvalidParameter);
      reply.Payload(table_size).Bytes(table.data(), table_size);
      return;
    }
    case kCmdGetGlobalTag: {
      SymbolView view;
      r = model.Resolve(text, &view);
      std::uint32_t tag = 0;
      if (r == symResOk) r = service.NewTag(ws, view, &tag);
      if (r != symResOk) return reply.Status(r);
      const SymRef ref = service.RefFor(tag);
      reply.Payload(20)
          .U32(ref.w0)
          .U32(ref.w1)
          .U32(SymbolModel::TyVar(view))
          .U32(SymbolModel::DataSize(view))
          .U32(SymbolModel::FullSize(view));
      return;
    }
    case kCmdGetGlobalTagsNum:
      return U32Reply(reply, static_cast<std::uint32_t>(model.tags().size()));
    case kCmdQueryGlobalTagsNum:
      return U32Reply(reply, static_cast<std::uint32_t>(model.Match(text).size()));
    case kCmdGetGlobalTags:
    case kCmdQueryGlobalTags:
      return HandleTagList(service, code, ws, text, reply);
    case kCmdCreateGroup: {
      std::uint32_t group = 0;
      r = service.CreateGroup(ws, &group);
      if (r != symResOk) return reply.Status(r);
      return RefReply(reply, service.RefFor(group));
    }
    default:
      return reply.Status(symResUnkownCommand);
  }
}

// ---- Tag commands ----

// The arguments a tag command carries after its two references.
struct TagArgs {
  std::string text;
  std::uint32_t idx[3] = {0, 0, 0};
  std::uint32_t offset = 0, raw_size = 0;
  const std::uint8_t* data = nullptr;
  std::size_t data_size = 0;
};

bool ReadTagArgs(std::uint16_t code, WireReader& in, TagArgs* a) {
  bool ok = true;
  std::uint16_t length = 0;
  switch (code) {
    case kCmdTagGetAttribute:
      ok = ReadText(in, 0, &a->text);
      break;
    case kCmdTagGetArrayAddress:
    case kCmdTagGetArrayValue:
      ok = ReadIndices(in, a->idx);
      break;
    case kCmdTagSetArrayValue:
    case kCmdTagSetValue:
      ok = (code == kCmdTagSetValue || ReadIndices(in, a->idx)) && in.U16(&length);
      // The length field holds the low 16 bits of the value's size.
      a->data_size = in.remaining();
      ok = ok && (a->data_size & 0xFFFF) == length;
      a->data = in.View(a->data_size);
      break;
    case kCmdTagGetRawValue:
      ok = in.U32(&a->offset) && in.U32(&a->raw_size);
      break;
    case kCmdTagSetRawValue:
      ok = in.U32(&a->offset) && in.U32(&a->raw_size) && in.remaining() == a->raw_size;
      a->data_size = a->raw_size;
      a->data = in.View(a->data_size);
      break;
    default:
      break;
  }
  return ok && in.remaining() == 0;
}

// The value commands: whole value, one element, raw memory.
void HandleTagValue(SymbolService& service, std::uint16_t code, const SymbolView& view,
                    const TagArgs& a, Reply& reply) {
  SymbolModel& model = service.symbols();
  switch (code) {
    case kCmdTagGetValue:
    case kCmdTagGetArrayValue: {
      std::vector<std::uint8_t> value;
      QXSymResult r = model.ReadValue(view, a.idx, &value);
      if (r == symResOk && value.size() > kMaxValueLength) r = symResBufferOverflow;
      if (r != symResOk) return reply.Status(r);
      reply.Payload(2 + value.size())
          .U16(static_cast<std::uint16_t>(value.size()))
          .Bytes(value.data(), value.size());
      return;
    }
    case kCmdTagSetValue:
    case kCmdTagSetArrayValue:
      return reply.Status(model.WriteValue(view, a.idx, a.data, a.data_size));
    case kCmdTagGetRawValue: {
      std::vector<std::uint8_t> bytes;
      const QXSymResult r = model.ReadRaw(view, a.offset, a.raw_size, &bytes);
      if (r != symResOk) return reply.Status(r);
      reply.Payload(4 + bytes.size())
          .U32(static_cast<std::uint32_t>(bytes.size()))
          .Bytes(bytes.data(), bytes.size());
      return;
    }
    case kCmdTagSetRawValue:
      return reply.Status(model.WriteRaw(view, a.offset, a.data, a.raw_size));
    default:
      return reply.Status(symResUnkownCommand);
  }
}

void HandleTagCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                      std::uint32_t obj, WireReader& in, Reply& reply) {
  TagArgs a;
  if (!ReadTagArgs(code, in, &a)) return reply.Status(symResInvalidParameter);
  QXSymResult r = service.CheckWorkspace(ws);
  if (r != symResOk) return reply.Status(r);
  if (code == kCmdTagClose) return reply.Status(service.CloseTag(ws, obj));
  SymbolView view;
  r = service.FindTag(ws, obj, &view);
  if (r != symResOk) return reply.Status(r);

  switch (code) {
    case kCmdTagGetAttribute: {
      std::string value;
      r = SymbolModel::Attribute(view, a.text, &value);
      if (r != symResOk) return reply.Status(r);
      return TextReply(reply, value);
    }
    case kCmdTagGetName:
      return TextReply(reply, view.name);
    case kCmdTagGetDataType:
      return TextReply(reply, view.type->name);
    case kCmdTagGetDescr:
      return TextReply(reply, *view.description);
    case kCmdTagGetDataSize:
      return U32Reply(reply, SymbolModel::DataSize(view));
    case kCmdTagGetDataFullSize:
      return U32Reply(reply, SymbolModel::FullSize(view));
    case kCmdTagGetDataTypeVar:
      return U32Reply(reply, SymbolModel::TyVar(view));
    case kCmdTagIsReadOnly:
      return U8Reply(reply, view.read_only ? 1 : 0);
    case kCmdTagIsBitAddress:
      return U8Reply(reply, view.bit >= 0 ? 1 : 0);
    case kCmdTagGetDims: {
      std::uint32_t d[3];
      SymbolModel::Dims(view, d);
      reply.Payload(12).U32(d[0]).U32(d[1]).U32(d[2]);
      return;
    }
    case kCmdTagGetArrayAddress: {
      std::uint64_t address = 0;
      std::uint32_t bit = 0;
      r = SymbolModel::ElementAddress(view, a.idx, &address, &bit);
      if (r != symResOk) return reply.Status(r);
      reply.Payload(12).U64(address).U32(bit);
      return;
    }
    case kCmdTagGetType: {
      std::uint32_t type = 0;
      r = service.TypeId(ws, view.type, &type);
      if (r != symResOk) return reply.Status(r);
      return RefReply(reply, service.RefFor(type));
    }
    default:
      return HandleTagValue(service, code, view, a, reply);
  }
}

// ---- Type commands ----

void HandleTypeCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                       std::uint32_t obj, WireReader& in, Reply& reply) {
  std::string text;
  std::uint32_t index = 0;
  bool ok = true;
  if (code == kCmdTypeGetChild || code == kCmdTypeGetChildName ||
      code == kCmdTypeGetArrayDimension) {
    ok = in.U32(&index);
  } else if (code == kCmdTypeGetChildByName) {
    ok = ReadText(in, 0, &text);
  }
  if (!ok || in.remaining() != 0) return reply.Status(symResInvalidParameter);
  const Type* t = nullptr;
  QXSymResult r = service.FindType(ws, obj, &t);
  if (r != symResOk) return reply.Status(r);

  if (code >= kCmdTypeIsBasic && code <= kCmdTypeIsInteger) {
    const std::uint32_t flag = 1u << (code - kCmdTypeIsBasic);
    return U8Reply(reply, (t->properties & flag) != 0 ? 1 : 0);
  }
  switch (code) {
    case kCmdTypeGetProperties:
      return U32Reply(reply, t->properties);
    case kCmdTypeGetSize:
      return U32Reply(reply, t->size);
    case kCmdTypeGetName:
      return FieldTextReply(reply, t->name);
    case kCmdTypeGetNumChildren:
      return U32Reply(reply, t->ChildCount());
    case kCmdTypeGetChildName: {
      const std::string* name = t->ChildName(index);
      if (name == nullptr) return reply.Status(symResInvalidParameter);
      return FieldTextReply(reply, *name);
    }
    case kCmdTypeGetChild:
    case kCmdTypeGetChildByName: {
      const Type* child = code == kCmdTypeGetChild ? t->Child(index) : t->ChildByName(text);
      if (child == nullptr) {
        return reply.Status(code == kCmdTypeGetChild ? symResInvalidParameter
                                                     : symResSymbolNotFound);
      }
      std::uint32_t id = 0;
      r = service.TypeId(ws, child, &id);
      if (r != symResOk) return reply.Status(r);
      return RefReply(reply, service.RefFor(id));
    }
    case kCmdTypeGetArrayNumDimensions:
      return U32Reply(reply, static_cast<std::uint32_t>(t->dims.size()));
    case kCmdTypeGetArrayDimension:
      if (index >= t->dims.size()) return reply.Status(symResInvalidParameter);
      return U32Reply(reply, t->dims[index].count());
    case kCmdTypeGetArrayDimensions: {
      WireWriter w = reply.Payload(4 + 4 * t->dims.size());
      w.U32(static_cast<std::uint32_t>(t->dims.size()));
      for (const ArrayDim& d : t->dims) w.U32(d.count());
      return;
    }
    default:
      return reply.Status(symResUnkownCommand);
  }
}

// ---- Group commands ----

void HandleGroupCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                        std::uint32_t obj, WireReader& in, Reply& reply) {
  SymRef tag_ref;
  std::uint32_t total = 0;
  bool ok = true;
  if (code == kCmdGroupAddTag || code == kCmdGroupRemoveTag) {
    ok = ReadRef(in, &tag_ref);
  } else if (code == kCmdGroupRead) {
    ok = in.U32(&total);
  } else if (code == kCmdGroupWrite) {
    ok = in.U32(&total) && in.remaining() == total;
  }
  const std::uint8_t* data = code == kCmdGroupWrite && ok ? in.View(total) : nullptr;
  if (!ok || in.remaining() != 0) return reply.Status(symResInvalidParameter);
  QXSymResult r = service.CheckWorkspace(ws);
  if (r != symResOk) return reply.Status(r);
  switch (code) {
    case kCmdGroupDelete:
      return reply.Status(service.DeleteGroup(ws, obj));
    case kCmdGroupAddTag: {
      std::uint32_t member_size = 0;
      // A forged tag reference carries id 0, which no tag has.
      r = service.GroupAddTag(ws, obj, service.IdOf(tag_ref), &member_size);
      if (r != symResOk) return reply.Status(r);
      return U32Reply(reply, member_size);
    }
    case kCmdGroupRemoveTag:
      return reply.Status(service.GroupRemoveTag(ws, obj, service.IdOf(tag_ref)));
    case kCmdGroupRead: {
      std::vector<std::uint8_t> values;
      r = service.GroupRead(ws, obj, total, &values);
      if (r != symResOk) return reply.Status(r);
      reply.Payload(4 + values.size())
          .U32(static_cast<std::uint32_t>(values.size()))
          .Bytes(values.data(), values.size());
      return;
    }
    case kCmdGroupWrite:
      return reply.Status(service.GroupWrite(ws, obj, data, total));
    default:
      return reply.Status(symResUnkownCommand);
  }
}

}  // namespace

void SymbolService::Handle(const std::uint8_t* request, std::size_t size,
                           std::vector<std::uint8_t>& reply) {
  std::uint16_t code = 0;
  if (request != nullptr && size >= 2) code = LoadU16(request);
  try {
    HandleChecked(request, size, reply);
  } catch (const std::bad_alloc&) {
    Reply(reply, code).Status(symResMemoryAllocError);
  } catch (...) {
    Reply(reply, code).Status(symResNotOk);
  }
}

void SymbolService::HandleChecked(const std::uint8_t* request, std::size_t size,
                                  std::vector<std::uint8_t>& reply_bytes) {
  if (request == nullptr || size < 2) {
    Reply(reply_bytes, 0).Status(symResInvalidParameter);
    return;
  }
  WireReader in(request, size);
  std::uint16_t code = 0;
  in.U16(&code);
  Reply reply(reply_bytes, code);

  if (code == kCmdGetServerVersion || code == kCmdOpenWorkspace) {
    return HandleServiceCommand(*this, code, in, reply);
  }
  const bool ws_cmd = IsWorkspaceCommand(code), tag_cmd = IsTagCommand(code),
             type_cmd = IsTypeCommand(code), group_cmd = IsGroupCommand(code);
  if (!ws_cmd && !tag_cmd && !type_cmd && !group_cmd) return reply.Status(symResUnkownCommand);

  // Every other command names its workspace, and all but the workspace
  // commands the object they act on.
  SymRef ws_ref;
  SymRef obj_ref;
  if (!ReadRef(in, &ws_ref) || (!ws_cmd && !ReadRef(in, &obj_ref))) {
    return reply.Status(symResInvalidParameter);
  }
  const std::uint32_t ws = IdOf(ws_ref);
  const std::uint32_t obj = IdOf(obj_ref);
  if (ws_cmd) return HandleWorkspaceCommand(*this, code, ws, in, reply);
  if (tag_cmd) return HandleTagCommand(*this, code, ws, obj, in, reply);
  if (type_cmd) return HandleTypeCommand(*this, code, ws, obj, in, reply);
  return HandleGroupCommand(*this, code, ws, obj, in, reply);
}

}  // namespace qxsym::sim
