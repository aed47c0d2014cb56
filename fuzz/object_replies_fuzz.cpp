// Every workspace, tag, type and group operation of a Remote workspace,
// behind a channel whose replies come from the input. The input's back end
// picks the operations and their arguments; its front end supplies, for each
// exchange, a control byte (a failing result, or a reply whose command code
// and status the harness sets right so that the fuzzer reaches the parsing
// behind them) and the reply bytes. Objects the operations hand out (tags,
// types, groups, copies) join the pools that later operations pick from.
// Buffers are exactly as large as the caller says, so that the address
// sanitizer sees any write past them.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "CCommunication.h"
#include "LibraryState.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientType.h"
#include "QXSymClientWorkspaceRemote.h"

namespace qxsym {
namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

class FuzzChannel final : public CCommunication {
 public:
  explicit FuzzChannel(FuzzedDataProvider& in) : in_(in) { connected_ = true; }

  bool Open(const QXSymServerAddress*) override { return true; }
  bool Close() override {
    connected_ = false;
    return true;
  }

  QXSymResult Transact(const void* request, std::uint32_t requestSize, void* response,
                       std::uint32_t* responseSize) override {
    Require(request != nullptr && response != nullptr && responseSize != nullptr);
    Require(requestSize >= 2);
    if (!connected_) return symResConnectionLost;
    const std::vector<std::uint8_t> c = in_.ConsumeBytes<std::uint8_t>(1);
    if (c.empty()) return symResTimeoutError;
    static const QXSymResult kFailures[] = {symResTimeoutError, symResSocketError,
                                            symResSegmentationError, symResProtocolError,
                                            symResNotOk};
    if ((c[0] & 0x0F) >= 11) return kFailures[(c[0] & 0x0F) - 11];
    const std::string text = in_.ConsumeRandomLengthString(8192);
    std::vector<std::uint8_t> reply(text.begin(), text.end());
    const auto* req = static_cast<const std::uint8_t*>(request);
    if (c[0] & 0x10) {  // the request's command code
      if (reply.size() < 2) reply.resize(2);
      reply[0] = req[0];
      reply[1] = req[1];
    }
    if (c[0] & 0x20) {  // status symResOk
      if (reply.size() < 4) reply.resize(4);
      reply[2] = 0;
      reply[3] = 0;
    }
    if (c[0] & 0x40) {  // a 32-bit count right after the header, kept small
      if (reply.size() < 8) reply.resize(8);
      reply[5] = reply[6] = reply[7] = 0;
      reply[4] &= 0x3F;
    }
    const auto n = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), *responseSize));
    if (n != 0) std::memcpy(response, reply.data(), n);
    *responseSize = n;
    return symResOk;
  }

  // The memory and variable commands answer from the input too.
  QXSymResult ReadMemory(std::uint32_t, std::int32_t size, void* buffer) override {
    return Fill(size, buffer, symResMemReadError);
  }
  QXSymResult WriteMemory(std::uint32_t, std::int32_t, const void*) override { return Verdict(); }
  QXSymResult WriteBit(std::uint32_t, std::uint32_t, std::uint8_t) override { return Verdict(); }
  QXSymResult WriteBits(std::uint32_t, std::uint32_t, std::uint8_t, const void*) override {
    return Verdict();
  }
  QXSymResult ReadMemory64(std::uint64_t, std::int32_t size, void* buffer) override {
    return Fill(size, buffer, symResMemReadError);
  }
  QXSymResult WriteMemory64(std::uint64_t, std::int32_t, const void*) override { return Verdict(); }
  QXSymResult WriteBit64(std::uint64_t, std::uint32_t, std::uint8_t) override { return Verdict(); }
  QXSymResult WriteBits64(std::uint64_t, std::uint32_t, std::uint8_t, const void*) override {
    return Verdict();
  }
  QXSymResult ReadVariable(std::uint16_t, std::uint32_t, void* buffer, std::uint16_t bufferSize,
                           std::uint8_t) override {
    return Fill(bufferSize, buffer, symResMemReadError);
  }
  QXSymResult WriteVariable(std::uint16_t, std::uint32_t, const void*, std::uint16_t,
                            std::uint8_t) override {
    return Verdict();
  }

 private:
  QXSymResult Verdict() { return in_.ConsumeBool() ? symResOk : symResMemWriteError; }
  QXSymResult Fill(std::int32_t size, void* buffer, QXSymResult failure) {
    if (!in_.ConsumeBool()) return failure;
    if (size > 0) std::memset(buffer, 0x3C, static_cast<std::size_t>(size));
    return symResOk;
  }

  FuzzedDataProvider& in_;
};

// A caller's text buffer of exactly `capacity` characters.
struct TextBuffer {
  explicit TextBuffer(std::uint16_t capacity)
      : data(std::make_unique<TCHAR[]>(capacity)), length(capacity), capacity(capacity) {}
  // On success the text is terminated within the buffer.
  void Check(QXSymResult r) const {
    if (r == symResOk && capacity > 0) {
      Require(std::memchr(data.get(), 0, capacity) != nullptr);
    }
  }
  std::unique_ptr<TCHAR[]> data;
  std::uint16_t length;
  std::uint16_t capacity;
};

constexpr std::size_t kMaxPool = 48;

template <typename T>
void Keep(std::vector<std::unique_ptr<T>>* pool, std::unique_ptr<T> object) {
  if (object && pool->size() < kMaxPool) pool->push_back(std::move(object));
}

template <typename T>
T* Pick(std::vector<std::unique_ptr<T>>& pool, FuzzedDataProvider& in) {
  if (pool.empty()) return nullptr;
  return pool[in.ConsumeIntegralInRange<std::size_t>(0, pool.size() - 1)].get();
}

std::string Name(FuzzedDataProvider& in) {
  static const char* const kNames[] = {"counter", "motor", "motor.speed", "temps[2]", "*",
                                       "A*",      "",      "x.y.z"};
  return kNames[in.ConsumeIntegralInRange<int>(0, 7)];
}

using TagPool = std::vector<std::unique_ptr<QXSymClientTag>>;
using TypePool = std::vector<std::unique_ptr<QXSymClientType>>;
using GroupPool = std::vector<std::unique_ptr<QXSymClientGroup>>;

void WorkspaceOp(QXSymClientWorkspace& ws, std::uint8_t op, FuzzedDataProvider& in, TagPool* tags,
                 GroupPool* groups) {
  switch (op % 12) {
    case 0: {
      std::uint8_t v[4] = {9, 9, 9, 9};
      ws.GetServerVersion(&v[0], &v[1], &v[2], &v[3]);
      break;
    }
    case 1:
      ws.IsValid();
      break;
    case 2: {
      std::uint32_t size = 0;
      ws.GetSymbolTableSize(&size);
      break;
    }
    case 3: {
      const auto size = in.ConsumeIntegralInRange<std::uint32_t>(0, 70000);
      auto buffer = std::make_unique<std::uint8_t[]>(size);
      ws.ReadSymbolTable(size, buffer.get());
      break;
    }
    case 4: {
      std::unique_ptr<QXSymClientTag> tag;
      if (ws.GetGlobalTag(Name(in).c_str(), &tag) == symResOk) Require(tag != nullptr);
      Keep(tags, std::move(tag));
      break;
    }
    case 5:
    case 6: {
      QXSymClientWorkspace::TagList list;
      const auto capacity = in.ConsumeIntegralInRange<std::uint32_t>(0, 20);
      const QXSymResult r = (op % 12) == 5 ? ws.GetGlobalTags(&list, capacity)
                                           : ws.QueryGlobalTags(Name(in).c_str(), &list, capacity);
      (void)r;
      Require(list.size() <= capacity);
      for (auto& t : list) Keep(tags, std::move(t));
      break;
    }
    case 7: {
      std::uint32_t count = 0;
      ws.GetGlobalTagsNum(&count);
      break;
    }
    case 8: {
      std::uint32_t count = 0;
      ws.QueryGlobalTagsNum(Name(in).c_str(), &count);
      break;
    }
    case 9: {
      std::unique_ptr<QXSymClientGroup> group;
      if (ws.CreateGroup(&group) == symResOk) Require(group != nullptr);
      Keep(groups, std::move(group));
      break;
    }
    case 10:
      ws.OpenOnServer(in.ConsumeIntegral<std::uint8_t>());
      break;
    default:
      ws.CloseOnServer();
      break;
  }
}

void TagOp(TagPool& tags, std::uint8_t op, FuzzedDataProvider& in, TypePool* types) {
  const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, tags.size() - 1);
  QXSymClientTag& tag = *tags[at];
  const auto capacity = in.ConsumeIntegralInRange<std::uint16_t>(0, 300);
  const auto size = in.ConsumeIntegralInRange<std::uint32_t>(0, 5000);
  const auto i1 = in.ConsumeIntegralInRange<std::uint32_t>(0, 12);
  const auto i2 = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
  const auto i3 = in.ConsumeIntegralInRange<std::uint32_t>(0, 3);
  switch (op % 20) {
    case 0:
      tag.Close();
      tags.erase(tags.begin() + static_cast<std::ptrdiff_t>(at));
      break;
    case 1: {
      TextBuffer b(capacity);
      b.Check(tag.GetName(b.data.get(), &b.length));
      break;
    }
    case 2: {
      TextBuffer b(capacity);
      b.Check(tag.GetDataType(b.data.get(), &b.length));
      break;
    }
    case 3: {
      TextBuffer b(capacity);
      b.Check(tag.GetDescr(b.data.get(), &b.length));
      break;
    }
    case 4: {
      TextBuffer b(capacity);
      b.Check(tag.GetAttribute(Name(in).c_str(), b.data.get(), &b.length));
      break;
    }
    case 5: {
      std::uint32_t v = 0;
      tag.GetDataTypeVar(&v);
      tag.GetDataSize(&v);
      tag.GetDataFullSize(&v);
      break;
    }
    case 6: {
      bool_t a = 0;
      tag.IsReadOnly(&a);
      tag.IsBitAddress(&a);
      break;
    }
    case 7: {
      std::uint32_t d[3] = {0, 0, 0};
      tag.GetDims(&d[0], &d[1], &d[2]);
      break;
    }
    case 8: {
      auto buffer = std::make_unique<std::uint8_t[]>(size);
      tag.GetValue(buffer.get(), size);
      break;
    }
    case 9: {
      std::vector<std::uint8_t> data(size + 1, 0x41);
      tag.SetValue(data.data(), size);
      break;
    }
    case 10: {
      auto buffer = std::make_unique<std::uint8_t[]>(size);
      tag.GetArrayValue(i1, i2, i3, buffer.get(), size);
      break;
    }
    case 11: {
      std::vector<std::uint8_t> data(size + 1, 0x42);
      tag.SetArrayValue(i1, i2, i3, data.data(), size);
      break;
    }
    case 12: {
      std::unique_ptr<QXSymClientType> type;
      if (tag.GetType(&type) == symResOk) Require(type != nullptr);
      Keep(types, std::move(type));
      break;
    }
    case 13: {
      auto buffer = std::make_unique<std::uint8_t[]>(size);
      tag.GetRawValue(buffer.get(), size);
      break;
    }
    case 14: {
      std::vector<std::uint8_t> data(size + 1, 0x43);
      tag.SetRawValue(data.data(), size);
      break;
    }
    case 15: {
      qxsym_addr_t address = 0;
      std::uint32_t bit = 0;
      tag.GetArrayAddress(i1, i2, i3, &address, in.ConsumeBool() ? &bit : nullptr);
      break;
    }
    default:
      Keep(&tags, tag.Clone());
      break;
  }
}

void TypeOp(TypePool& types, std::uint8_t op, FuzzedDataProvider& in) {
  QXSymClientType& type = *Pick(types, in);
  const auto capacity = in.ConsumeIntegralInRange<std::uint16_t>(0, 300);
  const auto index = in.ConsumeIntegralInRange<std::uint32_t>(0, 8);
  switch (op % 10) {
    case 0: {
      bool_t a = 0;
      type.IsBasic(&a);
      type.IsComplex(&a);
      type.IsString(&a);
      type.IsArray(&a);
      type.IsStruct(&a);
      type.IsFunctionBlock(&a);
      type.IsNumeric(&a);
      type.IsSigned(&a);
      type.IsInteger(&a);
      break;
    }
    case 1: {
      std::uint32_t v = 0;
      type.GetSize(&v);
      type.GetNumChildren(&v);
      type.GetProperties(&v);
      type.GetArrayNumDimensions(&v);
      break;
    }
    case 2: {
      TextBuffer b(capacity);
      b.Check(type.GetName(b.data.get(), &b.length));
      break;
    }
    case 3: {
      std::unique_ptr<QXSymClientType> child;
      if (type.GetChild(index, &child) == symResOk) Require(child != nullptr);
      Keep(&types, std::move(child));
      break;
    }
    case 4: {
      std::unique_ptr<QXSymClientType> child;
      if (type.GetChildByName(Name(in).c_str(), &child) == symResOk) Require(child != nullptr);
      Keep(&types, std::move(child));
      break;
    }
    case 5: {
      TextBuffer b(capacity);
      b.Check(type.GetChildName(index, b.data.get(), &b.length));
      break;
    }
    case 6: {
      std::uint32_t v = 0;
      type.GetArrayDimension(index, &v);
      break;
    }
    case 7: {
      const auto max = in.ConsumeIntegralInRange<std::uint8_t>(0, 5);
      auto values = std::make_unique<std::uint32_t[]>(max);
      type.GetArrayDimensions(values.get(), max);
      break;
    }
    default:
      Keep(&types, type.Clone());
      break;
  }
}

void GroupOp(GroupPool& groups, const TagPool& tags, std::uint8_t op, FuzzedDataProvider& in) {
  const std::size_t at = in.ConsumeIntegralInRange<std::size_t>(0, groups.size() - 1);
  QXSymClientGroup& group = *groups[at];
  // A tag's registry handle is its place in the pool, plus one.
  const std::size_t t =
      tags.empty() ? 0 : in.ConsumeIntegralInRange<std::size_t>(0, tags.size() - 1);
  const auto handle = static_cast<QXSymTagHandle>(t + 1);
  const auto size = in.ConsumeIntegralInRange<std::uint32_t>(0, 600);
  switch (op % 8) {
    case 0:
      group.Delete();
      break;
    case 1:
      if (!tags.empty()) group.AddTag(handle, *tags[t]);
      break;
    case 2:
      if (!tags.empty()) group.RemoveTag(handle, *tags[t]);
      break;
    case 3:
      group.Read();
      break;
    case 4:
      group.Write();
      break;
    case 5: {
      auto buffer = std::make_unique<std::uint8_t[]>(size);
      group.GetTagValue(handle, buffer.get(), size);
      break;
    }
    case 6: {
      std::vector<std::uint8_t> data(size + 1, 0x44);
      group.SetTagValue(handle, data.data(), size);
      break;
    }
    default: {
      std::uint32_t count = 0, total = 0;
      group.GetInfo(&count, &total);
      Keep(&groups, group.Clone());
      break;
    }
  }
}

}  // namespace
}  // namespace qxsym

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qxsym;
  FuzzedDataProvider in(data, size);
  {
    auto channel = std::make_shared<FuzzChannel>(in);
    std::vector<std::unique_ptr<QXSymClientWorkspace>> workspaces;
    workspaces.push_back(
        std::make_unique<QXSymClientWorkspaceRemote>(channel, SymRef{0x1111, 0x2222}));
    TagPool tags;
    TypePool types;
    GroupPool groups;
    for (int ops = 0; ops < 64 && in.remaining_bytes() > 0; ++ops) {
      const auto op = in.ConsumeIntegral<std::uint8_t>();
      switch (op >> 6) {
        case 0:
          if ((op & 0x3F) == 0x3F && workspaces.size() < 4) {
            workspaces.push_back(workspaces.front()->Clone());
          } else {
            WorkspaceOp(*Pick(workspaces, in), op, in, &tags, &groups);
          }
          break;
        case 1:
          if (!tags.empty()) TagOp(tags, op, in, &types);
          break;
        case 2:
          if (!types.empty()) TypeOp(types, op, in);
          break;
        default:
          if (!groups.empty()) GroupOp(groups, tags, op, in);
          break;
      }
    }
    // Groups first: they may refer to tags.
    groups.clear();
    types.clear();
    tags.clear();
    workspaces.clear();
  }
  LibraryState::Get().ReleaseRetired();
  return 0;
}
