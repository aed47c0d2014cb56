// A controller's metrics: aliases that stay put, births with their
// properties, changes told once, and commands checked before anything is
// written.
#include <DeviceModel.h>
#include <gtest/gtest.h>

#include <map>
#include <string>

namespace qxsym::bridge {
namespace {

QXSymCoreEvent Change(const char* path, QXSymCoreValue value,
                      std::uint32_t status = QXSymCoreGood) {
  QXSymCoreEvent e{};
  e.kind = QXSymCoreEventChange;
  e.status = status;
  e.path = path;
  e.value = value;
  e.timestamp_us = 1700000000123456;
  return e;
}

QXSymCoreValue Float(double f) {
  QXSymCoreValue v{};
  v.kind = QXSymCoreFloat;
  v.f = f;
  return v;
}

QXSymCoreValue Kind(std::uint32_t kind) {
  QXSymCoreValue v{};
  v.kind = kind;
  return v;
}

QXSymCoreValue Signed(std::int64_t i) {
  QXSymCoreValue v{};
  v.kind = QXSymCoreSigned;
  v.i = i;
  return v;
}

std::map<std::string, LeafInfo> DemoLeaves() {
  std::map<std::string, LeafInfo> leaves;
  LeafInfo temps{QXSymTyVarReal, 4, false, "Oven zone temperatures", {{"unit", "degC"}}};
  LeafInfo id{QXSymTyVarDInt, 4, false, "", {}};
  LeafInfo serial{QXSymTyVarString, 17, true, "Serial number", {}};
  LeafInfo name{QXSymTyVarString, 33, false, "", {}};
  LeafInfo flag{QXSymTyVarBool, 1, false, "", {}};
  LeafInfo count{QXSymTyVarUDInt, 4, false, "", {}};
  leaves["Temps"] = temps;
  leaves["Recipe.Id"] = id;
  leaves["SerialNumber"] = serial;
  leaves["Recipe.Name"] = name;
  leaves["Line.Running"] = flag;
  leaves["Line.PartsToday"] = count;
  return leaves;
}

const Property* Find(const Metric& m, const std::string& key) {
  for (const Property& p : m.properties) {
    if (p.key == key) return &p;
  }
  return nullptr;
}

TEST(GlobMatch, StarsAndQuestionMarks) {
  EXPECT_TRUE(GlobMatch("Recipe.Id", "Recipe.Id"));
  EXPECT_FALSE(GlobMatch("Recipe.Id", "Recipe.Ids"));
  EXPECT_TRUE(GlobMatch("Recipe.*", "Recipe.Name"));
  EXPECT_TRUE(GlobMatch("*", ""));
  EXPECT_TRUE(GlobMatch("Temps[?]", "Temps[3]"));
  EXPECT_FALSE(GlobMatch("Temps[?]", "Temps[10]"));
  EXPECT_TRUE(GlobMatch("*a*b*", "xxaYYbzz"));
  EXPECT_FALSE(GlobMatch("*a*b", "xxaYYbzz"));
}

TEST(DeviceModel, BirthNamesEveryElementWithStableAliasesAndProperties) {
  DeviceModel model({"Recipe.*", "SerialNumber"});
  model.SetLeaves(DemoLeaves());
  EXPECT_EQ(model.Apply(Change("Temps[1]", Float(20.5))), DeviceModel::Applied::kAdded);
  EXPECT_EQ(model.Apply(Change("Temps[2]", Float(21.5))), DeviceModel::Applied::kAdded);
  EXPECT_EQ(model.Apply(Change("Recipe.Id", Signed(7))), DeviceModel::Applied::kAdded);
  QXSymCoreValue text{};
  text.kind = QXSymCoreText;
  text.data = reinterpret_cast<const std::uint8_t*>("SN-1");
  text.length = 4;
  EXPECT_EQ(model.Apply(Change("SerialNumber", text)), DeviceModel::Applied::kAdded);
  EXPECT_EQ(model.Apply(Change("Nowhere", Signed(1))), DeviceModel::Applied::kUnknown);
  EXPECT_EQ(model.Apply(Change("Temps[1]", Float(22))), DeviceModel::Applied::kKnown);

  const Payload birth = model.Birth(5);
  ASSERT_EQ(birth.metrics.size(), 4u);
  const Metric& t2 = birth.metrics[1];
  EXPECT_EQ(t2.name, "Temps[2]");
  EXPECT_EQ(t2.alias, 2u);
  EXPECT_EQ(t2.datatype, DataType::kFloat);
  EXPECT_EQ(t2.timestamp_ms, 1700000000123u);
  ASSERT_NE(Find(t2, "description"), nullptr);
  EXPECT_EQ(Find(t2, "description")->value.text, "Oven zone temperatures");
  ASSERT_NE(Find(t2, "unit"), nullptr);
  EXPECT_EQ(Find(t2, "unit")->value.text, "degC");
  EXPECT_EQ(Find(t2, "writable"), nullptr);
  EXPECT_NE(Find(birth.metrics[2], "writable"), nullptr);  // Recipe.Id
  // Read-only wins over a writable pattern.
  EXPECT_NE(Find(birth.metrics[3], "readOnly"), nullptr);
  EXPECT_EQ(Find(birth.metrics[3], "writable"), nullptr);
  EXPECT_EQ(birth.metrics[3].value.text, "SN-1");
  EXPECT_DOUBLE_EQ(birth.metrics[0].value.f, 22);

  // A new program drops Temps; the others keep their aliases, and a leaf
  // seen for the first time gets the next one.
  auto leaves = DemoLeaves();
  leaves.erase("Temps");
  model.SetLeaves(leaves);
  EXPECT_EQ(model.Apply(Change("Line.Running",
                               [] {
                                 QXSymCoreValue v = Kind(QXSymCoreBool);
                                 v.boolean = 1;
                                 return v;
                               }())),
            DeviceModel::Applied::kAdded);
  const Payload again = model.Birth(6);
  ASSERT_EQ(again.metrics.size(), 3u);
  EXPECT_EQ(again.metrics[0].name, "Recipe.Id");
  EXPECT_EQ(again.metrics[0].alias, 3u);
  EXPECT_EQ(again.metrics[2].alias, 5u);
}

TEST(DeviceModel, ChangesAreToldOnceWithTheirQuality) {
  DeviceModel model({});
  model.SetLeaves(DemoLeaves());
  model.Apply(Change("Recipe.Id", Signed(1)));
  model.Apply(Change("Line.PartsToday", [] {
    QXSymCoreValue v = Kind(QXSymCoreUnsigned);
    v.u = 9;
    return v;
  }()));
  model.TakeChanges(1);
  EXPECT_TRUE(model.TakeChanges(2).metrics.empty());

  model.Apply(Change("Recipe.Id", Signed(2)));
  model.Apply(Change("Recipe.Id", Signed(3)));  // the newest replaces the older
  Payload data = model.TakeChanges(3);
  ASSERT_EQ(data.metrics.size(), 1u);
  EXPECT_EQ(data.metrics[0].value.i, 3);
  EXPECT_TRUE(data.metrics[0].properties.empty());

  // Stale keeps the last value; bad has none. Both say so.
  model.Apply(Change("Recipe.Id", Kind(QXSymCoreNone), QXSymCoreStale));
  model.Apply(Change("Line.PartsToday", Kind(QXSymCoreNone), QXSymCoreBad));
  data = model.TakeChanges(4);
  ASSERT_EQ(data.metrics.size(), 2u);
  EXPECT_FALSE(data.metrics[0].value.is_null);
  EXPECT_EQ(data.metrics[0].value.i, 3);
  ASSERT_NE(Find(data.metrics[0], "Quality"), nullptr);
  EXPECT_EQ(Find(data.metrics[0], "Quality")->value.i, 500);
  EXPECT_TRUE(data.metrics[1].value.is_null);
  EXPECT_EQ(Find(data.metrics[1], "Quality")->value.i, 0);
}

Metric Command(const std::string& name, DataType type) {
  Metric m;
  m.name = name;
  m.datatype = type;
  return m;
}

TEST(DeviceModel, CommandsWriteOnlyWritableLeavesWithValuesThatFit) {
  DeviceModel model({"Recipe.*", "Line.*", "Temps[2]", "SerialNumber"});
  model.SetLeaves(DemoLeaves());
  for (const char* p : {"Temps[1]", "Temps[2]", "Recipe.Id", "Recipe.Name", "SerialNumber",
                        "Line.Running", "Line.PartsToday"}) {
    model.Apply(Change(p, Signed(0)));
  }
  Payload cmd;
  Metric by_alias;
  by_alias.has_alias = true;
  by_alias.alias = 2;  // Temps[2]
  by_alias.datatype = DataType::kInt32;
  by_alias.value.i = 80;
  cmd.metrics.push_back(by_alias);
  Metric id = Command("Recipe.Id", DataType::kDouble);
  id.value.f = 42;
  cmd.metrics.push_back(id);
  Metric name = Command("Recipe.Name", DataType::kString);
  name.value.text = "Rye";
  cmd.metrics.push_back(name);
  Metric run = Command("Line.Running", DataType::kBoolean);
  run.value.b = true;
  cmd.metrics.push_back(run);
  // Refused: not writable, read-only, unknown, a fraction for an integer,
  // a negative number for an unsigned leaf, a text for a number, no value.
  cmd.metrics.push_back(Command("Temps[1]", DataType::kFloat));
  cmd.metrics.push_back(Command("SerialNumber", DataType::kString));
  cmd.metrics.push_back(Command("Missing", DataType::kInt32));
  Metric half = Command("Recipe.Id", DataType::kDouble);
  half.value.f = 2.5;
  cmd.metrics.push_back(half);
  Metric negative = Command("Line.PartsToday", DataType::kInt32);
  negative.value.i = -1;
  cmd.metrics.push_back(negative);
  Metric words = Command("Recipe.Id", DataType::kString);
  cmd.metrics.push_back(words);
  Metric null = Command("Recipe.Id", DataType::kInt32);
  null.value.is_null = true;
  cmd.metrics.push_back(null);

  std::vector<std::string> refusals;
  const auto writes = model.Commands(cmd, &refusals);
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0].path, "Temps[2]");
  EXPECT_EQ(writes[0].value.kind, QXSymCoreFloat);
  EXPECT_DOUBLE_EQ(writes[0].value.f, 80);
  EXPECT_EQ(writes[1].value.kind, QXSymCoreSigned);
  EXPECT_EQ(writes[1].value.i, 42);
  const QXSymCoreValue text = writes[2].Bound();
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(text.data), text.length), "Rye");
  EXPECT_EQ(writes[3].value.boolean, 1u);
  ASSERT_EQ(refusals.size(), 7u);
  EXPECT_EQ(refusals[0], "Temps[1] is not writable");
  EXPECT_EQ(refusals[1], "SerialNumber is not writable");
  EXPECT_EQ(refusals[2], "Missing is not a metric of this device");
  EXPECT_NE(refusals[3].find("whole number"), std::string::npos);
  EXPECT_NE(refusals[4].find("range"), std::string::npos);
}

}  // namespace
}  // namespace qxsym::bridge
