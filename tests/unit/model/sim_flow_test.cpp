// One flow of each family (workspace, tag, type, group) against the
// simulator, through a Remote workspace on its symbol service and through a
// Direct workspace on its host table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "HostTable.h"
#include "QXSymClientGroup.h"
#include "QXSymClientTag.h"
#include "QXSymClientType.h"
#include "QXSymClientWorkspaceDirect.h"
#include "QXSymClientWorkspaceRemote.h"
#include "ServiceChannel.h"
#include "SymbolModel.h"
#include "SymbolService.h"

namespace qxsym {
namespace test {
namespace {

enum class Source { kService, kHostTable };

class SimFlowTest : public ::testing::TestWithParam<Source> {
 protected:
  void SetUp() override {
    std::string error;
    auto model = sim::SymbolModel::LoadFile(QXSYM_DEMO_MODEL, &error);
    ASSERT_NE(model, nullptr) << error;
    service_ = std::make_shared<sim::SymbolService>(model);
    if (GetParam() == Source::kService) {
      ws_.reset(new QXSymClientWorkspaceRemote(std::make_shared<ServiceChannel>(service_), {}));
    } else {
      host_.reset(new sim::HostTable(service_));
      QXSymServerAddress address{};
      host_->FillAddress(&address);
      ws_.reset(new QXSymClientWorkspaceDirect());
      ASSERT_TRUE(ws_->Attach(&address));
    }
    ASSERT_EQ(ws_->OpenOnServer(0), symResOk);
  }
  void TearDown() override {
    if (ws_) {
      EXPECT_EQ(ws_->CloseOnServer(), symResOk);
    }
    ws_.reset();
  }

  std::unique_ptr<QXSymClientTag> Tag(const char* name) {
    std::unique_ptr<QXSymClientTag> tag;
    EXPECT_EQ(ws_->GetGlobalTag(name, &tag), symResOk) << name;
    return tag;
  }

  std::shared_ptr<sim::SymbolService> service_;
  std::unique_ptr<sim::HostTable> host_;
  std::unique_ptr<QXSymClientWorkspace> ws_;
};

TEST_P(SimFlowTest, WorkspaceVersionCountsAndLists) {
  std::uint8_t v[4] = {};
  ASSERT_EQ(ws_->GetServerVersion(&v[0], &v[1], &v[2], &v[3]), symResOk);
  EXPECT_EQ(v[0], 3);
  EXPECT_EQ(ws_->IsValid(), symResOk);
  std::uint32_t count = 0;
  ASSERT_EQ(ws_->GetGlobalTagsNum(&count), symResOk);
  EXPECT_EQ(count, 32u);
  QXSymClientWorkspace::TagList tags;
  EXPECT_EQ(ws_->GetGlobalTags(&tags, count - 1), symResBufferOverflow);
  EXPECT_TRUE(tags.empty());
  ASSERT_EQ(ws_->GetGlobalTags(&tags, count), symResOk);
  ASSERT_EQ(tags.size(), count);
  char name[QXSYM_MAX_STRING];
  std::uint16_t length = sizeof name;
  ASSERT_EQ(tags[0]->GetName(name, &length), symResOk);
  EXPECT_STREQ(name, "EStopOk");
  std::uint32_t matching = 0;
  ASSERT_EQ(ws_->QueryGlobalTagsNum("Cnt*", &matching), symResOk);
  QXSymClientWorkspace::TagList some;
  ASSERT_EQ(ws_->QueryGlobalTags("Cnt*", &some, matching), symResOk);
  EXPECT_EQ(some.size(), matching);
  std::unique_ptr<QXSymClientTag> none;
  EXPECT_EQ(ws_->GetGlobalTag("NoSuchTag", &none), symResSymbolNotFound);
  EXPECT_EQ(none, nullptr);
  for (auto& tag : tags) EXPECT_EQ(tag->Close(), symResOk);
}

TEST_P(SimFlowTest, TagTextsValuesAndAddress) {
  auto tag = Tag("CntInt");
  ASSERT_NE(tag, nullptr);
  std::uint32_t size = 0, type = 0;
  ASSERT_EQ(tag->GetDataSize(&size), symResOk);
  ASSERT_EQ(tag->GetDataTypeVar(&type), symResOk);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(type, static_cast<std::uint32_t>(QXSymTyVarInt));
  char text[QXSYM_MAX_STRING];
  std::uint16_t length = 3;  // one short of "INT" and its terminator
  EXPECT_EQ(tag->GetDataType(text, &length), symResInvalidBuffer);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(tag->GetDataType(text, &length), symResOk);
  EXPECT_STREQ(text, "INT");
  std::int16_t value = 0;
  ASSERT_EQ(tag->GetValue(&value, sizeof value), symResOk);
  EXPECT_EQ(value, -12345);
  const std::int16_t written = 321;
  ASSERT_EQ(tag->SetValue(&written, sizeof written), symResOk);
  ASSERT_EQ(tag->GetRawValue(&value, sizeof value), symResOk);
  EXPECT_EQ(value, 321);

  auto state = Tag("MachineState");
  length = sizeof text;
  ASSERT_EQ(state->GetAttribute("2", text, &length), symResOk);
  EXPECT_STREQ(text, "Running");

  auto estop = Tag("EStopOk");
  qxsym_addr_t address = 0;
  std::uint32_t bit = 99;
  ASSERT_EQ(estop->GetArrayAddress(0, 0, 0, &address, &bit), symResOk);
  EXPECT_EQ(address, 0x00100000u);
  EXPECT_EQ(bit, 0u);
  bool_t read_only = 0;
  ASSERT_EQ(estop->IsReadOnly(&read_only), symResOk);
  EXPECT_NE(read_only, 0);
}

TEST_P(SimFlowTest, TypeOfAStructureAndOfAnArray) {
  auto line = Tag("Line");
  std::unique_ptr<QXSymClientType> type;
  ASSERT_EQ(line->GetType(&type), symResOk);
  bool_t is_struct = 0;
  ASSERT_EQ(type->IsStruct(&is_struct), symResOk);
  EXPECT_NE(is_struct, 0);
  std::uint32_t children = 0;
  ASSERT_EQ(type->GetNumChildren(&children), symResOk);
  EXPECT_EQ(children, 7u);
  char name[QXSYM_MAX_STRING];
  std::uint16_t length = sizeof name;
  ASSERT_EQ(type->GetChildName(0, name, &length), symResOk);
  EXPECT_STREQ(name, "Name");
  std::unique_ptr<QXSymClientType> speed;
  ASSERT_EQ(type->GetChildByName("Speed", &speed), symResOk);
  std::uint32_t size = 0;
  ASSERT_EQ(speed->GetSize(&size), symResOk);
  EXPECT_EQ(size, 4u);

  auto temps = Tag("Temps");
  std::unique_ptr<QXSymClientType> array;
  ASSERT_EQ(temps->GetType(&array), symResOk);
  std::uint32_t flags = 0;
  ASSERT_EQ(array->GetProperties(&flags), symResOk);
  EXPECT_NE(flags & QXSymTypeIsArray, 0u);
  std::uint32_t dims = 0;
  ASSERT_EQ(array->GetArrayNumDimensions(&dims), symResOk);
  EXPECT_EQ(dims, 1u);
  std::uint32_t values[3] = {};
  if (GetParam() == Source::kService) {
    EXPECT_EQ(array->GetArrayDimensions(values, 0), symResInvalidParameter);
  }
  ASSERT_EQ(array->GetArrayDimensions(values, 3), symResOk);
  EXPECT_NE(values[0], 0u);
}

TEST_P(SimFlowTest, GroupReadsAndWritesItsMembersInOneExchange) {
  auto a = Tag("CntInt");
  auto b = Tag("CntUdint");
  std::unique_ptr<QXSymClientGroup> group;
  ASSERT_EQ(ws_->CreateGroup(&group), symResOk);
  ASSERT_EQ(group->AddTag(1, *a), symResOk);
  ASSERT_EQ(group->AddTag(2, *b), symResOk);
  EXPECT_EQ(group->AddTag(2, *b), symResHandleAlreadyExists);
  std::uint32_t count = 0, size = 0;
  group->GetInfo(&count, &size);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 6u);

  ASSERT_EQ(group->Read(), symResOk);
  std::uint32_t udint = 0;
  ASSERT_EQ(group->GetTagValue(2, &udint, sizeof udint), symResOk);
  EXPECT_EQ(udint, 4000000000u);
  const std::int16_t fresh = 77;
  ASSERT_EQ(group->SetTagValue(1, &fresh, sizeof fresh), symResOk);
  ASSERT_EQ(group->Write(), symResOk);
  std::int16_t value = 0;
  ASSERT_EQ(a->GetValue(&value, sizeof value), symResOk);
  EXPECT_EQ(value, 77);

  ASSERT_EQ(group->RemoveTag(1, *a), symResOk);
  group->GetInfo(&count, &size);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(group->Delete(), symResOk);
}

INSTANTIATE_TEST_SUITE_P(BothSources, SimFlowTest,
                         ::testing::Values(Source::kService, Source::kHostTable),
                         [](const ::testing::TestParamInfo<Source>& param) {
                           return param.param == Source::kService ? "Service" : "HostTable";
                         });

}  // namespace
}  // namespace test
}  // namespace qxsym
