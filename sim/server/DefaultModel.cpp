#include "DefaultModel.h"

#include <fstream>

#if defined(__linux__)
#include <limits.h>
#include <unistd.h>
#endif

// The installed models folder relative to the installed program.
#ifndef QXSYM_SIM_INSTALLED_MODELS
#define QXSYM_SIM_INSTALLED_MODELS "../share/qxsymbols/models"
#endif

namespace qxsym::sim {

namespace {

std::string DirOf(const std::string& path) {
  const std::string::size_type slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::string ProgramDir(const char* argv0) {
#if defined(__linux__)
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n > 0) return DirOf(std::string(buf, static_cast<std::size_t>(n)));
#endif
  if (argv0 == nullptr || *argv0 == '\0') return "";
  return DirOf(argv0);
}

std::vector<std::string> DefaultModelCandidates(const std::string& program_dir) {
  if (program_dir.empty()) return {};
  return {program_dir + "/" QXSYM_SIM_INSTALLED_MODELS "/demo.json",
          program_dir + "/models/demo.json"};
}

std::string FindDefaultModel(const std::string& program_dir) {
  for (const std::string& path : DefaultModelCandidates(program_dir)) {
    if (std::ifstream(path).good()) return path;
  }
  return "";
}

}  // namespace qxsym::sim
