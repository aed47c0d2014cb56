#include "BenchModels.h"

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

extern char** environ;

namespace qxsym::bench {
namespace {

std::string FromEnv(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v != nullptr && *v != '\0' ? v : fallback;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

long FileSize(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
}

bool Generate(std::size_t tags, const std::string& path, std::string* error) {
  return RunProgram(
      {GenmodelBinary(), "--tags", std::to_string(tags), "--simulated", "0", "-o", path}, error);
}

}  // namespace

std::string SimBinary() { return FromEnv("QXSYM_SIM", QXSYM_SIM_PATH); }
std::string GenmodelBinary() { return FromEnv("QXSYM_GENMODEL", QXSYM_GENMODEL_PATH); }

const std::string& WorkDir() {
  static const std::string dir = [] {
    std::string d = FromEnv("QXSYM_BENCH_DIR", "");
    if (d.empty()) d = "/tmp/qxsym-bench-" + std::to_string(::getuid());
    ::mkdir(d.c_str(), 0700);
    return d;
  }();
  return dir;
}

std::string DintTagName(std::size_t i) {
  char name[32];
  std::snprintf(name, sizeof name, "Value%05zu", i);
  return name;
}

std::string DintModel(std::size_t count, std::string* error) {
  const std::string path = WorkDir() + "/dint-" + std::to_string(count) + ".json";
  if (Exists(path)) return path;
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary);
    out << "{\n \"name\": \"" << count << " DINT tags\",\n \"tags\": [\n";
    for (std::size_t i = 0; i < count; ++i) {
      out << "  {\"name\": \"" << DintTagName(i) << "\", \"type\": \"DINT\", \"value\": " << i
          << "}" << (i + 1 < count ? ",\n" : "\n");
    }
    out << " ]\n}\n";
    if (!out) {
      if (error) *error = "cannot write " + temp;
      return "";
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot rename " + temp;
    return "";
  }
  return path;
}

std::string TableModel(std::size_t bytes, std::string* error) {
  const std::string path = WorkDir() + "/table-" + std::to_string(bytes) + ".json";
  if (FileSize(path) == static_cast<long>(bytes)) return path;
  const std::string temp = path + ".tmp";
  // Size of a plant grows by the same amount per tag: measure it on two
  // small ones, then aim a little below the wanted size and pad.
  if (!Generate(100, temp, error)) return "";
  const long s100 = FileSize(temp);
  if (!Generate(200, temp, error)) return "";
  const long per_tag = (FileSize(temp) - s100) / 100;
  const long base = s100 - 100 * per_tag;
  long tags = (static_cast<long>(bytes) - base) / per_tag - 10;
  for (;;) {
    if (tags < 1) {
      if (error) *error = "table size too small for a model";
      return "";
    }
    if (!Generate(static_cast<std::size_t>(tags), temp, error)) return "";
    if (FileSize(temp) <= static_cast<long>(bytes)) break;
    tags -= tags / 50 + 1;
  }
  {
    // Blanks after the JSON value keep the file a valid model.
    std::ofstream out(temp, std::ios::binary | std::ios::app);
    const std::string pad(bytes - static_cast<std::size_t>(FileSize(temp)), ' ');
    out << pad;
    if (!out) {
      if (error) *error = "cannot pad " + temp;
      return "";
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot rename " + temp;
    return "";
  }
  return path;
}

bool RunProgram(const std::vector<std::string>& argv_text, std::string* error) {
  std::vector<std::string> copy = argv_text;
  std::vector<char*> argv;
  for (auto& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ);
  if (rc != 0) {
    if (error) *error = "cannot start " + argv_text[0] + ": " + std::strerror(rc);
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      if (error) *error = "lost " + argv_text[0];
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  if (error) *error = argv_text[0] + " failed";
  return false;
}

}  // namespace qxsym::bench
