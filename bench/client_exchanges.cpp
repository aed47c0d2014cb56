// qxsym-bench-client: exchanges the client core costs against qxsym-sim
// on loopback with the demo model, counted twice: the request frames the
// program sends (SendCounter) and the session's own count. Rows:
//   fresh read of a basic tag (CntDint), open and close included
//   first read of a structure (Line), open and close included
//   repeated read of a tag already described in the session
//   first read of Line with a filled symbol cache (after open and SetCache)
// Prints one line per row; --json writes them as a JSON array.
#include <QXSymCore.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchModels.h"
#include "SendCounter.h"
#include "SimLauncher.h"

namespace {

using qxsym::bench::CurrentSocketStats;

struct Row {
  std::string name;
  std::uint64_t frames = 0;
  std::uint64_t counted = 0;
  std::uint64_t target = 0;
};

bool ReadOnce(QXSymCoreHandle s, const char* path) {
  const QXSymCoreReadItem* items = nullptr;
  return QXSymCore_Read(s, &path, 1, &items) == symResOk;
}

// Open, read path, close: the frames of all of it.
bool FreshRead(const QXSymServerAddress& a, const char* path, std::uint64_t target, Row* row) {
  row->name = std::string("fresh read of ") + path + " (open and close included)";
  row->target = target;
  const auto before = CurrentSocketStats();
  QXSymCoreHandle s = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return false;
  const bool ok = ReadOnce(s, path);
  std::uint64_t counted = 0;
  QXSymCore_Exchanges(s, &counted);
  QXSymCore_Close(s);
  row->frames = (CurrentSocketStats() - before).request_frames;
  row->counted = counted + 1;  // the close
  return ok;
}

bool RepeatedRead(const QXSymServerAddress& a, const char* path, Row* row) {
  row->name = std::string("repeated read of ") + path;
  row->target = 1;
  QXSymCoreHandle s = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return false;
  bool ok = ReadOnce(s, path);
  std::uint64_t c0 = 0, c1 = 0;
  QXSymCore_Exchanges(s, &c0);
  const auto before = CurrentSocketStats();
  ok = ok && ReadOnce(s, path);
  row->frames = (CurrentSocketStats() - before).request_frames;
  QXSymCore_Exchanges(s, &c1);
  row->counted = c1 - c0;
  QXSymCore_Close(s);
  return ok;
}

// A first session fills a cache in dir; a second one reads path by it.
bool CachedRead(const QXSymServerAddress& a, const char* path, const std::string& dir, Row* row) {
  row->name = std::string("first read of ") + path + " with a filled cache";
  row->target = 4;
  QXSymCoreHandle s = 0;
  if (QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return false;
  bool ok = QXSymCore_SetCache(s, dir.c_str()) == symResOk && ReadOnce(s, path);
  QXSymCore_Close(s);
  if (!ok || QXSymCore_Open(&a, 0, QXSymCoreLatin1, 1, &s) != symResOk) return false;
  ok = QXSymCore_SetCache(s, dir.c_str()) == symResOk;
  std::uint64_t c0 = 0, c1 = 0;
  QXSymCore_Exchanges(s, &c0);
  const auto before = CurrentSocketStats();
  ok = ok && ReadOnce(s, path);
  row->frames = (CurrentSocketStats() - before).request_frames;
  QXSymCore_Exchanges(s, &c1);
  row->counted = c1 - c0;
  QXSymCore_SetCache(s, nullptr);
  QXSymCore_Close(s);
  std::filesystem::remove_all(dir);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  qxsym::test::SimLauncher sim(qxsym::bench::SimBinary());
  std::string error;
  if (!sim.Start({"--scan", "0"}, &error)) {
    std::fprintf(stderr, "qxsym-bench-client: %s\n", error.c_str());
    return 1;
  }
  const QXSymServerAddress a = sim.Address(5000);
  std::vector<Row> rows(5);
  const std::string cache_dir =
      (std::filesystem::temp_directory_path() / ("qxsym-bench-cache-" + std::to_string(sim.port())))
          .string();
  const bool ok = FreshRead(a, "CntDint", 8, &rows[0]) && FreshRead(a, "Line", 120, &rows[1]) &&
                  RepeatedRead(a, "CntDint", &rows[2]) && RepeatedRead(a, "Line", &rows[3]) &&
                  CachedRead(a, "Line", cache_dir, &rows[4]);
  if (!ok) {
    std::fprintf(stderr, "qxsym-bench-client: a read failed\n");
    return 1;
  }
  if (json) std::printf("[\n");
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& r = rows[i];
    if (json) {
      std::printf(
          "  {\"row\": \"%s\", \"exchanges\": %llu, \"session_count\": %llu, "
          "\"target\": %llu}%s\n",
          r.name.c_str(), static_cast<unsigned long long>(r.frames),
          static_cast<unsigned long long>(r.counted), static_cast<unsigned long long>(r.target),
          i + 1 < rows.size() ? "," : "");
    } else {
      std::printf("%-50s %6llu exchanges (session counts %llu, target at most %llu)\n",
                  r.name.c_str(), static_cast<unsigned long long>(r.frames),
                  static_cast<unsigned long long>(r.counted),
                  static_cast<unsigned long long>(r.target));
    }
  }
  if (json) std::printf("]\n");
  return 0;
}
