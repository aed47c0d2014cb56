// Where qxsym-sim finds the model it serves when given no --model: beside
// the program, so an installed or a built simulator works from any folder.
#pragma once

#include <string>
#include <vector>

namespace qxsym::sim {

// The folder holding the running program: /proc/self/exe where there is
// one, else the folder part of argv0; "" when neither tells.
std::string ProgramDir(const char* argv0);

// The places looked at, in order, for a program in program_dir: the
// installed tree (<dir>/../share/qxsymbols/models/demo.json with the default
// install folders), then the copy
// the build puts beside the program (<dir>/models/demo.json).
std::vector<std::string> DefaultModelCandidates(const std::string& program_dir);

// The first candidate that is a readable file, or "" when there is none.
std::string FindDefaultModel(const std::string& program_dir);

}  // namespace qxsym::sim
