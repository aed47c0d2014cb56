#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "FakeHostTable.h"
#include "ModelTestUtil.h"
#include "QXSymClientGroupDirect.h"
#include "QXSymClientGroupRemote.h"
#include "QXSymClientTagDirect.h"
#include "QXSymClientTagRemote.h"
#include "QXSymClientWorkspaceDirect.h"
#include "QXSymClientWorkspaceRemote.h"

namespace qxsym {
namespace test {
namespace {

using TagList = QXSymClientWorkspace::TagList;

// A tag list reply: two unread words, byte length, count, references.
Bytes TagListReply(std::uint16_t code, std::uint32_t count, std::uint32_t byte_length,
                   std::uint32_t carried) {
  Bytes b = ReplyHeader(code).U32(0xDEAD).U32(0xBEEF).U32(byte_length).U32(count);
  for (std::uint32_t i = 0; i < carried; ++i) b.U32(0x100 + i).U32(0x200 + i);
  return b;
}

class WorkspaceRemoteTest : public ::testing::Test {
 protected:
  std::shared_ptr<FakeChannel> channel_ = std::make_shared<FakeChannel>();
  std::unique_ptr<QXSymClientWorkspaceRemote> ws_{new QXSymClientWorkspaceRemote(channel_, kWs)};
};

TEST_F(WorkspaceRemoteTest, OpenStoresTheReferenceUsedByLaterRequests) {
  QXSymClientWorkspaceRemote fresh(channel_, SymRef{});
  channel_->Reply(ReplyHeader(kCmdOpenWorkspace).U32(kWs.w0).U32(kWs.w1));
  channel_->Reply(ReplyHeader(kCmdIsValidWorkspace, symResInvalidWorkspace));
  EXPECT_EQ(fresh.OpenOnServer(0x5A), symResOk);
  EXPECT_EQ(fresh.IsValid(), symResInvalidWorkspace);
  EXPECT_EQ(channel_->request(0), Bytes().U16(kCmdOpenWorkspace).U8(0x5A).vec());
  EXPECT_EQ(channel_->capacity(0), 12u);
  EXPECT_EQ(channel_->request(1), WorkspaceRequest(kCmdIsValidWorkspace).vec());
}

TEST_F(WorkspaceRemoteTest, WorkspaceRequestsOfferTheirReplyCapacities) {
  std::uint32_t n = 0;
  std::unique_ptr<QXSymClientGroup> group;
  struct Case {
    std::uint16_t code;
    std::uint32_t capacity;
    std::function<QXSymResult()> run;
  } cases[] = {
      {kCmdCloseWorkspace, 4, [&] { return ws_->CloseOnServer(); }},
      {kCmdGetSymbolTableSize, 8, [&] { return ws_->GetSymbolTableSize(&n); }},
      {kCmdGetGlobalTagsNum, 8, [&] { return ws_->GetGlobalTagsNum(&n); }},
      {kCmdCreateGroup, 12, [&] { return ws_->CreateGroup(&group); }},
  };
  for (const Case& c : cases) {
    channel_->Reply(ReplyHeader(c.code, symResInvalidWorkspace));
    EXPECT_EQ(c.run(), symResInvalidWorkspace);
    EXPECT_EQ(channel_->request(channel_->call_count() - 1), WorkspaceRequest(c.code).vec());
    EXPECT_EQ(channel_->capacity(channel_->call_count() - 1), c.capacity) << c.code;
  }
  EXPECT_EQ(group, nullptr);
}

TEST_F(WorkspaceRemoteTest, VersionOutputsAreZeroedBeforeAsking) {
  channel_->Fail(symResTimeoutError);
  channel_->Reply(ReplyHeader(kCmdGetServerVersion).U8(3).U8(0).U8(1).U8(9));
  std::uint8_t v[4] = {7, 7, 7, 7};
  EXPECT_EQ(ws_->GetServerVersion(&v[0], &v[1], &v[2], &v[3]), symResTimeoutError);
  EXPECT_EQ(v[0] | v[1] | v[2] | v[3], 0);
  EXPECT_EQ(ws_->GetServerVersion(&v[0], &v[1], &v[2], &v[3]), symResOk);
  EXPECT_EQ(v[3], 9);
  EXPECT_EQ(channel_->request(0), Bytes().U16(kCmdGetServerVersion).vec());
  EXPECT_EQ(channel_->capacity(0), 8u);
}

TEST_F(WorkspaceRemoteTest, GlobalTagSendsTheCutNameAndFillsTheCache) {
  const std::string name(300, 'g');
  channel_->Reply(ReplyHeader(kCmdGetGlobalTag, symResSymbolNotFound));
  channel_->Reply(ReplyHeader(kCmdGetGlobalTag).U32(5).U32(6).U32(QXSymTyVarInt).U32(2).U32(4));
  std::unique_ptr<QXSymClientTag> tag;
  EXPECT_EQ(ws_->GetGlobalTag(name.c_str(), &tag), symResSymbolNotFound);
  EXPECT_EQ(tag, nullptr);
  ASSERT_EQ(ws_->GetGlobalTag("Speed", &tag), symResOk);
  const auto request = channel_->request(0);
  EXPECT_EQ(request.size(), 272u);
  EXPECT_EQ(request,
            WorkspaceRequest(kCmdGetGlobalTag).U16(260).Text(name.data(), 259).U8(0).vec());
  EXPECT_EQ(channel_->capacity(0), 24u);
  EXPECT_EQ(static_cast<QXSymClientTagRemote*>(tag.get())->tagRef(), (SymRef{5, 6}));
  std::uint32_t size = 0, full = 0, type = 0;
  EXPECT_EQ(tag->GetDataSize(&size), symResOk);
  EXPECT_EQ(tag->GetDataFullSize(&full), symResOk);
  EXPECT_EQ(tag->GetDataTypeVar(&type), symResOk);
  EXPECT_EQ(channel_->call_count(), 2u);  // all three from the cache
  EXPECT_EQ(size + full + type, 2u + 4u + QXSymTyVarInt);
}

TEST_F(WorkspaceRemoteTest, FilterFieldIsAlways260BytesAndNullIsEmpty) {
  channel_->Reply(ReplyHeader(kCmdQueryGlobalTagsNum).U32(3));
  std::uint32_t count = 0;
  EXPECT_EQ(ws_->QueryGlobalTagsNum(nullptr, &count), symResOk);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(channel_->request(0), WorkspaceRequest(kCmdQueryGlobalTagsNum).U16(1).Fill(260).vec());
  channel_->Reply(TagListReply(kCmdQueryGlobalTags, 0, 0, 0));
  TagList tags;
  EXPECT_EQ(ws_->QueryGlobalTags("M*", &tags, 10), symResOk);
  EXPECT_EQ(channel_->request(1),
            WorkspaceRequest(kCmdQueryGlobalTags).U16(3).Text("M*", 2).Fill(258).vec());
  EXPECT_EQ(channel_->capacity(1), 4020u);
}

TEST_F(WorkspaceRemoteTest, TagListsAreTakenWholeOrNotAtAll) {
  TagList tags;
  tags.emplace_back(new QXSymClientTagRemote(channel_, kWs, kObj));  // a marker
  struct Case {
    Bytes reply;
    std::uint32_t capacity;
    QXSymResult expected;
  } cases[] = {
      {TagListReply(kCmdGetGlobalTags, 2, 17, 2), 10, symResNotOk},          // length != C x 8
      {TagListReply(kCmdGetGlobalTags, 3, 24, 3), 2, symResBufferOverflow},  // caller too small
      {TagListReply(kCmdGetGlobalTags, 501, 4008, 500), 1000, symResBufferOverflow},
      {TagListReply(kCmdGetGlobalTags, 3, 24, 2), 10, symResNotOk},  // entries missing
      {ReplyHeader(kCmdGetGlobalTags).U32(0), 10, symResNotOk},      // header cut short
  };
  for (const Case& c : cases) {
    channel_->Reply(c.reply);
    EXPECT_EQ(ws_->GetGlobalTags(&tags, c.capacity), c.expected);
    ASSERT_EQ(tags.size(), 1u);
  }
  EXPECT_EQ(channel_->request(0), WorkspaceRequest(kCmdGetGlobalTags).vec());
}

TEST_F(WorkspaceRemoteTest, ListedTagsCarryTheirReferencesAndNoCache) {
  channel_->Reply(TagListReply(kCmdGetGlobalTags, 500, 4000, 500));
  TagList tags;
  ASSERT_EQ(ws_->GetGlobalTags(&tags, 500), symResOk);
  ASSERT_EQ(tags.size(), 500u);
  EXPECT_EQ(static_cast<QXSymClientTagRemote*>(tags[499].get())->tagRef(),
            (SymRef{0x100 + 499, 0x200 + 499}));
  std::uint32_t v = 0;
  EXPECT_FALSE(tags[0]->GetCachedDataSize(&v));
  channel_->Reply(TagListReply(kCmdGetGlobalTags, 0, 0, 0));
  EXPECT_EQ(ws_->GetGlobalTags(&tags, 500), symResOk);
  EXPECT_TRUE(tags.empty());
}

TEST_F(WorkspaceRemoteTest, SymbolTableSizeIsZeroOnlyWhenTheServiceRefuses) {
  channel_->Fail(symResSocketError);
  channel_->Reply(ReplyHeader(kCmdGetSymbolTableSize, symResSymbolTableLoadError));
  std::uint32_t size = 77;
  EXPECT_EQ(ws_->GetSymbolTableSize(&size), symResSocketError);
  EXPECT_EQ(size, 77u);
  EXPECT_EQ(ws_->GetSymbolTableSize(&size), symResSymbolTableLoadError);
  EXPECT_EQ(size, 0u);
}

TEST_F(WorkspaceRemoteTest, SymbolTableIsCopiedFromAReplyThatHoldsIt) {
  channel_->Reply(ReplyHeader(kCmdReadSymbolTable).U32(0x04030201));
  channel_->Reply(ReplyHeader(kCmdReadSymbolTable).U16(1));
  std::uint8_t table[4] = {};
  EXPECT_EQ(ws_->ReadSymbolTable(4, table), symResOk);
  EXPECT_EQ(table[3], 4);
  EXPECT_EQ(ws_->ReadSymbolTable(4, table), symResNotOk);
  EXPECT_EQ(channel_->request(0), WorkspaceRequest(kCmdReadSymbolTable).U32(4).vec());
  EXPECT_EQ(channel_->capacity(0), 16u);
}

TEST_F(WorkspaceRemoteTest, CreateGroupUsesTheReplysReference) {
  channel_->Reply(ReplyHeader(kCmdCreateGroup).U32(8).U32(9));
  std::unique_ptr<QXSymClientGroup> group;
  ASSERT_EQ(ws_->CreateGroup(&group), symResOk);
  EXPECT_EQ(static_cast<QXSymClientGroupRemote*>(group.get())->groupRef(), (SymRef{8, 9}));
  EXPECT_FALSE(group->isCopy());
  EXPECT_EQ(group->GetWorkspaceKey(), ws_->GetWorkspaceKey());
}

TEST_F(WorkspaceRemoteTest, OnlyTheRegisteredWorkspaceClosesAndRetiresTheChannel) {
  KeepingSink sink;
  ws_->SetRetiredSink(&sink);
  std::unique_ptr<QXSymClientWorkspace> copy = ws_->Clone();
  ASSERT_TRUE(copy->isCopy());
  copy.reset();
  EXPECT_EQ(channel_->close_calls(), 0);
  EXPECT_EQ(sink.count(), 0u);
  QXSymClientTagRemote tag(channel_, kWs, kObj);
  ws_.reset();
  EXPECT_EQ(channel_->close_calls(), 1);
  ASSERT_EQ(sink.channels.size(), 1u);
  EXPECT_EQ(sink.channels[0], channel_);
  // A tag of the closed workspace gets the closed channel's answer.
  EXPECT_EQ(tag.Close(), symResConnectionLost);
}

class WorkspaceDirectTest : public ::testing::Test {
 protected:
  WorkspaceDirectTest() {
    QXSymServerAddress address{};
    address.protocol = symProtDirectAccess;
    const QXSymDirectAccessTable* table = host_.table();
    std::memcpy(address.ip, &table, sizeof table);
    EXPECT_TRUE(ws_.Attach(&address));
    host_.u32[0] = {0xC0};
    EXPECT_EQ(ws_.OpenOnServer(7), symResOk);
  }
  FakeHostTable host_;
  QXSymClientWorkspaceDirect ws_;
};

TEST_F(WorkspaceDirectTest, AttachAndOpenTakeTableAndContext) {
  EXPECT_EQ(ws_.table(), host_.table());
  EXPECT_EQ(ws_.context(), 0xC0u);
  EXPECT_EQ(host_.calls[0].entry, 0);
  EXPECT_EQ(
      std::vector<std::uint64_t>(host_.calls[0].args.begin(), host_.calls[0].args.begin() + 3),
      (std::vector<std::uint64_t>{0, 7, 0}));
  QXSymServerAddress null_table{};
  null_table.protocol = symProtDirectAccess;
  QXSymClientWorkspaceDirect other;
  EXPECT_FALSE(other.Attach(&null_table));
  EXPECT_FALSE(other.Attach(nullptr));
}

TEST_F(WorkspaceDirectTest, SymbolTableIsNotAvailableAndTheHostIsNotAsked) {
  std::uint32_t size = 5;
  EXPECT_EQ(ws_.GetSymbolTableSize(&size), symResNotImplemented);
  EXPECT_EQ(ws_.ReadSymbolTable(4, &size), symResNotImplemented);
  EXPECT_EQ(host_.calls.size(), 1u);
}

TEST_F(WorkspaceDirectTest, GlobalTagAndGroupCarryTheHostsIdentifiers) {
  host_.u32[6] = {0x71, QXSymTyVarReal, 4, 4};
  host_.u32[47] = {0x61};
  std::unique_ptr<QXSymClientTag> tag;
  ASSERT_EQ(ws_.GetGlobalTag("Temp", &tag), symResOk);
  EXPECT_EQ(host_.last(6)->text, "Temp");
  EXPECT_EQ(static_cast<QXSymClientTagDirect*>(tag.get())->id(), 0x71u);
  std::uint32_t type = 0;
  EXPECT_EQ(tag->GetDataTypeVar(&type), symResOk);
  EXPECT_EQ(host_.count(12), 0);
  std::unique_ptr<QXSymClientGroup> group;
  ASSERT_EQ(ws_.CreateGroup(&group), symResOk);
  EXPECT_EQ(static_cast<QXSymClientGroupDirect*>(group.get())->id(), 0x61u);
}

TEST_F(WorkspaceDirectTest, IdentifierListsAreReleasedOnEveryPath) {
  TagList tags;
  host_.ids = {4, 5, 6};
  EXPECT_EQ(ws_.GetGlobalTags(&tags, 2), symResBufferOverflow);  // array still released
  EXPECT_TRUE(tags.empty());
  ASSERT_EQ(ws_.QueryGlobalTags(nullptr, &tags, 3), symResOk);
  EXPECT_FALSE(host_.last(54)->text_null);  // the host sees "" for no filter
  EXPECT_EQ(static_cast<QXSymClientTagDirect*>(tags[2].get())->id(), 6u);
  host_.ids_null = true;
  EXPECT_EQ(ws_.GetGlobalTags(&tags, 10), symResNotOk);  // a count without an array
  EXPECT_EQ(tags.size(), 3u);
  host_.result[7] = symResShutdownInProgress;
  EXPECT_EQ(ws_.GetGlobalTags(&tags, 10), symResShutdownInProgress);
}

TEST_F(WorkspaceDirectTest, CallersPointersGoToTheEntries) {
  std::uint8_t v[4];
  std::uint32_t count = 0;
  EXPECT_EQ(ws_.GetServerVersion(&v[0], &v[1], &v[2], &v[3]), symResOk);
  EXPECT_EQ(host_.last(1)->args[3], reinterpret_cast<std::uintptr_t>(&v[3]));
  host_.u32[8] = {12};
  EXPECT_EQ(ws_.GetGlobalTagsNum(&count), symResOk);
  EXPECT_EQ(count, 12u);
  EXPECT_EQ(ws_.CloseOnServer(), symResOk);
  EXPECT_EQ(host_.last(2)->args, (std::vector<std::uint64_t>{0xC0}));
  host_.entries().IsValid = nullptr;
  EXPECT_EQ(ws_.IsValid(), symResNotImplemented);
}

}  // namespace
}  // namespace test
}  // namespace qxsym
