// Writes a payload of every data type to a file, or prints a payload read
// from one, for the Python test that checks the bytes with another decoder.
//   bridge_payload_tool write FILE | read FILE
#include <Sparkplug.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

namespace {

using qxsym::bridge::DataType;
using qxsym::bridge::Metric;
using qxsym::bridge::Payload;

Metric Make(const char* name, std::uint64_t alias, DataType type) {
  Metric m;
  m.name = name;
  m.has_alias = true;
  m.alias = alias;
  m.has_timestamp = true;
  m.timestamp_ms = 1765300000000u + alias;
  m.datatype = type;
  return m;
}

Payload Sample() {
  Payload p;
  p.has_timestamp = true;
  p.timestamp_ms = 1765300000000u;
  p.has_seq = true;
  p.seq = 1;
  p.metrics = {Make("Int8", 1, DataType::kInt8),        Make("Int16", 2, DataType::kInt16),
               Make("Int32", 3, DataType::kInt32),      Make("Int64", 4, DataType::kInt64),
               Make("UInt8", 5, DataType::kUInt8),      Make("UInt16", 6, DataType::kUInt16),
               Make("UInt32", 7, DataType::kUInt32),    Make("UInt64", 8, DataType::kUInt64),
               Make("Float", 9, DataType::kFloat),      Make("Double", 10, DataType::kDouble),
               Make("Boolean", 11, DataType::kBoolean), Make("String", 12, DataType::kString),
               Make("Bytes", 13, DataType::kBytes),     Make("Null", 14, DataType::kDouble)};
  p.metrics[0].value.i = -128;
  p.metrics[1].value.i = -32768;
  p.metrics[2].value.i = std::numeric_limits<std::int32_t>::min();
  p.metrics[3].value.i = std::numeric_limits<std::int64_t>::min();
  p.metrics[4].value.u = 255;
  p.metrics[5].value.u = 65535;
  p.metrics[6].value.u = 0xFFFFFFFFu;
  p.metrics[7].value.u = std::numeric_limits<std::uint64_t>::max();
  p.metrics[8].value.f = 1.5;
  p.metrics[9].value.f = -0.1;
  p.metrics[10].value.b = true;
  p.metrics[11].value.text =
      "Temperatur \xC2\xB0"
      "C";
  p.metrics[11].properties = {{"description", DataType::kString, {}},
                              {"readOnly", DataType::kBoolean, {}},
                              {"unit", DataType::kString, {}}};
  p.metrics[11].properties[0].value.text = "Oven text";
  p.metrics[11].properties[1].value.b = true;
  p.metrics[11].properties[2].value.text = "degC";
  p.metrics[12].value.bytes = {0, 1, 0, 0xFF};
  p.metrics[13].value.is_null = true;
  return p;
}

std::string ValueText(const Metric& m) {
  if (m.value.is_null) return "null";
  char buffer[64];
  switch (m.datatype) {
    case DataType::kInt8:
    case DataType::kInt16:
    case DataType::kInt32:
    case DataType::kInt64:
      std::snprintf(buffer, sizeof buffer, "%" PRId64, m.value.i);
      return buffer;
    case DataType::kFloat:
    case DataType::kDouble:
      std::snprintf(buffer, sizeof buffer, "%.17g", m.value.f);
      return buffer;
    case DataType::kBoolean:
      return m.value.b ? "true" : "false";
    case DataType::kString:
    case DataType::kText:
      return m.value.text;
    case DataType::kBytes: {
      std::string hex;
      for (std::uint8_t b : m.value.bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x", b);
        hex += buffer;
      }
      return hex;
    }
    default:
      std::snprintf(buffer, sizeof buffer, "%" PRIu64, m.value.u);
      return buffer;
  }
}

// One line per metric: name, alias, datatype, value, historical flag.
int Print(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
  Payload p;
  std::string error;
  if (!qxsym::bridge::DecodePayload(bytes.data(), bytes.size(), &p, &error)) {
    std::fprintf(stderr, "bridge_payload_tool: %s\n", error.c_str());
    return 1;
  }
  std::printf("seq\t%" PRIu64 "\n", p.seq);
  for (const Metric& m : p.metrics) {
    std::printf("%s\t%" PRIu64 "\t%u\t%s\t%d\n", m.name.c_str(), m.alias,
                static_cast<unsigned>(m.datatype), ValueText(m).c_str(), m.is_historical ? 1 : 0);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bridge_payload_tool write|read FILE\n");
    return 2;
  }
  if (std::strcmp(argv[1], "read") == 0) return Print(argv[2]);
  if (std::strcmp(argv[1], "write") != 0) return 2;
  const std::vector<std::uint8_t> bytes = qxsym::bridge::EncodePayload(Sample());
  std::ofstream out(argv[2], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return out.good() ? 0 : 1;
}
