// Models and programs for the benchmarks that run against qxsym-sim.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace qxsym::bench {

// Paths of the programs, from the build unless QXSYM_SIM / QXSYM_GENMODEL
// name others.
std::string SimBinary();
std::string GenmodelBinary();

// A folder for generated models: $QXSYM_BENCH_DIR, else one under /tmp.
// Created on first use.
const std::string& WorkDir();

// Name of the i-th DINT tag of the DINT model.
std::string DintTagName(std::size_t i);

// Writes a model of `count` DINT tags (values 0, 1, 2, ...) unless the file
// exists already. Returns its path, or "" with a message in *error.
std::string DintModel(std::size_t count, std::string* error);

// A model file (a plant written by qxsym-genmodel, padded with blanks) of
// exactly `bytes` bytes, made unless it exists already; its bytes are the
// symbol table the simulator serves. Returns its path, or "" on failure.
std::string TableModel(std::size_t bytes, std::string* error);

// Runs a program to its end; true when it exits with 0.
bool RunProgram(const std::vector<std::string>& argv, std::string* error);

}  // namespace qxsym::bench
