// The symbol-service messages of src/wire: each pack gives the documented
// bytes, written out here by hand, and the matching unpack gives back what
// went in; unpacks refuse what is short, overlong or malformed and leave
// their outputs as they were.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "GroupMessages.h"
#include "TagMessages.h"
#include "TypeMessages.h"
#include "WorkspaceMessages.h"

namespace qxsym {
namespace {

using Bytes = std::vector<std::uint8_t>;

const SymRef kWorkspace{0x11223344, 0x55667788};
const SymRef kTag{0x01020304, 0xA0B0C0D0};

// Runs pack into a buffer of `capacity` bytes and returns what it wrote, or
// nothing when the writer ran out of room.
template <typename Pack>
Bytes Packed(std::size_t capacity, Pack pack) {
  Bytes buffer(capacity);
  WireWriter w(buffer.data(), buffer.size());
  pack(w);
  if (!w.ok()) return {};
  buffer.resize(w.size());
  return buffer;
}

Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
const Bytes kWorkspaceBytes = {0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55};
const Bytes kTagBytes = {0x04, 0x03, 0x02, 0x01, 0xD0, 0xC0, 0xB0, 0xA0};

// The reader positioned after the request's header, as the service has it.
WireReader After(const Bytes& request, std::size_t header) {
  return WireReader(request.data() + header, request.size() - header);
}

TEST(MessagesTest, WorkspaceRequestsRoundTrip) {
  const Bytes open = Packed(16, [](WireWriter& w) { PackOpenWorkspaceRequest(w, 7); });
  EXPECT_EQ(open, (Bytes{0x04, 0x00, 0x07}));
  std::uint8_t selector = 0;
  WireReader r = After(open, 2);
  EXPECT_TRUE(UnpackOpenWorkspaceRequest(r, &selector));
  EXPECT_EQ(selector, 7);

  const Bytes table = Packed(kReadSymbolTableRequestSize, [](WireWriter& w) {
    PackReadSymbolTableRequest(w, kWorkspace, 0x01020304);
  });
  EXPECT_EQ(table, Cat({{0x09, 0x00}, kWorkspaceBytes, {0x04, 0x03, 0x02, 0x01}}));
  std::uint32_t size = 0;
  r = After(table, kWorkspaceHeaderSize);
  EXPECT_TRUE(UnpackReadSymbolTableRequest(r, &size));
  EXPECT_EQ(size, 0x01020304u);

  const Bytes tag = Packed(kGlobalTagRequestCapacity,
                           [](WireWriter& w) { PackGlobalTagRequest(w, kWorkspace, "ab"); });
  EXPECT_EQ(tag, Cat({{0x0A, 0x00}, kWorkspaceBytes, {0x03, 0x00, 'a', 'b', 0x00}}));
  std::string name;
  r = After(tag, kWorkspaceHeaderSize);
  EXPECT_TRUE(UnpackGlobalTagRequest(r, &name));
  EXPECT_EQ(name, "ab");

  const Bytes filter = Packed(kFilterRequestSize, [](WireWriter& w) {
    PackFilterRequest(w, kCmdQueryGlobalTags, kWorkspace, "x*");
  });
  ASSERT_EQ(filter.size(), kFilterRequestSize);
  EXPECT_EQ(Bytes(filter.begin(), filter.begin() + 15),
            Cat({{0x6E, 0x00}, kWorkspaceBytes, {0x03, 0x00, 'x', '*', 0x00}}));
  EXPECT_EQ(filter.back(), 0);
  r = After(filter, kWorkspaceHeaderSize);
  EXPECT_TRUE(UnpackFilterRequest(r, &name));
  EXPECT_EQ(name, "x*");
}

TEST(MessagesTest, RequestTextsAreCutAndCheckedByTheService) {
  // A null text goes as "", a long one is cut to 259 characters.
  const Bytes empty = Packed(16, [](WireWriter& w) { PackText(w, nullptr); });
  EXPECT_EQ(empty, (Bytes{0x01, 0x00, 0x00}));
  const std::string long_name(400, 'n');
  const Bytes cut = Packed(300, [&](WireWriter& w) { PackText(w, long_name.c_str()); });
  ASSERT_EQ(cut.size(), 2u + 260u);
  EXPECT_EQ(cut[0] | (cut[1] << 8), 260);
  EXPECT_EQ(cut.back(), 0);
  std::string got = "kept";
  // Lengths 0 and 261, a missing terminator and a text longer than what
  // arrived: refused, output untouched.
  for (const Bytes& bad : {Bytes{0x00, 0x00}, Bytes{0x05, 0x01, 'a'}, Bytes{0x02, 0x00, 'a', 'b'},
                           Bytes{0x04, 0x00, 'a', 0x00}}) {
    WireReader r(bad.data(), bad.size());
    EXPECT_FALSE(UnpackGlobalTagRequest(r, &got));
  }
  EXPECT_EQ(got, "kept");
  // Bytes after the text.
  const Bytes trailing = {0x02, 0x00, 'a', 0x00, 0x00};
  WireReader after_text(trailing.data(), trailing.size());
  EXPECT_FALSE(UnpackGlobalTagRequest(after_text, &got));
  // A filter must bring its whole 260-byte field.
  const Bytes short_field = {0x02, 0x00, 'a', 0x00};
  WireReader r(short_field.data(), short_field.size());
  EXPECT_FALSE(UnpackFilterRequest(r, &got));
}

TEST(MessagesTest, WorkspaceRepliesRoundTrip) {
  const GlobalTagReply sent{kTag, 0x0B, 4, 40};
  const Bytes tag =
      Packed(kGlobalTagPayloadSize, [&](WireWriter& w) { PackGlobalTagReply(w, sent); });
  EXPECT_EQ(tag, Cat({kTagBytes, {0x0B, 0, 0, 0, 4, 0, 0, 0, 40, 0, 0, 0}}));
  GlobalTagReply got;
  WireReader r(tag.data(), tag.size());
  ASSERT_TRUE(UnpackGlobalTagReply(r, &got));
  EXPECT_EQ(got.tag, kTag);
  EXPECT_EQ(got.data_full_size, 40u);
  GlobalTagReply untouched{kWorkspace, 1, 2, 3};
  WireReader short_reply(tag.data(), tag.size() - 1);
  EXPECT_FALSE(UnpackGlobalTagReply(short_reply, &untouched));
  EXPECT_EQ(untouched.tag, kWorkspace);
  EXPECT_EQ(untouched.data_size, 2u);

  const std::uint8_t version[4] = {3, 1, 4, 15};
  const Bytes v = Packed(4, [&](WireWriter& w) { PackServerVersionReply(w, version); });
  std::uint8_t back[4] = {};
  r = WireReader(v.data(), v.size());
  ASSERT_TRUE(UnpackServerVersionReply(r, back));
  EXPECT_EQ(Bytes(back, back + 4), (Bytes{3, 1, 4, 15}));
}

TEST(MessagesTest, TagListRoundTripAndRefusals) {
  const SymRef tags[2] = {kTag, kWorkspace};
  const Bytes list =
      Packed(TagListPayloadSize(2), [&](WireWriter& w) { PackTagListReply(w, 9, tags, 2); });
  EXPECT_EQ(list,
            Cat({{9, 0, 0, 0, 0, 0, 0, 0, 16, 0, 0, 0, 2, 0, 0, 0}, kTagBytes, kWorkspaceBytes}));
  std::uint32_t count = 0;
  WireReader r(list.data(), list.size());
  ASSERT_TRUE(UnpackTagListReply(r, &count));
  ASSERT_EQ(count, 2u);
  const std::uint8_t* entries = UnpackTagListEntries(r, count);
  ASSERT_NE(entries, nullptr);
  EXPECT_EQ(TagListEntry(entries, 0), kTag);
  EXPECT_EQ(TagListEntry(entries, 1), kWorkspace);

  // A byte length that is not 8 per tag, and entries that did not arrive.
  Bytes odd = list;
  odd[8] = 15;
  r = WireReader(odd.data(), odd.size());
  EXPECT_FALSE(UnpackTagListReply(r, &count));
  r = WireReader(list.data(), list.size() - 1);
  ASSERT_TRUE(UnpackTagListReply(r, &count));
  EXPECT_EQ(UnpackTagListEntries(r, count), nullptr);
}

TEST(MessagesTest, ValueMessagesRoundTrip) {
  const std::uint32_t indices[3] = {1, 2, 0x01000000};
  const Bytes value = {0xAA, 0xBB, 0xCC};
  const Bytes write = Packed(ValueWriteRequestSize(kCmdTagSetArrayValue, 3), [&](WireWriter& w) {
    PackValueWriteRequest(w, kCmdTagSetArrayValue, kWorkspace, kTag, indices, value.data(), 3);
  });
  EXPECT_EQ(write, Cat({{0x2B, 0x00},
                        kWorkspaceBytes,
                        kTagBytes,
                        {1, 0, 0, 0, 2, 0, 0, 0, 0, 0, 0, 1, 3, 0, 0xAA, 0xBB, 0xCC}}));
  std::uint32_t got_indices[3] = {};
  const std::uint8_t* got_value = nullptr;
  std::size_t got_size = 0;
  WireReader r = After(write, kObjectHeaderSize);
  ASSERT_TRUE(UnpackValueWriteRequest(r, kCmdTagSetArrayValue, got_indices, &got_value, &got_size));
  EXPECT_EQ(got_indices[2], 0x01000000u);
  EXPECT_EQ(Bytes(got_value, got_value + got_size), value);
  // The length field must agree with the bytes that follow it.
  Bytes wrong = write;
  wrong[kObjectHeaderSize + kIndicesSize] = 2;
  r = After(wrong, kObjectHeaderSize);
  EXPECT_FALSE(
      UnpackValueWriteRequest(r, kCmdTagSetArrayValue, got_indices, &got_value, &got_size));

  // The whole-value forms carry no indices.
  const Bytes read = Packed(kTagIndexedRequestSize, [](WireWriter& w) {
    PackValueReadRequest(w, kCmdTagGetValue, kWorkspace, kTag, nullptr);
  });
  EXPECT_EQ(read.size(), kObjectHeaderSize);
  r = After(read, kObjectHeaderSize);
  EXPECT_TRUE(UnpackValueReadRequest(r, kCmdTagGetValue, got_indices));

  const Bytes reply =
      Packed(ValueReplyPayloadSize(3), [&](WireWriter& w) { PackValueReply(w, value.data(), 3); });
  EXPECT_EQ(reply, (Bytes{3, 0, 0xAA, 0xBB, 0xCC}));
  std::uint16_t length = 0;
  r = WireReader(reply.data(), reply.size() - 1);
  ASSERT_TRUE(UnpackValueReply(r, &length, &got_value));
  EXPECT_EQ(length, 3);
  EXPECT_EQ(got_value, nullptr);  // announced, did not arrive
}

TEST(MessagesTest, RawAndAddressMessagesRoundTrip) {
  const Bytes data = {1, 2, 3, 4, 5};
  const Bytes write = Packed(kRawRequestSize + 5, [&](WireWriter& w) {
    PackRawWriteRequest(w, kWorkspace, kTag, 0x10, data.data(), 5);
  });
  EXPECT_EQ(
      write,
      Cat({{0x2D, 0x00}, kWorkspaceBytes, kTagBytes, {0x10, 0, 0, 0, 5, 0, 0, 0, 1, 2, 3, 4, 5}}));
  std::uint32_t offset = 0, size = 0;
  const std::uint8_t* bytes = nullptr;
  WireReader r = After(write, kObjectHeaderSize);
  ASSERT_TRUE(UnpackRawWriteRequest(r, &offset, &size, &bytes));
  EXPECT_EQ(offset, 0x10u);
  EXPECT_EQ(Bytes(bytes, bytes + size), data);
  r = WireReader(write.data() + kObjectHeaderSize, write.size() - kObjectHeaderSize - 1);
  EXPECT_FALSE(UnpackRawWriteRequest(r, &offset, &size, &bytes));

  const Bytes raw =
      Packed(RawReplyPayloadSize(5), [&](WireWriter& w) { PackRawReply(w, data.data(), 5); });
  EXPECT_EQ(raw, (Bytes{5, 0, 0, 0, 1, 2, 3, 4, 5}));

  const Bytes address = Packed(kArrayAddressPayloadSize, [](WireWriter& w) {
    PackArrayAddressReply(w, 0x0102030405060708ull, 3);
  });
  EXPECT_EQ(address, (Bytes{8, 7, 6, 5, 4, 3, 2, 1, 3, 0, 0, 0}));
  std::uint64_t a = 0;
  std::uint32_t bit = 0;
  r = WireReader(address.data(), address.size());
  ASSERT_TRUE(UnpackArrayAddressReply(r, &a, &bit));
  EXPECT_EQ(a, 0x0102030405060708ull);
  EXPECT_EQ(bit, 3u);
}

TEST(MessagesTest, ReplyTextsBothForms) {
  const Bytes with_length = Packed(300, [](WireWriter& w) { PackText(w, "name"); });
  const Bytes in_field = Packed(300, [](WireWriter& w) { PackTextField(w, "name"); });
  ASSERT_EQ(in_field.size(), kTextFieldSize);
  for (const Bytes& reply : {with_length, in_field}) {
    const std::uint8_t* text = nullptr;
    std::uint16_t length = 0;
    WireReader r(reply.data(), reply.size());
    ASSERT_TRUE(UnpackReplyText(r, &text, &length));
    EXPECT_EQ(length, 5);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(text)), "name");
  }
  // 0 and 261 are refused, as is a text longer than the reply.
  for (const Bytes& bad : {Bytes{0, 0}, Bytes{0x05, 0x01}, Bytes{3, 0, 'a', 0}}) {
    const std::uint8_t* text = nullptr;
    std::uint16_t length = 0;
    WireReader r(bad.data(), bad.size());
    EXPECT_FALSE(UnpackReplyText(r, &text, &length));
    EXPECT_EQ(text, nullptr);
  }
}

TEST(MessagesTest, TypeMessagesRoundTrip) {
  const Bytes child = Packed(kTypeIndexRequestSize, [](WireWriter& w) {
    PackTypeIndexRequest(w, kCmdTypeGetChild, kWorkspace, kTag, 0x0A0B);
  });
  EXPECT_EQ(child, Cat({{0x53, 0x00}, kWorkspaceBytes, kTagBytes, {0x0B, 0x0A, 0, 0}}));
  std::uint32_t index = 0;
  WireReader r = After(child, kObjectHeaderSize);
  ASSERT_TRUE(UnpackTypeIndexRequest(r, &index));
  EXPECT_EQ(index, 0x0A0Bu);

  const Bytes by_name = Packed(kChildByNameRequestCapacity, [](WireWriter& w) {
    PackChildByNameRequest(w, kWorkspace, kTag, "x");
  });
  EXPECT_EQ(by_name, Cat({{0x54, 0x00}, kWorkspaceBytes, kTagBytes, {0x02, 0x00, 'x', 0x00}}));
  std::string name;
  r = After(by_name, kObjectHeaderSize);
  ASSERT_TRUE(UnpackChildByNameRequest(r, &name));
  EXPECT_EQ(name, "x");

  const std::uint32_t counts[2] = {3, 0x100};
  const Bytes dims = Packed(ArrayDimensionsPayloadSize(2),
                            [&](WireWriter& w) { PackArrayDimensionsReply(w, counts, 2); });
  EXPECT_EQ(dims, (Bytes{2, 0, 0, 0, 3, 0, 0, 0, 0, 1, 0, 0}));
  std::uint32_t count = 0;
  const std::uint8_t* raw = nullptr;
  r = WireReader(dims.data(), dims.size());
  ASSERT_TRUE(UnpackArrayDimensionsReply(r, &count, &raw));
  ASSERT_NE(raw, nullptr);
  EXPECT_EQ(ArrayDimensionEntry(raw, 1), 0x100u);
  r = WireReader(dims.data(), dims.size() - 1);
  ASSERT_TRUE(UnpackArrayDimensionsReply(r, &count, &raw));
  EXPECT_EQ(raw, nullptr);
}

TEST(MessagesTest, GroupMessagesRoundTrip) {
  const Bytes add = Packed(kGroupMemberRequestSize, [](WireWriter& w) {
    PackGroupMemberRequest(w, kCmdGroupAddTag, kWorkspace, kWorkspace, kTag);
  });
  EXPECT_EQ(add, Cat({{0x66, 0x00}, kWorkspaceBytes, kWorkspaceBytes, kTagBytes}));
  SymRef tag;
  WireReader r = After(add, kObjectHeaderSize);
  ASSERT_TRUE(UnpackGroupMemberRequest(r, &tag));
  EXPECT_EQ(tag, kTag);

  const Bytes read = Packed(kGroupSizedRequestSize,
                            [](WireWriter& w) { PackGroupReadRequest(w, kWorkspace, kTag, 6); });
  EXPECT_EQ(read, Cat({{0x68, 0x00}, kWorkspaceBytes, kTagBytes, {6, 0, 0, 0}}));
  const Bytes values = {1, 2, 3, 4, 5, 6};
  const Bytes reply = Packed(GroupReadPayloadSize(6),
                             [&](WireWriter& w) { PackGroupReadReply(w, values.data(), 6); });
  EXPECT_EQ(reply, Cat({{6, 0, 0, 0}, values}));
  std::uint32_t length = 0;
  const std::uint8_t* got = nullptr;
  r = WireReader(reply.data(), reply.size());
  ASSERT_TRUE(UnpackGroupReadReply(r, &length, &got));
  EXPECT_EQ(Bytes(got, got + length), values);

  // The write request reserves its values as zeros, to be filled in place.
  Bytes write = Packed(kGroupWriteValuesAt + 6,
                       [](WireWriter& w) { PackGroupWriteRequest(w, kWorkspace, kTag, 6); });
  EXPECT_EQ(write, Cat({{0x69, 0x00}, kWorkspaceBytes, kTagBytes, {6, 0, 0, 0}, Bytes(6, 0)}));
  write[kGroupWriteValuesAt + 5] = 9;
  std::uint32_t total = 0;
  r = After(write, kObjectHeaderSize);
  ASSERT_TRUE(UnpackGroupWriteRequest(r, &total, &got));
  EXPECT_EQ(total, 6u);
  EXPECT_EQ(got[5], 9);
  // A total that disagrees with the bytes that follow.
  r = WireReader(write.data() + kObjectHeaderSize, write.size() - kObjectHeaderSize - 1);
  EXPECT_FALSE(UnpackGroupWriteRequest(r, &total, &got));
}

}  // namespace
}  // namespace qxsym
