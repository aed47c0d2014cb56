// qxsym-genmodel: writes a large simulator model for scale tests and
// benchmarks. Tags are named Area<a>_Line<l>_<Kind><n> so that filters such
// as "Area01_*" or "*_Motor0??" select predictable subsets.
//
//   qxsym-genmodel [--tags N] [--seed S] [--simulated PERCENT] [-o FILE]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

namespace {

using Json = nlohmann::ordered_json;

Json Member(const char* name, const char* type, const char* descr) {
  return Json{{"name", name}, {"type", type}, {"description", descr}};
}

Json Types() {
  Json types = Json::array();
  types.push_back({{"name", "MOTOR"},
                   {"kind", "FUNCTION_BLOCK"},
                   {"members", Json::array({Member("Enable", "BOOL", "Drive enable command"),
                                            Member("Running", "BOOL", "Drive reports running"),
                                            Member("Fault", "BOOL", "Drive fault latched"),
                                            Member("Speed", "REAL", "Actual speed in rpm"),
                                            Member("SetSpeed", "REAL", "Speed set point in rpm"),
                                            Member("Current", "REAL", "Motor current in A"),
                                            Member("Hours", "UDINT", "Operating hours"),
                                            Member("Starts", "UDINT", "Start counter"),
                                            Member("FaultCode", "WORD", "Last fault code")})}});
  types.push_back({{"name", "VALVE"},
                   {"kind", "STRUCT"},
                   {"members", Json::array({Member("Open", "BOOL", "Open command"),
                                            Member("IsOpen", "BOOL", "Open limit switch"),
                                            Member("IsClosed", "BOOL", "Closed limit switch"),
                                            Member("Position", "REAL", "Position in percent"),
                                            Member("Cycles", "UDINT", "Switching cycles")})}});
  types.push_back({{"name", "ANALOG"},
                   {"kind", "STRUCT"},
                   {"members", Json::array({Member("Raw", "INT", "Raw converter value"),
                                            Member("Value", "REAL", "Scaled value"),
                                            Member("Low", "REAL", "Low alarm limit"),
                                            Member("High", "REAL", "High alarm limit"),
                                            Member("Unit", "STRING[8]", "Engineering unit"),
                                            Member("Alarm", "BOOL", "Limit violated")})}});
  return types;
}

std::string Pad(unsigned v, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*u", width, v);
  return buf;
}

struct Options {
  unsigned long tags = 10000;
  unsigned long seed = 1;
  unsigned long simulated = 5;  // percent of the tags that may be simulated
  const char* out_path = nullptr;
};

// Reads the command line into *o; 0 when it is sound, else the exit status.
int ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    auto value = [&](const char* opt) -> const char* {
      if (i + 1 >= argc) {
        std::cerr << "qxsym-genmodel: " << opt << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (std::strcmp(argv[i], "--tags") == 0) {
      o->tags = std::strtoul(value("--tags"), nullptr, 10);
    } else if (std::strcmp(argv[i], "--seed") == 0) {
      o->seed = std::strtoul(value("--seed"), nullptr, 10);
    } else if (std::strcmp(argv[i], "--simulated") == 0) {
      o->simulated = std::strtoul(value("--simulated"), nullptr, 10);
    } else if (std::strcmp(argv[i], "-o") == 0) {
      o->out_path = value("-o");
    } else {
      std::cerr << "usage: qxsym-genmodel [--tags N] [--seed S] [--simulated PERCENT] [-o FILE]\n";
      return 2;
    }
  }
  if (o->tags == 0 || o->tags > 2000000) {
    std::cerr << "qxsym-genmodel: --tags must be between 1 and 2000000\n";
    return 2;
  }
  return 0;
}

// The type and the start of the description of a tag of the given kind.
void TypeOf(const std::string& kind, std::string* type, std::string* descr) {
  if (kind == "Motor") {
    *type = "MOTOR", *descr = "Drive of conveyor section";
  } else if (kind == "Valve") {
    *type = "VALVE", *descr = "Pneumatic valve";
  } else if (kind == "Analog") {
    *type = "ANALOG", *descr = "Analog input channel";
  } else if (kind == "Temps") {
    *type = "ARRAY[1..16] OF REAL", *descr = "Zone temperatures in degC";
  } else if (kind == "Count") {
    *type = "UDINT", *descr = "Piece counter";
  } else if (kind == "Flag") {
    *type = "BOOL", *descr = "Status flag";
  } else if (kind == "Level") {
    *type = "LREAL", *descr = "Tank level in percent";
  } else if (kind == "Recipe") {
    *type = "STRING[40]", *descr = "Active recipe name";
  } else {
    *type = "ARRAY[0..3, 0..7] OF DINT", *descr = "Shift totals by day and hour";
  }
}

// Initial value and live simulation of a tag; the draws from random keep
// their order so that a seed always gives the same model.
void AddValues(Json& tag, const std::string& kind, unsigned long simulated, std::mt19937& random) {
  if (random() % 10 == 0) tag["read_only"] = true;
  if (kind == "Recipe") tag["value"] = "Recipe " + std::to_string(random() % 100);
  if (kind == "Level") tag["value"] = static_cast<double>(random() % 1000) / 10.0;
  if (random() % 100 >= simulated) return;
  if (kind == "Count") {
    tag["simulate"] = {{"kind", "counter"}, {"step", 1}};
  } else if (kind == "Level") {
    tag["simulate"] = {{"kind", "sine"},
                       {"amplitude", 40.0},
                       {"offset", 50.0},
                       {"period_ms", 20000 + random() % 40000}};
  } else if (kind == "Flag") {
    tag["simulate"] = {{"kind", "toggle"}, {"period_ms", 500 + random() % 5000}};
  }
}

Json MakeTag(unsigned long n, unsigned long simulated, std::mt19937& random) {
  static const char* const kKinds[] = {"Motor", "Valve", "Analog", "Temps", "Count",
                                       "Flag",  "Level", "Recipe", "Total"};
  const unsigned area = static_cast<unsigned>(n / 1000), line = static_cast<unsigned>(n / 50 % 20);
  const std::string kind = kKinds[n % 9];
  const std::string name =
      "Area" + Pad(area, 2) + "_Line" + Pad(line, 2) + "_" + kind + Pad(n % 1000, 3);
  Json tag;
  tag["name"] = name;
  std::string type, descr;
  TypeOf(kind, &type, &descr);
  tag["type"] = type;
  tag["description"] = descr + " " + std::to_string(n) + " of line " + Pad(line, 2) + " in area " +
                       Pad(area, 2) +
                       "; maintained by the plant engineering team, see the area manual.";
  tag["attributes"] = {{"area", Pad(area, 2)},
                       {"line", Pad(line, 2)},
                       {"plc", "PLC" + Pad(area, 2)},
                       {"opc", "ns=2;s=" + name},
                       {"archive", (random() % 2 != 0) ? "yes" : "no"}};
  AddValues(tag, kind, simulated, random);
  return tag;
}

int Write(const std::string& text, const char* out_path) {
  if (out_path == nullptr) {
    std::cout << text << "\n";
    return std::cout ? 0 : 1;
  }
  std::ofstream out(out_path, std::ios::binary);
  out << text << "\n";
  if (!out) {
    std::cerr << "qxsym-genmodel: cannot write " << out_path << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int status = ParseArgs(argc, argv, &o); status != 0) return status;
  std::mt19937 random(static_cast<std::uint32_t>(o.seed));
  Json model;
  model["name"] = "Generated plant with " + std::to_string(o.tags) + " tags";
  model["types"] = Types();
  Json list = Json::array();
  for (unsigned long n = 0; n < o.tags; ++n) list.push_back(MakeTag(n, o.simulated, random));
  model["tags"] = std::move(list);
  return Write(model.dump(1), o.out_path);
}
