// Decoding of symbol-service requests and encoding of their replies. Every
// request is checked against its exact layout before anything is looked up;
// a malformed one gets a status and no payload.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>

#include "GroupMessages.h"
#include "SymbolService.h"
#include "TagMessages.h"
#include "TypeMessages.h"
#include "Wire.h"
#include "WorkspaceMessages.h"

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

// Texts as the service sends them: tag texts with their length, type texts
// in a 260-byte field.
void TextReply(Reply& reply, const std::string& text) {
  WireWriter w = reply.Payload(TextSize(text.c_str()));
  PackText(w, text.c_str());
}
void FieldTextReply(Reply& reply, const std::string& text) {
  WireWriter w = reply.Payload(kTextFieldSize);
  PackTextField(w, text.c_str());
}

void U32Reply(Reply& reply, std::uint32_t v) {
  WireWriter w = reply.Payload(kU32PayloadSize);
  PackU32Reply(w, v);
}
void U8Reply(Reply& reply, std::uint8_t v) {
  WireWriter w = reply.Payload(kU8PayloadSize);
  PackU8Reply(w, v);
}
void RefReply(Reply& reply, const SymRef& r) {
  WireWriter w = reply.Payload(kRefPayloadSize);
  PackRefReply(w, r);
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
    if (!UnpackServerVersionRequest(in)) return reply.Status(symResInvalidParameter);
    std::uint8_t v[4];
    service.GetVersion(&v[0], &v[1], &v[2], &v[3]);
    WireWriter w = reply.Payload(kServerVersionPayloadSize);
    PackServerVersionReply(w, v);
    return;
  }
  std::uint8_t selector = 0;
  if (!UnpackOpenWorkspaceRequest(in, &selector)) return reply.Status(symResInvalidParameter);
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
  std::vector<SymRef> refs;
  refs.reserve(tags.size());
  for (std::uint32_t id : tags) refs.push_back(service.RefFor(id));
  const auto count = static_cast<std::uint32_t>(refs.size());
  WireWriter w = reply.Payload(TagListPayloadSize(count));
  // The leading word carries the number of symbols matched.
  PackTagListReply(w, count, refs.data(), count);
}

void ReadSymbolTableReply(SymbolModel& model, std::uint32_t table_size, Reply& reply) {
  const std::string& table = model.source_bytes();
  // A shorter read delivers the start of the table; a longer one would leave
  // the client with bytes that never came.
  if (table_size > table.size()) return reply.Status(symResInvalidParameter);
  WireWriter w = reply.Payload(table_size);
  PackReadSymbolTableReply(w, table.data(), table_size);
}

// Opens the tag at path as a new object of the workspace.
void GlobalTagReplyFor(SymbolService& service, std::uint32_t ws, const std::string& path,
                       Reply& reply) {
  SymbolView view;
  QXSymResult r = service.symbols().Resolve(path, &view);
  std::uint32_t tag = 0;
  if (r == symResOk) r = service.NewTag(ws, view, &tag);
  if (r != symResOk) return reply.Status(r);
  const GlobalTagReply found{service.RefFor(tag), SymbolModel::TyVar(view),
                             SymbolModel::DataSize(view), SymbolModel::FullSize(view)};
  WireWriter w = reply.Payload(kGlobalTagPayloadSize);
  PackGlobalTagReply(w, found);
}

void HandleWorkspaceCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                            WireReader& in, Reply& reply) {
  std::string text;
  std::uint32_t table_size = 0;
  bool ok;
  switch (code) {
    case kCmdGetGlobalTag:
      ok = UnpackGlobalTagRequest(in, &text);
      break;
    case kCmdQueryGlobalTags:
    case kCmdQueryGlobalTagsNum:
      ok = UnpackFilterRequest(in, &text);
      break;
    case kCmdReadSymbolTable:
      ok = UnpackReadSymbolTableRequest(in, &table_size);
      break;
    default:
      ok = in.remaining() == 0;
  }
  if (!ok) return reply.Status(symResInvalidParameter);
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
    case kCmdReadSymbolTable:
      return ReadSymbolTableReply(model, table_size, reply);
    case kCmdGetGlobalTag:
      return GlobalTagReplyFor(service, ws, text, reply);
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
  switch (code) {
    case kCmdTagGetAttribute:
      return UnpackTagAttributeRequest(in, &a->text);
    case kCmdTagGetArrayAddress:
      return UnpackArrayAddressRequest(in, a->idx);
    case kCmdTagGetValue:
    case kCmdTagGetArrayValue:
      return UnpackValueReadRequest(in, code, a->idx);
    case kCmdTagSetValue:
    case kCmdTagSetArrayValue:
      return UnpackValueWriteRequest(in, code, a->idx, &a->data, &a->data_size);
    case kCmdTagGetRawValue:
      return UnpackRawReadRequest(in, &a->offset, &a->raw_size);
    case kCmdTagSetRawValue:
      if (!UnpackRawWriteRequest(in, &a->offset, &a->raw_size, &a->data)) return false;
      a->data_size = a->raw_size;
      return true;
    default:
      return in.remaining() == 0;
  }
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
      WireWriter w = reply.Payload(ValueReplyPayloadSize(value.size()));
      PackValueReply(w, value.data(), static_cast<std::uint16_t>(value.size()));
      return;
    }
    case kCmdTagSetValue:
    case kCmdTagSetArrayValue:
      return reply.Status(model.WriteValue(view, a.idx, a.data, a.data_size));
    case kCmdTagGetRawValue: {
      std::vector<std::uint8_t> bytes;
      const QXSymResult r = model.ReadRaw(view, a.offset, a.raw_size, &bytes);
      if (r != symResOk) return reply.Status(r);
      WireWriter w = reply.Payload(RawReplyPayloadSize(bytes.size()));
      PackRawReply(w, bytes.data(), static_cast<std::uint32_t>(bytes.size()));
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
      WireWriter w = reply.Payload(kTagDimsPayloadSize);
      PackTagDimsReply(w, d);
      return;
    }
    case kCmdTagGetArrayAddress: {
      std::uint64_t address = 0;
      std::uint32_t bit = 0;
      r = SymbolModel::ElementAddress(view, a.idx, &address, &bit);
      if (r != symResOk) return reply.Status(r);
      WireWriter w = reply.Payload(kArrayAddressPayloadSize);
      PackArrayAddressReply(w, address, bit);
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

// A child type as a new object of the workspace; missing answers absent.
void TypeReply(SymbolService& service, std::uint32_t ws, const Type* child, QXSymResult absent,
               Reply& reply) {
  if (child == nullptr) return reply.Status(absent);
  std::uint32_t id = 0;
  QXSymResult r = service.TypeId(ws, child, &id);
  if (r != symResOk) return reply.Status(r);
  RefReply(reply, service.RefFor(id));
}

void ArrayDimensionsReply(const Type& t, Reply& reply) {
  std::vector<std::uint32_t> counts;
  counts.reserve(t.dims.size());
  for (const ArrayDim& d : t.dims) counts.push_back(d.count());
  WireWriter w = reply.Payload(ArrayDimensionsPayloadSize(counts.size()));
  PackArrayDimensionsReply(w, counts.data(), static_cast<std::uint32_t>(counts.size()));
}

void HandleTypeCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                       std::uint32_t obj, WireReader& in, Reply& reply) {
  std::string text;
  std::uint32_t index = 0;
  bool ok;
  if (code == kCmdTypeGetChild || code == kCmdTypeGetChildName ||
      code == kCmdTypeGetArrayDimension) {
    ok = UnpackTypeIndexRequest(in, &index);
  } else if (code == kCmdTypeGetChildByName) {
    ok = UnpackChildByNameRequest(in, &text);
  } else {
    ok = in.remaining() == 0;
  }
  if (!ok) return reply.Status(symResInvalidParameter);
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
      return TypeReply(service, ws, t->Child(index), symResInvalidParameter, reply);
    case kCmdTypeGetChildByName:
      return TypeReply(service, ws, t->ChildByName(text), symResSymbolNotFound, reply);
    case kCmdTypeGetArrayNumDimensions:
      return U32Reply(reply, static_cast<std::uint32_t>(t->dims.size()));
    case kCmdTypeGetArrayDimension:
      if (index >= t->dims.size()) return reply.Status(symResInvalidParameter);
      return U32Reply(reply, t->dims[index].count());
    case kCmdTypeGetArrayDimensions:
      return ArrayDimensionsReply(*t, reply);
    default:
      return reply.Status(symResUnkownCommand);
  }
}

// ---- Group commands ----

void HandleGroupCommand(SymbolService& service, std::uint16_t code, std::uint32_t ws,
                        std::uint32_t obj, WireReader& in, Reply& reply) {
  SymRef tag_ref;
  std::uint32_t total = 0;
  const std::uint8_t* data = nullptr;
  bool ok;
  if (code == kCmdGroupAddTag || code == kCmdGroupRemoveTag) {
    ok = UnpackGroupMemberRequest(in, &tag_ref);
  } else if (code == kCmdGroupRead) {
    ok = UnpackGroupReadRequest(in, &total);
  } else if (code == kCmdGroupWrite) {
    ok = UnpackGroupWriteRequest(in, &total, &data);
  } else {
    ok = in.remaining() == 0;
  }
  if (!ok) return reply.Status(symResInvalidParameter);
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
      WireWriter w = reply.Payload(GroupReadPayloadSize(values.size()));
      PackGroupReadReply(w, values.data(), static_cast<std::uint32_t>(values.size()));
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
    // The model stays in place for the whole request.
    std::shared_lock<std::shared_mutex> program = ShareProgram();
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
  if (!UnpackRef(in, &ws_ref) || (!ws_cmd && !UnpackRef(in, &obj_ref))) {
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
