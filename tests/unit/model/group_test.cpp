#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "FakeHostTable.h"
#include "ModelTestUtil.h"
#include "QXSymClientGroupDirect.h"
#include "QXSymClientGroupRemote.h"
#include "QXSymClientTagDirect.h"
#include "QXSymClientTagRemote.h"

namespace qxsym {
namespace test {
namespace {

using Member = QXSymGroupMemberTable::Member;

constexpr SymRef kGroup{0x55555555u, 0x66666666u};
SymRef TagRefOf(int i) { return SymRef{0xA0u + i, 0xB0u + i}; }

class GroupRemoteTest : public ::testing::Test {
 protected:
  GroupRemoteTest() {
    for (int i = 0; i < 3; ++i) tags_.emplace_back(channel_, kWs, TagRefOf(i));
  }
  // Adds tag i under handle 100 + i with the given member size.
  QXSymResult Add(int i, std::uint32_t size) {
    channel_->Reply(ReplyHeader(kCmdGroupAddTag).U32(size));
    return group_->AddTag(100 + i, tags_[i]);
  }
  Bytes GroupRequest(std::uint16_t code) { return ObjectRequest(code, kGroup); }
  std::vector<std::uint32_t> Offsets() {
    std::vector<std::uint32_t> out;
    for (const Member& m : group_->memberTable()->Members()) out.push_back(m.offset);
    return out;
  }

  std::shared_ptr<FakeChannel> channel_ = std::make_shared<FakeChannel>();
  std::vector<QXSymClientTagRemote> tags_;
  std::unique_ptr<QXSymClientGroup> group_{
      new QXSymClientGroupRemote(channel_, kWs, kGroup, std::make_shared<QXSymGroupMemberTable>())};
};

TEST_F(GroupRemoteTest, MembersLieBackToBackAndCloseUpOnRemoval) {
  ASSERT_EQ(Add(0, 4), symResOk);
  ASSERT_EQ(Add(1, 2), symResOk);
  ASSERT_EQ(Add(2, 8), symResOk);
  EXPECT_EQ(Offsets(), (std::vector<std::uint32_t>{0, 4, 6}));
  std::uint32_t count = 0, size = 0;
  group_->GetInfo(&count, &size);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(size, 14u);
  EXPECT_EQ(channel_->request(0), GroupRequest(kCmdGroupAddTag).U32(0xA0).U32(0xB0).vec());
  EXPECT_EQ(channel_->capacity(0), 8u);

  channel_->Reply(ReplyHeader(kCmdGroupRemoveTag));
  EXPECT_EQ(group_->RemoveTag(101, tags_[1]), symResOk);
  EXPECT_EQ(Offsets(), (std::vector<std::uint32_t>{0, 4}));
  group_->GetInfo(&count, &size);
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(group_->memberTable()->Values(), std::vector<std::uint8_t>(12, 0));
  EXPECT_EQ(channel_->request(3), GroupRequest(kCmdGroupRemoveTag).U32(0xA1).U32(0xB1).vec());
}

TEST_F(GroupRemoteTest, DuplicateAddIsUndoneAtTheSource) {
  ASSERT_EQ(Add(0, 4), symResOk);
  channel_->Reply(ReplyHeader(kCmdGroupAddTag).U32(4));
  channel_->Reply(ReplyHeader(kCmdGroupRemoveTag, symResNotOk));  // the undo's own answer
  EXPECT_EQ(group_->AddTag(100, tags_[0]), symResHandleAlreadyExists);
  ASSERT_EQ(channel_->call_count(), 3u);
  EXPECT_EQ(channel_->request(2), GroupRequest(kCmdGroupRemoveTag).U32(0xA0).U32(0xB0).vec());
  std::uint32_t count = 0, size = 0;
  group_->GetInfo(&count, &size);
  EXPECT_EQ(count, 1u);
}

TEST_F(GroupRemoteTest, OversizedMembersAreRefusedAndUndone) {
  channel_->Reply(ReplyHeader(kCmdGroupAddTag).U32(0xFFFFFFFFu));
  channel_->Reply(ReplyHeader(kCmdGroupRemoveTag));
  EXPECT_EQ(group_->AddTag(102, tags_[2]), symResMemoryAllocError);
  ASSERT_EQ(Add(0, QXSymGroupMemberTable::kMaxTotalSize), symResOk);
  channel_->Reply(ReplyHeader(kCmdGroupAddTag).U32(1));
  channel_->Reply(ReplyHeader(kCmdGroupRemoveTag));
  EXPECT_EQ(group_->AddTag(101, tags_[1]), symResMemoryAllocError);
  EXPECT_EQ(channel_->request(1), GroupRequest(kCmdGroupRemoveTag).U32(0xA2).U32(0xB2).vec());
  EXPECT_EQ(channel_->request(4), GroupRequest(kCmdGroupRemoveTag).U32(0xA1).U32(0xB1).vec());
  EXPECT_EQ(channel_->pending(), 0u);
}

TEST_F(GroupRemoteTest, ForeignTagsAndNonMembersAreRefusedUnsent) {
  auto other_channel = std::make_shared<FakeChannel>();
  QXSymClientTagRemote other_workspace(channel_, SymRef{1, 2}, TagRefOf(0));
  QXSymClientTagRemote other_source(other_channel, kWs, TagRefOf(0));
  FakeHostTable host;
  QXSymClientTagDirect direct(host.table(), kWs.w0, 1);
  EXPECT_EQ(group_->AddTag(100, other_workspace), symResInvalidHandle);
  EXPECT_EQ(group_->AddTag(100, other_source), symResInvalidHandle);
  EXPECT_EQ(group_->AddTag(100, direct), symResInvalidHandle);
  EXPECT_EQ(group_->RemoveTag(100, tags_[0]), symResNotOk);
  EXPECT_EQ(channel_->call_count(), 0u);
  EXPECT_EQ(other_channel->call_count(), 0u);
}

TEST_F(GroupRemoteTest, AFailedAddOrRemoveAtTheSource) {
  channel_->Reply(ReplyHeader(kCmdGroupAddTag, symResInvalidGroupTag));
  EXPECT_EQ(group_->AddTag(100, tags_[0]), symResInvalidGroupTag);
  channel_->Reply(ReplyHeader(kCmdGroupAddTag));  // accepted, size missing
  channel_->Reply(ReplyHeader(kCmdGroupRemoveTag));
  EXPECT_EQ(group_->AddTag(100, tags_[0]), symResNotOk);
  EXPECT_EQ(channel_->request(2), GroupRequest(kCmdGroupRemoveTag).U32(0xA0).U32(0xB0).vec());
  ASSERT_EQ(Add(0, 4), symResOk);
  channel_->Fail(symResTimeoutError);
  EXPECT_EQ(group_->RemoveTag(100, tags_[0]), symResTimeoutError);
  EXPECT_FALSE(group_->memberTable()->IsMember(100));  // gone from the table regardless
}

TEST_F(GroupRemoteTest, ReadFillsTheBufferOnlyFromAReplyOfTheRightLength) {
  EXPECT_EQ(group_->Read(), symResGroupIsEmpty);
  EXPECT_EQ(channel_->call_count(), 0u);
  ASSERT_EQ(Add(0, 4), symResOk);
  ASSERT_EQ(Add(1, 2), symResOk);
  std::uint8_t out[4] = {};
  EXPECT_EQ(group_->GetTagValue(100, out, 4), symResGroupMustBeRead);

  channel_->Reply(ReplyHeader(kCmdGroupRead).U32(5).Fill(5, 1));
  channel_->Reply(ReplyHeader(kCmdGroupRead).U32(6).Fill(3, 1));  // cut short
  channel_->Reply(ReplyHeader(kCmdGroupRead).U32(6).U32(0x04030201).U16(0x0605));
  EXPECT_EQ(group_->Read(), symResInvalidGroupSize);
  EXPECT_EQ(group_->Read(), symResNotOk);
  EXPECT_FALSE(group_->memberTable()->IsRead());
  EXPECT_EQ(group_->Read(), symResOk);
  EXPECT_EQ(channel_->request(2), GroupRequest(kCmdGroupRead).U32(6).vec());
  EXPECT_EQ(channel_->capacity(2), 14u);

  std::uint8_t big[8];
  std::memset(big, 0xEE, sizeof big);
  EXPECT_EQ(group_->GetTagValue(101, big, 8), symResOk);
  EXPECT_EQ(big[0], 5);
  EXPECT_EQ(big[1], 6);
  EXPECT_EQ(big[2], 0xEE);  // only the member's bytes
  EXPECT_EQ(group_->GetTagValue(100, out, 3), symResInvalidTagSize);
  EXPECT_EQ(group_->GetTagValue(102, out, 4), symResInvalidHandle);
  EXPECT_EQ(group_->GetTagValue(100, nullptr, 4), symResInvalidBuffer);

  // A new member keeps the read flag and zeroes every value.
  ASSERT_EQ(Add(2, 1), symResOk);
  EXPECT_EQ(group_->GetTagValue(100, out, 4), symResOk);
  EXPECT_EQ(out[0] | out[1] | out[2] | out[3], 0);
}

TEST_F(GroupRemoteTest, WriteSendsTheWholeBufferZerosIncluded) {
  EXPECT_EQ(group_->Write(), symResGroupIsEmpty);
  ASSERT_EQ(Add(0, 2), symResOk);
  ASSERT_EQ(Add(1, 2), symResOk);
  const std::uint8_t value[3] = {0xAA, 0xBB, 0xCC};
  EXPECT_EQ(group_->SetTagValue(101, value, 1), symResInvalidTagSize);
  EXPECT_EQ(group_->SetTagValue(101, nullptr, 2), symResInvalidBuffer);
  EXPECT_EQ(group_->SetTagValue(101, value, 3), symResOk);  // before any read
  channel_->Reply(ReplyHeader(kCmdGroupWrite, symResReadOnlyTag));
  EXPECT_EQ(group_->Write(), symResReadOnlyTag);
  EXPECT_EQ(channel_->request(2),
            GroupRequest(kCmdGroupWrite).U32(4).U16(0).U8(0xAA).U8(0xBB).vec());
  EXPECT_EQ(channel_->capacity(2), 4u);
}

TEST_F(GroupRemoteTest, DeleteEmptiesTheTableEvenWhenTheSourceRefuses) {
  ASSERT_EQ(Add(0, 4), symResOk);
  channel_->Fail(symResConnectionLost);
  EXPECT_EQ(group_->Delete(), symResConnectionLost);
  std::uint32_t count = 9, size = 9;
  group_->GetInfo(&count, &size);
  EXPECT_EQ(count + size, 0u);
  EXPECT_EQ(channel_->request(1), GroupRequest(kCmdGroupDelete).vec());
}

TEST_F(GroupRemoteTest, CopiesShareTheTableAndOnlyTheRegisteredGroupRetiresIt) {
  ASSERT_EQ(Add(0, 2), symResOk);
  std::unique_ptr<QXSymClientGroup> copy = group_->Clone();
  ASSERT_TRUE(copy->isCopy());
  channel_->Reply(ReplyHeader(kCmdGroupRead).U32(2).U16(0x0102));
  EXPECT_EQ(copy->Read(), symResOk);
  std::uint8_t out[2] = {};
  EXPECT_EQ(group_->GetTagValue(100, out, 2), symResOk);  // the copy's read is seen here
  EXPECT_EQ(out[0], 2);

  std::weak_ptr<QXSymGroupMemberTable> table = group_->memberTable();
  KeepingSink sink;
  group_->SetRetiredSink(&sink);
  copy.reset();
  EXPECT_EQ(sink.count(), 0u);
  group_.reset();
  EXPECT_EQ(sink.tables.size(), 1u);
  EXPECT_FALSE(table.expired());  // parked until the sink releases it
  sink.tables.clear();
  EXPECT_TRUE(table.expired());
}

TEST_F(GroupRemoteTest, MembershipChangedDuringAReadIsNotStoredInTheWrongPlace) {
  ASSERT_EQ(Add(0, 2), symResOk);
  std::unique_ptr<QXSymClientGroup> copy = group_->Clone();
  channel_->Reply(ReplyHeader(kCmdGroupAddTag).U32(2));
  channel_->Reply(ReplyHeader(kCmdGroupRead).U32(2).U16(0x0102));
  bool once = false;
  channel_->during_transact = [&] {
    if (once) return;
    once = true;
    // Another thread changes the registered group while the read travels.
    std::thread([&] { EXPECT_EQ(group_->AddTag(101, tags_[1]), symResOk); }).join();
  };
  EXPECT_EQ(copy->Read(), symResInvalidGroupSize);
  EXPECT_FALSE(group_->memberTable()->IsRead());
}

TEST_F(GroupRemoteTest, ReadsOnCopiesRaceMembershipChangesSafely) {
  channel_->responder = [](const std::vector<std::uint8_t>& request) {
    const std::uint16_t code = static_cast<std::uint16_t>(request[0] | (request[1] << 8));
    Bytes reply = ReplyHeader(code);
    if (code == kCmdGroupAddTag) reply.U32(2);
    if (code == kCmdGroupRead) {
      const std::uint32_t total = request[18] | (request[19] << 8);
      reply.U32(total).Fill(total, 0x11);
    }
    return reply.vec();
  };
  ASSERT_EQ(group_->AddTag(100, tags_[0]), symResOk);
  std::thread reader([&] {
    for (int i = 0; i < 500; ++i) {
      std::unique_ptr<QXSymClientGroup> copy = group_->Clone();
      const QXSymResult r = copy->Read();
      EXPECT_TRUE(r == symResOk || r == symResInvalidGroupSize) << r;
    }
  });
  for (int i = 0; i < 500; ++i) {
    EXPECT_EQ(group_->AddTag(101, tags_[1]), symResOk);
    std::uint8_t out[2];
    const QXSymResult r = group_->GetTagValue(100, out, 2);
    EXPECT_TRUE(r == symResOk || r == symResGroupMustBeRead) << r;
    EXPECT_EQ(group_->RemoveTag(101, tags_[1]), symResOk);
  }
  reader.join();
}

TEST(GroupDirectTest, EntriesCarryContextGroupAndTagIdentifiers) {
  FakeHostTable host;
  host.member_size = {{1, 4}, {2, 2}};
  QXSymClientGroupDirect group(host.table(), 0xC0, 0x60, std::make_shared<QXSymGroupMemberTable>());
  QXSymClientTagDirect tag1(host.table(), 0xC0, 1), tag2(host.table(), 0xC0, 2);
  QXSymClientTagDirect foreign(host.table(), 0xC9, 1);
  EXPECT_EQ(group.AddTag(10, foreign), symResInvalidHandle);
  EXPECT_EQ(group.AddTag(10, tag1), symResOk);
  EXPECT_EQ(group.AddTag(11, tag2), symResOk);
  EXPECT_EQ(group.AddTag(11, tag2), symResHandleAlreadyExists);
  EXPECT_EQ(host.last(49)->args,
            (std::vector<std::uint64_t>{0xC0, 0x60, 2, host.last(49)->args[3]}));
  EXPECT_EQ(host.last(50)->args, (std::vector<std::uint64_t>{0xC0, 0x60, 2}));

  host.bytes[51] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(group.Read(), symResOk);
  EXPECT_EQ(host.last(51)->args[3], 6u);
  const std::uint8_t v[2] = {9, 8};
  EXPECT_EQ(group.SetTagValue(11, v, 2), symResOk);
  EXPECT_EQ(group.Write(), symResOk);
  EXPECT_EQ(host.last(52)->data, (std::vector<std::uint8_t>{1, 2, 3, 4, 9, 8}));

  host.result[51] = symResGroupConfigError;
  EXPECT_EQ(group.Read(), symResGroupConfigError);
  EXPECT_EQ(group.RemoveTag(10, tag1), symResOk);
  EXPECT_EQ(group.Delete(), symResOk);
  EXPECT_EQ(host.last(48)->args, (std::vector<std::uint64_t>{0xC0, 0x60}));
}

}  // namespace
}  // namespace test
}  // namespace qxsym
