// qxsym-bench-report: turns one run of the benchmarks into the results
// section of docs/performance.md.
//
//   qxsym-bench-report --codec codec.json --api api.json --extra extra.txt
//                      [--doc docs/performance.md]
//
// The JSON files are Google Benchmark's output of qxsym-bench-codec and
// qxsym-bench-api; extra.txt holds key=value lines written by
// scripts/bench.sh (machine, instruction counts). With --doc the text
// between the two marker lines of the document is replaced; without it the
// section goes to standard output.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Json = nlohmann::json;

const char* const kBegin = "<!-- results:begin (written by scripts/bench.sh) -->";
const char* const kEnd = "<!-- results:end -->";

Json Load(const std::string& path) {
  std::ifstream in(path);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::stringstream text;
  text << in.rdbuf();
  // Google Benchmark writes NaN and infinities bare, which JSON lacks.
  std::string s = text.str();
  for (const char* bad :
       {": -NaN", ": NaN", ": -nan", ": nan", ": -inf", ": inf", ": -Infinity", ": Infinity"}) {
    for (auto at = s.find(bad); at != std::string::npos; at = s.find(bad, at)) {
      s.replace(at, std::string(bad).size(), ": null");
    }
  }
  return Json::parse(s);
}

std::map<std::string, std::string> LoadExtra(const std::string& path) {
  std::map<std::string, std::string> out;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const auto eq = line.find('=');
    if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return out;
}

// The results of one benchmark run, found by the start of its name (the
// name goes on with the run's settings, "/iterations:...", "/real_time").
class Results {
 public:
  // Each file with the prefix its run names get ("" for none).
  explicit Results(const std::vector<std::pair<std::string, Json>>& files) {
    for (const auto& [prefix, f] : files) {
      if (!f.contains("benchmarks")) continue;
      for (Json b : f["benchmarks"]) {
        b["run_name"] = prefix + b.value("run_name", b.value("name", ""));
        runs_.push_back(std::move(b));
      }
    }
  }

  // The median of the repetitions when there are several, else the run.
  const Json* Find(const std::string& prefix, int threads = 0) const {
    const Json* single = nullptr;
    for (const Json& b : runs_) {
      const std::string name = b.value("run_name", b.value("name", ""));
      if (b.contains("error_occurred") && b["error_occurred"].get<bool>()) continue;
      if (name != prefix && name.rfind(prefix + "/", 0) != 0) continue;
      if (threads != 0 && b.value("threads", 1) != threads) continue;
      const std::string type = b.value("run_type", "iteration");
      if (type == "aggregate" && b.value("aggregate_name", "") == "median") return &b;
      if (type == "iteration" && single == nullptr) single = &b;
    }
    return single;
  }

  // A number of a run, NaN when the run or the value is missing.
  double Get(const std::string& prefix, const std::string& key, int threads = 0) const {
    const Json* b = Find(prefix, threads);
    if (b == nullptr || !b->contains(key) || !(*b)[key].is_number()) return NAN;
    double v = (*b)[key].get<double>();
    if (key == "real_time" || key == "cpu_time") v *= UnitToNs(b->value("time_unit", "ns"));
    return v;
  }

 private:
  static double UnitToNs(const std::string& unit) {
    if (unit == "us") return 1e3;
    if (unit == "ms") return 1e6;
    if (unit == "s") return 1e9;
    return 1;
  }
  std::vector<Json> runs_;
};

std::string Num(double v, int decimals) {
  if (std::isnan(v)) return "n/a";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

// Three significant digits for values of any size.
std::string Sig(double v) {
  if (std::isnan(v)) return "n/a";
  const double a = std::fabs(v);
  return Num(v, a >= 100 ? 0 : a >= 10 ? 1 : a >= 1 ? 2 : 3);
}

std::string Verdict(bool known, bool met) {
  return !known ? "not measured" : met ? "met" : "**missed**";
}

struct Target {
  std::string what;
  std::string measured;
  std::string verdict;
};

std::string Render(const Results& r, const std::map<std::string, std::string>& extra) {
  auto x = [&](const std::string& k) {
    const auto it = extra.find(k);
    return it == extra.end() || it->second.empty() ? std::string("unknown") : it->second;
  };
  std::vector<Target> targets;
  std::ostringstream o;

  o << "Measured on " << x("run.date") << " at commit `" << x("run.commit") << "`.\n\n";
  o << "| machine | |\n|---|---|\n";
  o << "| CPU | " << x("machine.cpu") << " |\n";
  o << "| cores | " << x("machine.cores") << " |\n";
  o << "| kernel | " << x("machine.kernel") << " |\n";
  o << "| compiler | " << x("machine.compiler") << " (Release: -O3) |\n";
  o << "| load average before / after | " << x("machine.load_start") << " / "
    << x("machine.load_end") << " |\n\n";

  // ---- Frame codec
  o << "### Frame codec on an in-memory port\n\n";
  o << "CPU time of `SendFrame` and `ReceiveFrame` with acknowledgements and sequence numbers "
       "on; MB/s counts payload bytes (10^6 bytes per second).\n\n";
  o << "| payload | encode MB/s | decode MB/s |\n|---|---:|---:|\n";
  for (const char* p : {"24B", "1KiB", "1KiB_stuffed"}) {
    o << "| " << p << " | " << Sig(r.Get(std::string("Encode/") + p, "bytes_per_second") / 1e6)
      << " | " << Sig(r.Get(std::string("Decode/") + p, "bytes_per_second") / 1e6) << " |\n";
  }
  for (const char* p : {"1KiB", "1KiB_stuffed"}) {
    const double v = r.Get(std::string("Decode/") + p, "bytes_per_second") / 1e6;
    targets.push_back({std::string("decoding of ") + p + " payloads >= 200 MB/s", Sig(v) + " MB/s",
                       Verdict(!std::isnan(v), v >= 200)});
  }

  o << "\n### Transport: one exchange on an in-memory port\n\n";
  o << "`CGDBCommunication::Transact` against a peer in the same thread (the peer's own work is "
       "in the time, not in the allocation count).\n\n";
  o << "| exchange | CPU ns per exchange | heap allocations per exchange |\n|---|---:|---:|\n";
  for (const char* t : {"value_read", "1KiB_each_way"}) {
    const std::string name = std::string("Transact/") + t;
    const double allocs = r.Get(name, "allocs_per_exchange");
    o << "| " << t << " | " << Sig(r.Get(name, "cpu_time")) << " | " << Num(allocs, 2) << " |\n";
    targets.push_back({std::string("no heap allocation in the transport per exchange (") + t + ")",
                       Num(allocs, 2) + " per exchange",
                       Verdict(!std::isnan(allocs), allocs == 0)});
  }

  // ---- One exchange
  o << "\n### One exchange against qxsym-sim on loopback\n\n";
  o << "`QXSym_GetTagValue_Ptr` of a DINT tag, timed call by call, in blocks of 100 taken in "
       "turn with its floors: a ping-pong of the same number of bytes each way between two "
       "plain sockets (TCP_NODELAY) of two processes, the same with the client's last byte "
       "(its \"+\") written on its own as the library does, and a plain socket sending the "
       "library's own request frame to qxsym-sim. *acknowledgements*: qxsym-sim as it starts "
       "by default (the library then answers every reply with \"+\"); *none*: qxsym-sim "
       "--no-ack. *One CPU*: client and peers all on CPU 0, so that only the software's "
       "own cost and the system calls separate them; *separate CPUs*: the client on CPU 0, "
       "every peer on CPU 1, as a client and a controller on machines of their own (on this "
       "virtual machine a wake-up on the other CPU costs tens of microseconds).\n\n";
  struct Setup {
    const char* title;
    const char* prefix;
  };
  for (const Setup& setup : {Setup{"One CPU", ""}, Setup{"Separate CPUs", "twocpu/"}}) {
    const std::string ack = std::string(setup.prefix) + "Exchange/ack";
    const std::string none = std::string(setup.prefix) + "Exchange/noack";
    if (r.Find(ack) == nullptr && r.Find(none) == nullptr) continue;
    o << "**" << setup.title << "** (µs)\n\n";
    o << "| | acknowledgements: median | 99th pct. | mean | none: median | 99th pct. | mean "
         "|\n|---|---:|---:|---:|---:|---:|---:|\n";
    auto cells = [&](const std::string& name, const std::string& what) {
      return Sig(r.Get(name, what + "_p50_us")) + " | " + Sig(r.Get(name, what + "_p99_us")) +
             " | " + Sig(r.Get(name, what + "_mean_us"));
    };
    o << "| library | " << cells(ack, "lib") << " | " << cells(none, "lib") << " |\n";
    o << "| raw ping-pong, one write each way | " << cells(ack, "raw") << " | "
      << cells(none, "raw") << " |\n";
    o << "| raw ping-pong, \"+\" written on its own | " << cells(ack, "raw_split") << " | | | |\n";
    o << "| plain socket to qxsym-sim | " << cells(ack, "sim_direct") << " | "
      << cells(none, "sim_direct") << " |\n\n";
    const double lib_a = r.Get(ack, "lib_p50_us"), raw_a = r.Get(ack, "raw_p50_us");
    const double split_a = r.Get(ack, "raw_split_p50_us"), sim_a = r.Get(ack, "sim_direct_p50_us");
    const double lib_n = r.Get(none, "lib_p50_us"), raw_n = r.Get(none, "raw_p50_us");
    const double sim_n = r.Get(none, "sim_direct_p50_us");
    o << "Median ratios, with acknowledgements / none: library to raw ping-pong **"
      << Num(lib_a / raw_a, 2) << "** / **" << Num(lib_n / raw_n, 2)
      << "**; library to the ping-pong with \"+\" on its own **" << Num(lib_a / split_a, 2)
      << "**; what the library adds (library to plain socket to qxsym-sim) **"
      << Num(lib_a / sim_a, 2) << "** / **" << Num(lib_n / sim_n, 2)
      << "**; what the simulator adds (plain socket to qxsym-sim to the matching ping-pong) **"
      << Num(sim_a / split_a, 2) << "** / **" << Num(sim_n / raw_n, 2) << "**.\n\n";
    targets.push_back({std::string("one exchange within 1.3 x the raw ping-pong of the same bytes, "
                                   "acknowledgements on (") +
                           setup.title + ")",
                       Num(lib_a / raw_a, 2) + " x",
                       Verdict(!std::isnan(lib_a / raw_a), lib_a / raw_a <= 1.3)});
    targets.push_back(
        {std::string("the same, controller without acknowledgements (") + setup.title + ")",
         Num(lib_n / raw_n, 2) + " x", Verdict(!std::isnan(lib_n / raw_n), lib_n / raw_n <= 1.3)});
    targets.push_back(
        {std::string("the same, against the ping-pong that writes \"+\" on its own as "
                     "the library must (") +
             setup.title + ")",
         Num(lib_a / split_a, 2) + " x",
         Verdict(!std::isnan(lib_a / split_a), lib_a / split_a <= 1.3)});
  }
  o << "Per library call (acknowledgements on): " << Num(r.Get("Exchange/ack", "sends"), 0)
    << " sends, " << Num(r.Get("Exchange/ack", "polls"), 0) << " polls, "
    << Num(r.Get("Exchange/ack", "recvs"), 0) << " recv, "
    << Num(r.Get("Exchange/ack", "exchanges"), 0) << " request frame, "
    << Num(r.Get("Exchange/ack", "bytes_out"), 1) << " bytes out and "
    << Num(r.Get("Exchange/ack", "bytes_in"), 1) << " in, "
    << Num(r.Get("Exchange/ack", "allocs_per_call"), 2)
    << " heap allocations (the copy of the tag object that the call works on).\n";

  // ---- N tags
  o << "\n### N DINT tags: one by one and as one group\n\n";
  o << "Everything on CPU 0. Time per read of all N tags (real time); exchanges are request "
       "frames sent. *group* is "
       "one `QXSym_ReadGroup`; *group + values* also takes the N values out with "
       "`QXSym_GetTagValueFromGroup_Ptr`; *1 KiB fragments* is the group read from a simulator "
       "that cuts replies into 1 KiB fragments (its default), the others use one frame per "
       "reply.\n\n";
  o << "| N | one by one µs | exchanges | group µs | exchanges | group + values µs | 1 KiB "
       "fragments µs | exchanges | one by one / group |\n"
       "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
  for (int n : {1, 10, 100, 1000}) {
    const std::string s = "/" + std::to_string(n);
    const double single = r.Get("Read/single" + s, "real_time") / 1e3;
    const double group = r.Get("Read/group" + s, "real_time") / 1e3;
    o << "| " << n << " | " << Sig(single) << " | " << Num(r.Get("Read/single" + s, "exchanges"), 0)
      << " | " << Sig(group) << " | " << Num(r.Get("Read/group" + s, "exchanges"), 0) << " | "
      << Sig(r.Get("Read/group_values" + s, "real_time") / 1e3) << " | "
      << Sig(r.Get("Read/group_frag1KiB" + s, "real_time") / 1e3) << " | "
      << Num(r.Get("Read/group_frag1KiB" + s, "exchanges"), 0) << " | " << Sig(single / group)
      << " |\n";
  }
  {
    const double one = r.Get("Read/single/1", "real_time");
    const double g1000 = r.Get("Read/group/1000", "real_time");
    const double s1000 = r.Get("Read/single/1000", "real_time");
    targets.push_back({"group read of 1000 DINT tags within 3 x one single-tag read",
                       Num(g1000 / one, 2) + " x",
                       Verdict(!std::isnan(g1000 / one), g1000 / one <= 3)});
    targets.push_back({"group read of 1000 DINT tags >= 100 x faster than 1000 single reads",
                       Sig(s1000 / g1000) + " x",
                       Verdict(!std::isnan(s1000 / g1000), s1000 / g1000 >= 100)});
  }

  // ---- Symbol table
  o << "\n### Symbol-table download (`QXSym_GetSymbolTable`)\n\n";
  o << "Everything on CPU 0. Generated models padded to the exact size; the simulator's reply "
       "fragments of 1 KiB and "
       "of the largest frame. Peak heap is the client's high-water mark during the call above "
       "what was in use before (counting operator new).\n\n";
  o << "| table | fragment bytes | MB/s | exchanges | peak heap MiB | peak / table |\n"
       "|---:|---:|---:|---:|---:|---:|\n";
  for (int mib : {1, 4, 16}) {
    double small_rate = NAN;
    for (const char* frag : {"1024", "65532"}) {
      const std::string name = "Table/" + std::to_string(mib) + "MiB/frag" + frag;
      const double rate = r.Get(name, "bytes_per_second") / 1e6;
      const double peak = r.Get(name, "peak_heap_bytes");
      const double ratio = r.Get(name, "peak_per_table");
      o << "| " << mib << " MiB | " << frag << " | " << Sig(rate) << " | "
        << Num(r.Get(name, "exchanges"), 0) << " | " << Num(peak / 1048576.0, 1) << " | "
        << Num(ratio, 2) << " |\n";
      const double want = std::stod(frag) / 1024.0;
      targets.push_back({"download of " + std::to_string(mib) + " MiB at " + frag +
                             "-byte fragments >= " + Sig(want) + " MB/s",
                         Sig(rate) + " MB/s", Verdict(!std::isnan(rate), rate >= want)});
      targets.push_back({"peak memory of the " + std::to_string(mib) + " MiB download (" + frag +
                             ") <= 3 x the table",
                         Num(ratio, 2) + " x", Verdict(!std::isnan(ratio), ratio <= 3)});
      if (std::string(frag) == "1024") {
        small_rate = rate;
      } else {
        targets.push_back(
            {"download rate of " + std::to_string(mib) + " MiB rises with the fragment size",
             Sig(small_rate) + " -> " + Sig(rate) + " MB/s",
             Verdict(!std::isnan(rate) && !std::isnan(small_rate), rate > small_rate)});
      }
    }
  }

  // ---- Threads
  o << "\n### Threads reading DINT tags\n\n";
  o << "Unpinned. Exchanges per second of all threads together; *one workspace*: every thread "
       "reads its own tag of one workspace; *own workspaces*: each thread has a workspace (and "
       "connection) of its own on one simulator; *own controllers*: each thread has a workspace "
       "on a simulator process of its own. The ratio is *own controllers* over one thread.\n\n";
  o << "| threads | one workspace | own workspaces | own controllers | ratio |\n"
       "|---:|---:|---:|---:|---:|\n";
  const double one_thread = r.Get("Threads/own_controller", "items_per_second", 1);
  for (int t : {1, 2, 4}) {
    const double own = r.Get("Threads/own_controller", "items_per_second", t);
    o << "| " << t << " | " << Sig(r.Get("Threads/one_workspace", "items_per_second", t)) << " | "
      << Sig(r.Get("Threads/own_workspace", "items_per_second", t)) << " | " << Sig(own) << " | "
      << Num(own / one_thread, 2) << " |\n";
  }
  const double two_ratio = r.Get("Threads/own_controller", "items_per_second", 2) / one_thread;
  targets.push_back({"2 threads on 2 controllers >= 1.4 x one thread", Num(two_ratio, 2) + " x",
                     Verdict(!std::isnan(two_ratio), two_ratio >= 1.4)});

  // ---- Instructions
  o << "\n### Instructions per exchange (callgrind)\n\n";
  auto per = [&](const std::string& a, const std::string& b) -> double {
    const auto ia = extra.find(a), ib = extra.find(b), ic = extra.find("callgrind.count");
    if (ia == extra.end() || ib == extra.end() || ic == extra.end() || ia->second.empty() ||
        ib->second.empty() || ic->second.empty()) {
      return NAN;
    }
    return (std::stod(ib->second) - std::stod(ia->second)) / std::stod(ic->second);
  };
  o << "`qxsym-bench-driver` reads a DINT tag " << x("callgrind.count")
    << " times through `QXSym_GetTagValue_Ptr` against qxsym-sim; the count of a run with 0 "
       "reads is subtracted and the difference divided by the reads. User-space instructions "
       "only (the kernel's share of each socket call is not in them).\n\n";
  o << "| side | instructions per exchange |\n|---|---:|\n";
  o << "| client: API, copy of the tag, channel, codec, TCP port | "
    << Num(per("callgrind.client_0", "callgrind.client_n"), 0) << " |\n";
  o << "| qxsym-sim: session, service, reply | "
    << Num(per("callgrind.sim_0", "callgrind.sim_n"), 0) << " |\n";
  o << "\nWhere they go (inclusive counts, each part contains the ones below it):\n\n";
  o << "| part | instructions per exchange |\n|---|---:|\n";
  static const char* const kParts[][2] = {
      {"api", "client: `QXSym_GetTagValue_Ptr` as a whole"},
      {"clone", "client: the copy of the tag object"},
      {"lock", "client: mutex locks (library lock, port lock)"},
      {"exchange", "client: request and reply of the symbol service (`Exchange`)"},
      {"transact", "client: `CGDBCommunication::Transact`"},
      {"send_frame", "client: `SendFrame` (encode, send, wait for \"+\")"},
      {"receive_frame", "client: `ReceiveFrame` (wait, decode, send \"+\")"}};
  for (const auto& part : kParts) {
    const std::string key = std::string("callgrind.part.") + part[0];
    o << "| " << part[1] << " | " << Num(per(key + "_0", key + "_n"), 0) << " |\n";
  }
  static const char* const kSimParts[][2] = {
      {"session", "qxsym-sim: `Session::Receive` (decode, dispatch, reply)"},
      {"service", "qxsym-sim: `SymbolService::Handle`"},
      {"encode", "qxsym-sim: `AppendReplyFrame`"}};
  for (const auto& part : kSimParts) {
    const std::string key = std::string("callgrind.simpart.") + part[0];
    o << "| " << part[1] << " | " << Num(per(key + "_0", key + "_n"), 0) << " |\n";
  }

  // ---- Targets
  o << "\n### Targets\n\n| target | measured | verdict |\n|---|---|---|\n";
  for (const Target& t : targets) {
    o << "| " << t.what << " | " << t.measured << " | " << t.verdict << " |\n";
  }
  return o.str();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::pair<std::string, std::string>> json_paths;  // prefix, path
  std::string extra_path, doc_path;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--codec" || a == "--api") && i + 1 < argc) {
      json_paths.emplace_back("", argv[++i]);
    } else if (a == "--api-twocpu" && i + 1 < argc) {
      json_paths.emplace_back("twocpu/", argv[++i]);
    } else if (a == "--extra" && i + 1 < argc) {
      extra_path = argv[++i];
    } else if (a == "--doc" && i + 1 < argc) {
      doc_path = argv[++i];
    } else {
      std::cerr << "usage: qxsym-bench-report --codec FILE --api FILE... [--api-twocpu FILE] "
                   "--extra FILE "
                   "[--doc FILE]\n";
      return 2;
    }
  }
  try {
    std::vector<std::pair<std::string, Json>> files;
    for (const auto& [prefix, path] : json_paths) files.emplace_back(prefix, Load(path));
    const std::string section =
        Render(Results(files),
               extra_path.empty() ? std::map<std::string, std::string>{} : LoadExtra(extra_path));
    if (doc_path.empty()) {
      std::cout << section;
      return 0;
    }
    std::ifstream in(doc_path);
    std::stringstream text;
    text << in.rdbuf();
    std::string doc = text.str();
    const auto b = doc.find(kBegin);
    const auto e = doc.find(kEnd);
    if (b == std::string::npos || e == std::string::npos || e < b) {
      std::cerr << "qxsym-bench-report: " << doc_path << " lacks the result markers\n";
      return 1;
    }
    doc = doc.substr(0, b + std::string(kBegin).size()) + "\n\n" + section + "\n" + doc.substr(e);
    std::ofstream out(doc_path, std::ios::trunc);
    out << doc;
    if (!out) {
      std::cerr << "qxsym-bench-report: cannot write " << doc_path << "\n";
      return 1;
    }
  } catch (const std::exception& ex) {
    std::cerr << "qxsym-bench-report: " << ex.what() << "\n";
    return 1;
  }
  return 0;
}
