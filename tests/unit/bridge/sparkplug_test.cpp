// Sparkplug B payloads: round trips of every data type at its bounds, the
// wire form checked against bytes written by hand here, decoding that
// refuses bad input, restamping, topics, data types and the seq counter.
#include <QXSymbols.h>
#include <Sparkplug.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace qxsym::bridge {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A minimal protobuf writer, apart from the generated code: the oracle for
// what the payload's bytes must be.
void PutVarint(std::uint64_t v, Bytes* out) {
  while (v >= 0x80) {
    out->push_back(static_cast<std::uint8_t>(v | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<std::uint8_t>(v));
}
void PutVarintField(std::uint32_t field, std::uint64_t v, Bytes* out) {
  PutVarint(field << 3, out);
  PutVarint(v, out);
}
void PutLenField(std::uint32_t field, const Bytes& body, Bytes* out) {
  PutVarint((field << 3) | 2, out);
  PutVarint(body.size(), out);
  out->insert(out->end(), body.begin(), body.end());
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A payload of one hand-written metric.
Bytes OneMetric(const Bytes& metric) {
  Bytes payload;
  PutLenField(2, metric, &payload);
  return payload;
}

// A metric whose template holds a metric whose template ... @p levels deep
// (each level is two messages).
Bytes NestedTemplates(int levels) {
  Bytes metric;
  for (int level = 0; level < levels; ++level) {
    Bytes tmpl;
    PutLenField(2, metric, &tmpl);  // the template's metrics
    metric.clear();
    PutLenField(18, tmpl, &metric);  // template_value
  }
  return metric;
}

Payload Decoded(const Bytes& bytes) {
  Payload out;
  std::string error;
  EXPECT_TRUE(DecodePayload(bytes.data(), bytes.size(), &out, &error)) << error;
  return out;
}

std::string DecodeError(const Bytes& bytes) {
  Payload out;
  std::string error;
  EXPECT_FALSE(DecodePayload(bytes.data(), bytes.size(), &out, &error));
  EXPECT_FALSE(error.empty());
  return error;
}

Metric Named(const std::string& name, DataType type) {
  Metric m;
  m.name = name;
  m.datatype = type;
  return m;
}
Metric Signed(DataType type, std::int64_t v) {
  Metric m = Named("s", type);
  m.value.i = v;
  return m;
}
Metric Unsigned(DataType type, std::uint64_t v) {
  Metric m = Named("u", type);
  m.value.u = v;
  return m;
}
Metric Real(DataType type, double v) {
  Metric m = Named("f", type);
  m.value.f = v;
  return m;
}

Metric RoundTrip(const Metric& metric) {
  Payload p;
  p.metrics.push_back(metric);
  Payload back = Decoded(EncodePayload(p));
  EXPECT_EQ(back.metrics.size(), 1u);
  return back.metrics.empty() ? Metric() : back.metrics[0];
}

TEST(SparkplugPayload, IntegersRoundTripAtTheirBounds) {
  const std::pair<DataType, std::int64_t> signed_cases[] = {
      {DataType::kInt8, -128},
      {DataType::kInt8, 127},
      {DataType::kInt8, -1},
      {DataType::kInt16, -32768},
      {DataType::kInt16, 32767},
      {DataType::kInt32, std::numeric_limits<std::int32_t>::min()},
      {DataType::kInt32, std::numeric_limits<std::int32_t>::max()},
      {DataType::kInt64, std::numeric_limits<std::int64_t>::min()},
      {DataType::kInt64, std::numeric_limits<std::int64_t>::max()},
      {DataType::kInt64, -1},
  };
  for (const auto& [type, v] : signed_cases) {
    const Metric back = RoundTrip(Signed(type, v));
    EXPECT_EQ(back.datatype, type);
    EXPECT_FALSE(back.value.is_null);
    EXPECT_EQ(back.value.i, v) << static_cast<int>(type);
  }
  const std::pair<DataType, std::uint64_t> unsigned_cases[] = {
      {DataType::kUInt8, 255},
      {DataType::kUInt16, 65535},
      {DataType::kUInt32, 0xFFFFFFFFu},
      {DataType::kUInt64, std::numeric_limits<std::uint64_t>::max()},
      {DataType::kUInt64, 0},
      {DataType::kDateTime, 1765300000123u},
  };
  for (const auto& [type, v] : unsigned_cases) {
    const Metric back = RoundTrip(Unsigned(type, v));
    EXPECT_EQ(back.datatype, type);
    EXPECT_EQ(back.value.u, v) << static_cast<int>(type);
  }
}

TEST(SparkplugPayload, FloatsKeepNanInfinitiesAndPrecision) {
  const double inf = std::numeric_limits<double>::infinity();
  for (double v : {0.0, -0.0, 1.5, -inf, inf, std::numeric_limits<double>::max(),
                   std::numeric_limits<double>::denorm_min()}) {
    EXPECT_EQ(RoundTrip(Real(DataType::kDouble, v)).value.f, v);
  }
  EXPECT_TRUE(std::isnan(RoundTrip(Real(DataType::kDouble, std::nan(""))).value.f));
  EXPECT_TRUE(std::isnan(RoundTrip(Real(DataType::kFloat, std::nan(""))).value.f));
  EXPECT_EQ(RoundTrip(Real(DataType::kFloat, -inf)).value.f, -inf);
  // A Float goes as 4 bytes: 0.1 comes back as the nearest float, not 0.1.
  EXPECT_EQ(RoundTrip(Real(DataType::kFloat, 0.1)).value.f, static_cast<double>(0.1f));
  EXPECT_EQ(RoundTrip(Real(DataType::kDouble, 0.1)).value.f, 0.1);
}

TEST(SparkplugPayload, TextsBytesAndBooleansRoundTrip) {
  const std::string texts[] = {"",
                               "Ofen 1: Temperatur \xC2\xB0"
                               "C",
                               "\xE6\xB8\xA9\xE5\xBA\xA6", std::string(100000, 'x')};
  for (const std::string& s : texts) {
    Metric m = Named("t", DataType::kString);
    m.value.text = s;
    EXPECT_EQ(RoundTrip(m).value.text, s);
    m.datatype = DataType::kText;
    EXPECT_EQ(RoundTrip(m).value.text, s);
  }
  for (const Bytes& b : {Bytes{}, Bytes{0, 0, 0}, Bytes{0xFF, 0, 0x80, 0}}) {
    Metric m = Named("b", DataType::kBytes);
    m.value.bytes = b;
    const Metric back = RoundTrip(m);
    EXPECT_FALSE(back.value.is_null);
    EXPECT_EQ(back.value.bytes, b);
  }
  for (bool v : {false, true}) {
    Metric m = Named("x", DataType::kBoolean);
    m.value.b = v;
    const Metric back = RoundTrip(m);
    EXPECT_FALSE(back.value.is_null);
    EXPECT_EQ(back.value.b, v);
  }
}

TEST(SparkplugPayload, MetricFieldsPropertiesAndNullsRoundTrip) {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = 1765300000000u;
  p.has_seq = true;
  p.seq = 255;
  Metric named = Signed(DataType::kInt16, -5);
  named.name = "Line.Main.Speed";
  named.has_alias = true;
  named.alias = 7;
  named.has_timestamp = true;
  named.timestamp_ms = 1765300000123u;
  named.properties = {{"description", DataType::kString, {}},
                      {"readOnly", DataType::kBoolean, {}},
                      {"count", DataType::kInt32, {}},
                      {"big", DataType::kInt64, {}},
                      {"scale", DataType::kDouble, {}}};
  named.properties[0].value.text = "Speed of the main line";
  named.properties[1].value.b = true;
  named.properties[2].value.i = -2;
  named.properties[3].value.i = std::numeric_limits<std::int64_t>::min();
  named.properties[4].value.f = 0.25;
  Metric by_alias;  // a DDATA metric: alias only, and a value that could not be read
  by_alias.has_alias = true;
  by_alias.alias = 8;
  by_alias.datatype = DataType::kDouble;
  by_alias.value.is_null = true;
  by_alias.is_historical = true;
  p.metrics = {named, by_alias};

  const Payload back = Decoded(EncodePayload(p));
  EXPECT_TRUE(back.has_timestamp);
  EXPECT_EQ(back.timestamp_ms, p.timestamp_ms);
  EXPECT_TRUE(back.has_seq);
  EXPECT_EQ(back.seq, 255u);
  ASSERT_EQ(back.metrics.size(), 2u);
  const Metric& m = back.metrics[0];
  EXPECT_EQ(m.name, "Line.Main.Speed");
  EXPECT_TRUE(m.has_alias && m.alias == 7);
  EXPECT_TRUE(m.has_timestamp && m.timestamp_ms == 1765300000123u);
  EXPECT_FALSE(m.is_historical);
  ASSERT_EQ(m.properties.size(), 5u);
  EXPECT_EQ(m.properties[0].key, "description");
  EXPECT_EQ(m.properties[0].type, DataType::kString);
  EXPECT_EQ(m.properties[0].value.text, "Speed of the main line");
  EXPECT_TRUE(m.properties[1].value.b);
  EXPECT_EQ(m.properties[2].value.i, -2);
  EXPECT_EQ(m.properties[3].value.i, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(m.properties[4].value.f, 0.25);
  const Metric& a = back.metrics[1];
  EXPECT_TRUE(a.name.empty());
  EXPECT_TRUE(a.has_alias && a.alias == 8);
  EXPECT_FALSE(a.has_timestamp);
  EXPECT_TRUE(a.value.is_null);
  EXPECT_TRUE(a.is_historical);
  EXPECT_EQ(a.datatype, DataType::kDouble);
}

// The bytes themselves, against the hand-written writer above.
TEST(SparkplugWire, SignedIntegersGoAsTheLow32BitsOfTheirTwosComplement) {
  Payload p;
  p.metrics = {Signed(DataType::kInt8, -1)};
  p.metrics[0].name = "";
  Bytes metric;
  PutVarintField(4, 1, &metric);             // datatype Int8
  PutVarintField(10, 0xFFFFFFFFu, &metric);  // int_value
  EXPECT_EQ(EncodePayload(p), OneMetric(metric));

  p.metrics = {Signed(DataType::kInt64, -2)};
  p.metrics[0].name = "";
  metric.clear();
  PutVarintField(4, 4, &metric);
  PutVarintField(11, 0xFFFFFFFFFFFFFFFEu, &metric);  // long_value
  EXPECT_EQ(EncodePayload(p), OneMetric(metric));
}

TEST(SparkplugWire, NarrowSignedValuesAreReadFromTheirLowBits) {
  struct Case {
    std::uint32_t datatype;
    std::uint32_t field;
    std::uint64_t raw;
    std::int64_t expected;
  };
  const Case cases[] = {
      {1, 10, 0xFF, -1},                    // Int8 sent without sign extension
      {1, 10, 0xFFFFFF80u, -128},           // Int8 sign-extended to 32 bits
      {1, 10, 0x7F, 127},                   //
      {2, 10, 0x8000, -32768},              // Int16
      {3, 10, 0x80000000u, -2147483648LL},  // Int32
      {4, 10, 0xFFFFFFFFu, -1},             // Int64 in int_value: sign-extended from 32 bits
      {1, 11, 0xFFFFFFFFFFFFFFFFu, -1},     // Int8 in long_value
  };
  for (const Case& c : cases) {
    Bytes metric;
    PutVarintField(4, c.datatype, &metric);
    PutVarintField(c.field, c.raw, &metric);
    const Payload p = Decoded(OneMetric(metric));
    ASSERT_EQ(p.metrics.size(), 1u);
    EXPECT_EQ(p.metrics[0].value.i, c.expected) << c.datatype << " " << c.raw;
  }
}

TEST(SparkplugWire, MetricsWithoutDatatypeOrOfOtherTypesDecode) {
  // A command may leave the datatype out: the value's member types it.
  Bytes metric;
  PutLenField(1, Text("Recipe.Id"), &metric);
  PutVarintField(10, 42, &metric);
  Payload p = Decoded(OneMetric(metric));
  EXPECT_EQ(p.metrics[0].name, "Recipe.Id");
  EXPECT_EQ(p.metrics[0].datatype, DataType::kUInt32);
  EXPECT_EQ(p.metrics[0].value.u, 42u);
  // A data set (16) carries no plain value: null, the rest of the payload read.
  metric.clear();
  PutVarintField(4, 16, &metric);
  PutLenField(17, Bytes{0x08, 0x01}, &metric);
  Bytes payload = OneMetric(metric);
  Bytes second;
  PutVarintField(4, 11, &second);
  PutVarintField(14, 1, &second);
  PutLenField(2, second, &payload);
  p = Decoded(payload);
  ASSERT_EQ(p.metrics.size(), 2u);
  EXPECT_EQ(static_cast<std::uint32_t>(p.metrics[0].datatype), 16u);
  EXPECT_TRUE(p.metrics[0].value.is_null);
  EXPECT_TRUE(p.metrics[1].value.b);
  // No value member and no is_null: no value.
  metric.clear();
  PutVarintField(4, 3, &metric);
  EXPECT_TRUE(Decoded(OneMetric(metric)).metrics[0].value.is_null);
}

TEST(SparkplugDecode, RefusesValuesOfAnotherKindNamingTheMetric) {
  Bytes metric;
  PutLenField(1, Text("Recipe.Name"), &metric);
  PutVarintField(4, 12, &metric);  // String
  PutVarintField(10, 5, &metric);  // but an int_value
  const std::string error = DecodeError(OneMetric(metric));
  EXPECT_NE(error.find("Recipe.Name"), std::string::npos) << error;
  EXPECT_NE(error.find("String"), std::string::npos) << error;
  // Properties with more keys than values.
  Bytes set;
  PutLenField(1, Text("unit"), &set);
  PutLenField(1, Text("description"), &set);
  Bytes value;
  PutVarintField(1, 12, &value);
  PutLenField(8, Text("mm"), &value);
  PutLenField(2, value, &set);
  metric.clear();
  PutLenField(9, set, &metric);
  EXPECT_NE(DecodeError(OneMetric(metric)).find("2 property keys for 1 values"), std::string::npos);
}

TEST(SparkplugDecode, RefusesGarbageAndEveryCutOfAPayload) {
  EXPECT_FALSE(DecodeError(Bytes{0xFF, 0xFF, 0xFF}).empty());
  EXPECT_FALSE(DecodeError(Bytes{0x12, 0x05, 0x0A}).empty());  // metric longer than the bytes
  EXPECT_FALSE(DecodeError(Bytes{0x0B}).empty());              // a group start
  EXPECT_FALSE(DecodeError(Bytes{0x00, 0x00}).empty());        // field number 0
  Payload p;
  Metric m = Named("Temps[3]", DataType::kString);
  m.value.text = "hot";
  m.properties = {{"unit", DataType::kString, {}}};
  m.properties[0].value.text = "C";
  p.metrics = {m, m};
  const Bytes whole = EncodePayload(p);
  // Every cut ends inside a metric, a length or a value: none may pass, or
  // crash (this runs under the sanitizers too).
  for (std::size_t n = 1; n < whole.size(); ++n) {
    Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
    Payload out;
    std::string error;
    if (n == whole.size() / 2) continue;  // exactly the first metric: a good payload
    EXPECT_FALSE(DecodePayload(cut.data(), cut.size(), &out, &error)) << n;
  }
  Payload out;
  std::string error;
  EXPECT_TRUE(DecodePayload(nullptr, 0, &out, &error)) << "an empty payload is a payload";
  EXPECT_FALSE(DecodePayload(nullptr, 3, &out, &error));
}

TEST(SparkplugDecode, RefusesPayloadsBeyondItsLimits) {
  Bytes big(kMaxPayloadBytes + 1, 0);
  EXPECT_NE(DecodeError(big).find("larger than"), std::string::npos);

  Bytes many;
  for (std::size_t k = 0; k <= kMaxDecodedMetrics; ++k) PutLenField(2, Bytes{}, &many);
  EXPECT_NE(DecodeError(many).find("metrics"), std::string::npos);
  many.resize(many.size() - 2);  // exactly the limit
  Payload out;
  std::string error;
  EXPECT_TRUE(DecodePayload(many.data(), many.size(), &out, &error)) << error;
  EXPECT_EQ(out.metrics.size(), kMaxDecodedMetrics);

  // Templates holding metrics holding templates, deeper than any real
  // payload: refused before the decoder recurses into them; a few levels pass.
  EXPECT_NE(DecodeError(OneMetric(NestedTemplates(1000))).find("deeper"), std::string::npos);
  EXPECT_NE(DecodeError(OneMetric(NestedTemplates(12))).find("deeper"), std::string::npos);
  const Payload shallow = Decoded(OneMetric(NestedTemplates(10)));
  ASSERT_EQ(shallow.metrics.size(), 1u);
  EXPECT_TRUE(shallow.metrics[0].value.is_null);
}

TEST(SparkplugRestamp, SetsSeqAndHistoricalAndKeepsEverythingElse) {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = 99;
  p.has_seq = true;
  p.seq = 3;
  Metric m = Signed(DataType::kInt32, -7);
  m.has_alias = true;
  m.alias = 2;
  m.properties = {{"unit", DataType::kString, {}}};
  m.properties[0].value.text = "bar";
  p.metrics = {m, Unsigned(DataType::kUInt8, 9)};
  const Bytes stored = EncodePayload(p);

  Bytes sent;
  ASSERT_TRUE(RestampPayload(stored, 200, true, &sent));
  const Payload back = Decoded(sent);
  EXPECT_EQ(back.seq, 200u);
  EXPECT_EQ(back.timestamp_ms, 99u);
  ASSERT_EQ(back.metrics.size(), 2u);
  for (const Metric& metric : back.metrics) EXPECT_TRUE(metric.is_historical);
  EXPECT_EQ(back.metrics[0].value.i, -7);
  EXPECT_EQ(back.metrics[0].alias, 2u);
  EXPECT_EQ(back.metrics[0].properties.at(0).value.text, "bar");
  EXPECT_EQ(back.metrics[1].value.u, 9u);

  ASSERT_TRUE(RestampPayload(stored, 0, false, &sent));
  const Payload live = Decoded(sent);
  EXPECT_TRUE(live.has_seq);
  EXPECT_EQ(live.seq, 0u);
  EXPECT_FALSE(live.metrics[0].is_historical);

  EXPECT_FALSE(RestampPayload(Bytes{0x12, 0x09}, 1, true, &sent));
}

TEST(SparkplugTopic, NamesEveryMessageTypeAndParsesItBack) {
  EXPECT_EQ(Topic("Plant1", MessageType::kNBirth, "Line1Bridge"),
            "spBv1.0/Plant1/NBIRTH/Line1Bridge");
  const std::pair<MessageType, std::string> all[] = {
      {MessageType::kNBirth, "NBIRTH/N"},   {MessageType::kNDeath, "NDEATH/N"},
      {MessageType::kNData, "NDATA/N"},     {MessageType::kNCmd, "NCMD/N"},
      {MessageType::kDBirth, "DBIRTH/N/D"}, {MessageType::kDDeath, "DDEATH/N/D"},
      {MessageType::kDData, "DDATA/N/D"},   {MessageType::kDCmd, "DCMD/N/D"}};
  for (const auto& [type, rest] : all) {
    const std::string topic = Topic("G", type, "N", "D");
    EXPECT_EQ(topic, "spBv1.0/G/" + rest);
    MessageType parsed = MessageType::kNData;
    std::string device = "stale";
    ASSERT_TRUE(ParseTopic(topic, "G", "N", &parsed, &device)) << topic;
    EXPECT_EQ(parsed, type);
    EXPECT_EQ(device, rest.size() > 2 && rest.substr(rest.size() - 2) == "/D" ? "D" : "");
  }
}

TEST(SparkplugTopic, ParseRefusesTopicsThatAreNotTheNodes) {
  MessageType type;
  std::string device;
  for (const char* topic : {
           "spBv1.0/G/NCMD/N/Oven1",    // a node message with a device
           "spBv1.0/G/DCMD/N",          // a device message without one
           "spBv1.0/G/DCMD/N/",         // an empty device
           "spBv1.0/G/DCMD/N/Oven1/x",  // a level more
           "spBv1.0/G2/NCMD/N",         // another group
           "spBv1.0/G/NCMD/N2",         // another node
           "spBv1.0/g/NCMD/N",          // case counts
           "spAv1.0/G/NCMD/N",          // another namespace
           "spBv1.0/G/ncmd/N",          // an unknown type
           "spBv1.0/G/STATE/N",         //
           "spBv1.0/STATE/N",           // a host's state
           "spBv1.0/G/NCMD",            //
           "",                          //
       }) {
    EXPECT_FALSE(ParseTopic(topic, "G", "N", &type, &device)) << topic;
  }
}

TEST(SparkplugDataType, OfEveryBasicType) {
  struct Case {
    std::uint32_t tyvar;
    std::uint32_t size;
    DataType expected;
  };
  const Case cases[] = {
      {QXSymTyVarBool, 1, DataType::kBoolean},  {QXSymTyVarSInt, 1, DataType::kInt8},
      {QXSymTyVarUSInt, 1, DataType::kUInt8},   {QXSymTyVarByte, 1, DataType::kUInt8},
      {QXSymTyVarInt, 2, DataType::kInt16},     {QXSymTyVarUInt, 2, DataType::kUInt16},
      {QXSymTyVarWord, 2, DataType::kUInt16},   {QXSymTyVarDInt, 4, DataType::kInt32},
      {QXSymTyVarUDInt, 4, DataType::kUInt32},  {QXSymTyVarDWord, 4, DataType::kUInt32},
      {QXSymTyVarLInt, 8, DataType::kInt64},    {QXSymTyVarULInt, 8, DataType::kUInt64},
      {QXSymTyVarLWord, 8, DataType::kUInt64},  {QXSymTyVarReal, 4, DataType::kFloat},
      {QXSymTyVarLReal, 8, DataType::kDouble},  {QXSymTyVarString, 81, DataType::kString},
      {QXSymTyVarPointer, 8, DataType::kBytes}, {QXSymTyVarUserDef, 12, DataType::kBytes},
      {QXSymTyVarNull, 4, DataType::kBytes},    {99, 4, DataType::kBytes},
      {QXSymTyVarDInt, 3, DataType::kBytes},  // an integer of no integer size
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DataTypeOf(c.tyvar, c.size), c.expected) << c.tyvar << "/" << c.size;
  }
}

TEST(SparkplugSequence, CountsTo255ThenWrapsAndResets) {
  SequenceCounter counter;
  for (std::uint64_t k = 0; k < 256; ++k) ASSERT_EQ(counter.Next(), k);
  EXPECT_EQ(counter.Next(), 0u);
  EXPECT_EQ(counter.Next(), 1u);
  counter.Reset();
  EXPECT_EQ(counter.Next(), 0u);
}

}  // namespace
}  // namespace qxsym::bridge
