#include "Commands.h"

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <iostream>
#include <optional>
#include <sstream>
#include <thread>

#include "NewFile.h"
#include "QXSymbolsExt.h"
#include "ResultText.h"
#include "TagLister.h"
#include "TypeShape.h"
#include "ValueCodec.h"
#include "ValueSet.h"

namespace qxsym::cli {
namespace {

void PrintJson(const Json& doc) { std::cout << PrettyJson(doc) << std::endl; }

std::string VersionText(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
         std::to_string(d);
}

// Interruption of watch by SIGINT or SIGTERM.
std::atomic<bool> g_stop{false};
extern "C" void OnStopSignal(int) { g_stop = true; }

// Sleeps until `until` or a stop signal, whichever comes first.
void SleepUntil(std::chrono::steady_clock::time_point until) {
  while (!g_stop) {
    auto left = until - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    auto step = std::min<std::chrono::steady_clock::duration>(left, std::chrono::milliseconds(50));
    std::this_thread::sleep_for(step);
  }
}

std::string Timestamp(std::chrono::system_clock::time_point t, bool iso) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
  std::time_t secs = static_cast<std::time_t>(ms / 1000);
  std::tm tm{};
  char text[64];
  if (iso) {
    gmtime_r(&secs, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &tm);
  } else {
    localtime_r(&secs, &tm);
    std::strftime(text, sizeof text, "%H:%M:%S", &tm);
  }
  char frac[16];
  std::snprintf(frac, sizeof frac, ".%03d%s", static_cast<int>(ms % 1000), iso ? "Z" : "");
  return std::string(text) + frac;
}

struct TagInfo {
  std::string name, type, description;
  std::uint32_t size = 0, full_size = 0;
  bool read_only = false, bit = false;
};

TagInfo Describe(QXSymTagHandle tag, const std::string& name) {
  TagInfo info;
  info.name = name;
  auto what = [&] { return "cannot describe tag '" + name + "'"; };
  info.type = TagText(QXSym_GetTagDataType, tag);
  Check(QXSym_GetTagDataSize(tag, &info.size), what);
  Check(QXSym_GetTagDataFullSize(tag, &info.full_size), what);
  bool_t ro = 0, bit = 0;
  Check(QXSym_IsTagReadOnly(tag, &ro), what);
  Check(QXSym_IsTagBitAddress(tag, &bit), what);
  info.read_only = ro != 0;
  info.bit = bit != 0;
  info.description = TagText(QXSym_GetTagDescr, tag);
  return info;
}

void PrintShape(std::ostream& out, const Style& style, const std::string& label,
                const TypeShape& shape, int indent) {
  std::string line(static_cast<std::size_t>(indent) * 2, ' ');
  line += style.Bold(Escaped(label)) + ": " + style.Cyan(Escaped(shape.name)) + ", " +
          std::to_string(shape.size) + (shape.size == 1 ? " byte" : " bytes");
  std::string props;
  for (const std::string& p : PropertyNames(shape.properties)) props += " " + p;
  line += "," + props;
  if (shape.is_array()) {
    line += ", dims";
    for (std::size_t d = 0; d < shape.dims.size(); ++d) {
      line += (d ? " x " : " ") + std::to_string(shape.dims[d]);
    }
  }
  out << line << '\n';
  if (shape.is_array()) PrintShape(out, style, "element", *shape.element, indent + 1);
  for (const auto& [name, child] : shape.members) PrintShape(out, style, name, *child, indent + 1);
}

// A progress bar on standard error, redrawn at most ten times a second and
// at the end.
struct ProgressBar {
  Style style;
  std::chrono::steady_clock::time_point last_draw{};
  bool drawn = false;

  static void QXSYM_CALL Report(std::uint32_t received, std::uint32_t total, void* self) {
    auto* bar = static_cast<ProgressBar*>(self);
    const auto now = std::chrono::steady_clock::now();
    if (received < total && bar->drawn && now - bar->last_draw < std::chrono::milliseconds(100)) {
      return;
    }
    bar->last_draw = now;
    bar->drawn = true;
    constexpr int kWidth = 30;
    const double part = total == 0 ? 1.0 : static_cast<double>(received) / total;
    const int filled = static_cast<int>(part * kWidth);
    std::fprintf(
        stderr, "\r%s%s %3d%%  %u of %u bytes", bar->style.Green(std::string(filled, '#')).c_str(),
        std::string(kWidth - filled, '.').c_str(), static_cast<int>(part * 100), received, total);
    std::fflush(stderr);
  }
  void Finish() {
    if (drawn) std::fputc('\n', stderr);
  }
};

std::string Fixed(double v, int decimals) {
  std::ostringstream s;
  s.setf(std::ios::fixed);
  s.precision(decimals);
  s << v;
  return s.str();
}

}  // namespace

void ReportError(const Context& ctx, const CliError& e, bool document) {
  const std::string name = ResultName(e.code());
  const std::string advice = e.advice().empty() ? ResultAdvice(e.code()) : e.advice();
  std::cerr << ctx.err_style.Red("qxsym: error:") << " " << Escaped(e.what()) << ": "
            << ctx.err_style.Bold(name) << " (" << e.code() << ")\n  " << Escaped(advice)
            << std::endl;
  if (ctx.json && document) {
    PrintJson({{"error",
                {{"code", e.code()}, {"name", name}, {"message", e.what()}, {"advice", advice}}}});
  }
}

int RunInfo(const Context& ctx) {
  Session session(ctx.endpoint);
  uint8_t a = 0, b = 0, c = 0, d = 0;
  Check(QXSym_GetServerVersion(session.workspace(), &a, &b, &c, &d),
        [] { return std::string("cannot read the server version"); });
  std::uint32_t count = 0;
  Check(QXSym_GetGlobalTagsNum(session.workspace(), &count),
        [] { return std::string("cannot count the global tags"); });
  const std::string version = VersionText(a, b, c, d);
  const char* support = session.full_support() ? "full" : "partial (3.0.0 lacks some functions)";
  if (ctx.json) {
    PrintJson({{"host", ctx.endpoint.host},
               {"port", ctx.endpoint.port},
               {"version", version},
               {"full_support", session.full_support()},
               {"global_tags", count}});
    return 0;
  }
  const Style& s = ctx.out_style;
  PrintTable(std::cout, s,
             {"server", Escaped(ctx.endpoint.host) + ":" + std::to_string(ctx.endpoint.port)},
             {{"version", version}, {"support", support}, {"global tags", std::to_string(count)}});
  return 0;
}

int RunList(const Context& ctx, const std::string& filter, bool names_only) {
  Session session(ctx.endpoint);
  TagLister lister(session.workspace());
  std::vector<TagInfo> tags;
  lister.ForEach(filter, [&](QXSymTagHandle tag, const std::string& name) {
    if (names_only) {
      TagInfo info;
      info.name = name;
      tags.push_back(std::move(info));
    } else {
      tags.push_back(Describe(tag, name));
    }
    return true;
  });
  if (ctx.json) {
    Json list = Json::array();
    for (const TagInfo& t : tags) {
      if (names_only) {
        list.push_back(t.name);
        continue;
      }
      list.push_back({{"name", t.name},
                      {"type", t.type},
                      {"size", t.full_size},
                      {"data_size", t.size},
                      {"read_only", t.read_only},
                      {"bit", t.bit},
                      {"description", t.description}});
    }
    PrintJson(list);
    return 0;
  }
  if (names_only) {
    for (const TagInfo& t : tags) std::cout << Escaped(t.name) << '\n';
    return 0;
  }
  std::vector<std::vector<std::string>> rows;
  rows.reserve(tags.size());
  for (const TagInfo& t : tags) {
    std::string flags = std::string(t.read_only ? "R" : "-") + (t.bit ? "B" : "-");
    rows.push_back({Escaped(t.name), Escaped(t.type), std::to_string(t.full_size), flags,
                    ctx.out_style.Dim(Escaped(t.description))});
  }
  PrintTable(std::cout, ctx.out_style, {"NAME", "TYPE", "SIZE", "FLAGS", "DESCRIPTION"}, rows, {2});
  if (IsTerminal(stdout)) {
    std::cout << ctx.out_style.Dim(std::to_string(tags.size()) +
                                   " tags; flags: R read-only, B bit address")
              << '\n';
  }
  return 0;
}

int RunRead(const Context& ctx, const std::vector<std::string>& tags) {
  Session session(ctx.endpoint);
  ValueSet values(session);
  for (const std::string& tag : tags) values.Add(tag);
  values.Read();
  if (ctx.json) {
    Json doc = Json::object();
    for (std::size_t i = 0; i < values.size(); ++i) doc[values.name(i)] = values.Value(i);
    PrintJson(doc);
  } else {
    values.Print(std::cout, ctx.out_style);
  }
  return 0;
}

int RunWrite(const Context& ctx, const std::string& tag, const std::string& value) {
  Session session(ctx.endpoint);
  ValueSet values(session);
  values.Add(tag);
  values.Write(0, value);
  values.Read();
  if (ctx.json) {
    PrintJson({{values.name(0), values.Value(0)}});
  } else {
    values.Print(std::cout, ctx.out_style);
  }
  return 0;
}

int RunType(const Context& ctx, const std::string& tag) {
  Session session(ctx.endpoint);
  Tag handle = session.OpenTag(tag);
  Type type;
  Check(QXSym_GetTagType(handle.get(), type.out()),
        [&] { return "cannot read the type of tag '" + tag + "'"; });
  std::unique_ptr<TypeShape> shape = WalkType(type.get());
  if (ctx.json) {
    Json doc = {{"name", tag}};
    doc.update(ShapeJson(*shape));
    PrintJson(doc);
  } else {
    PrintShape(std::cout, ctx.out_style, tag, *shape, 0);
  }
  return 0;
}

int RunWatch(const Context& ctx, const std::vector<std::string>& tags, std::uint32_t interval_ms,
             std::uint64_t count) {
  Session session(ctx.endpoint);
  ValueSet values(session);
  for (const std::string& tag : tags) values.Add(tag);

  g_stop = false;
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  struct sigaction old_int {
  }, old_term{};
  sigaction(SIGINT, &action, &old_int);
  sigaction(SIGTERM, &action, &old_term);
  struct Restore {
    struct sigaction i, t;
    ~Restore() {
      sigaction(SIGINT, &i, nullptr);
      sigaction(SIGTERM, &t, nullptr);
    }
  } restore{old_int, old_term};

  // JSON: one list of change events, written as they happen and closed at
  // the end (also after Ctrl-C), so the output is one document.
  bool first_event = true;
  if (ctx.json) std::cout << "[" << std::flush;
  std::vector<std::vector<std::uint8_t>> last(values.leaves().size());
  auto next = std::chrono::steady_clock::now();
  auto close_list = [&] {
    if (ctx.json) std::cout << (first_event ? "]" : "\n]") << std::endl;
  };
  // A failure after the list began closes it, so the output stays one
  // document; the error goes to standard error only.
  try {
    for (std::uint64_t tick = 0; (count == 0 || tick < count) && !g_stop; ++tick) {
      if (tick > 0) {
        next += std::chrono::milliseconds(interval_ms);
        SleepUntil(next);
        if (g_stop) break;
      }
      values.Read();
      const auto now = std::chrono::system_clock::now();
      Json changes = Json::object();
      std::vector<std::string> lines;
      for (std::size_t i = 0; i < values.leaves().size(); ++i) {
        const ValueSet::Leaf& leaf = values.leaves()[i];
        if (tick > 0 && leaf.value == last[i]) continue;
        last[i] = leaf.value;
        if (ctx.json) {
          changes[leaf.path] = DecodeJson(leaf.tyvar, leaf.value.data(), leaf.value.size());
        } else {
          lines.push_back(
              Escaped(leaf.path) + " = " +
              ctx.out_style.Cyan(DecodeText(leaf.tyvar, leaf.value.data(), leaf.value.size())));
        }
      }
      if (ctx.json && !changes.empty()) {
        Json event = {{"time", Timestamp(now, true)}, {"changes", std::move(changes)}};
        std::cout << (first_event ? "\n" : ",\n") << CompactJson(event) << std::flush;
        first_event = false;
      }
      for (const std::string& line : lines) {
        std::cout << ctx.out_style.Dim(Timestamp(now, false)) << "  " << line << '\n';
      }
      std::cout << std::flush;
    }
  } catch (const CliError& e) {
    close_list();
    ReportError(ctx, e, false);
    return 1;
  }
  close_list();
  return 0;
}

int RunTable(const Context& ctx, const std::string& file, bool force) {
  const std::string what = "cannot download the symbol table into '" + file + "'";
  auto with_what = [&](const CliError& e) {
    return CliError(e.code(), what + ": " + e.what(), e.advice());
  };
  Session session(ctx.endpoint);
  // Without --force the table is written beside the file and put in its
  // place only while nothing has that name.
  std::optional<NewFile> target;
  try {
    if (!force) target.emplace(file);
  } catch (const CliError& e) {
    throw with_what(e);
  }
  const std::string& written = target ? target->staging() : file;
  ProgressBar bar{ctx.err_style};
  QXSymResult r = QXSym_GetSymbolTableProgress(session.workspace(), written.c_str(), force ? 1 : 0,
                                               ctx.progress ? &ProgressBar::Report : nullptr, &bar);
  bar.Finish();
  if (r != symResOk) throw CliError(r, what);
  struct stat st {};
  long long bytes = stat(written.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
  try {
    if (target) target->Publish();
  } catch (const CliError& e) {
    throw with_what(e);
  }
  if (ctx.json) {
    PrintJson({{"file", file}, {"bytes", bytes}});
  } else {
    std::cout << "wrote " << bytes << " bytes of symbol table to " << Escaped(file) << '\n';
  }
  return 0;
}

int RunBench(const Context& ctx, const std::string& tag_name, std::uint32_t count,
             std::uint32_t max_group) {
  Session session(ctx.endpoint);
  std::string name = tag_name;
  if (name.empty()) {
    // The first tag of a basic type that is not a text.
    TagLister lister(session.workspace());
    lister.ForEach("", [&](QXSymTagHandle tag, const std::string& candidate) {
      QXSymTyVar tyvar = QXSymTyVarNull;
      if (QXSym_GetTagDataTypeVar(tag, &tyvar) == symResOk && IsKnownTyVar(tyvar) &&
          tyvar != QXSymTyVarString) {
        name = candidate;
        return false;
      }
      return true;
    });
    if (name.empty()) {
      throw CliError(symResSymbolNotFound, "no tag of a basic type to measure with",
                     "name a tag: qxsym bench TAG");
    }
  }
  Tag tag = session.OpenTag(name);
  std::uint32_t size = 0;
  Check(QXSym_GetTagDataSize(tag.get(), &size), [&] { return "cannot read '" + name + "'"; });
  std::vector<std::uint8_t> buffer(size == 0 ? 1 : size);

  struct Row {
    std::string test;
    std::uint32_t values;
    std::uint32_t reads;
    double seconds;
  };
  std::vector<Row> rows;
  using Clock = std::chrono::steady_clock;
  auto seconds = [](Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
  };

  auto start = Clock::now();
  for (std::uint32_t i = 0; i < count; ++i) {
    Check(
        QXSym_GetTagValue_Ptr(tag.get(), buffer.data(), static_cast<std::uint32_t>(buffer.size())),
        [&] { return "cannot read '" + name + "'"; });
  }
  rows.push_back({"single read", 1, count, seconds(start, Clock::now())});

  // Each lookup gives a tag reference of its own, so one tag can fill a
  // group of any size.
  std::vector<Tag> members;
  Group group;
  Check(QXSym_CreateGroup(session.workspace(), group.out()),
        [] { return std::string("cannot create a group"); });
  for (std::uint32_t n = 1; n <= max_group; n *= 10) {
    while (members.size() < n) {
      members.push_back(session.OpenTag(name));
      Check(QXSym_AddTagToGroup(group.get(), members.back().get()),
            [&] { return "cannot add a group member"; });
    }
    start = Clock::now();
    for (std::uint32_t i = 0; i < count; ++i) {
      Check(QXSym_ReadGroup(group.get()), [] { return std::string("cannot read the group"); });
    }
    rows.push_back({"group read", n, count, seconds(start, Clock::now())});
  }

  if (ctx.json) {
    Json list = Json::array();
    for (const Row& r : rows) {
      double per_read = r.reads ? r.seconds / r.reads : 0;
      list.push_back({{"test", r.test},
                      {"values_per_read", r.values},
                      {"reads", r.reads},
                      {"us_per_read", per_read * 1e6},
                      {"reads_per_s", per_read > 0 ? 1 / per_read : 0},
                      {"values_per_s", per_read > 0 ? r.values / per_read : 0}});
    }
    PrintJson({{"tag", name}, {"results", list}});
    return 0;
  }
  std::cout << "tag " << ctx.out_style.Bold(Escaped(name)) << ", " << count << " reads per row\n";
  std::vector<std::vector<std::string>> table;
  for (const Row& r : rows) {
    double per_read = r.reads ? r.seconds / r.reads : 0;
    table.push_back({r.test, std::to_string(r.values), std::to_string(r.reads),
                     Fixed(per_read * 1e6, 1), Fixed(per_read > 0 ? 1 / per_read : 0, 0),
                     Fixed(per_read > 0 ? r.values / per_read : 0, 0)});
  }
  PrintTable(std::cout, ctx.out_style,
             {"TEST", "VALUES", "READS", "US/READ", "READS/S", "VALUES/S"}, table, {1, 2, 3, 4, 5});
  return 0;
}

}  // namespace qxsym::cli
