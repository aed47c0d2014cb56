// The subcommands of qxsym. Each file of commands/ binds one command's
// options on the application and gives how it runs; main only assembles
// them. A run returns the exit status and throws CliError on failure.
#pragma once

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "Context.h"
#include "LeafJson.h"

namespace qxsym::cli {

struct Command {
  CLI::App* app = nullptr;
  std::function<int(const Context&)> run;
};

Command AddInfo(CLI::App& app);
Command AddList(CLI::App& app);
Command AddRead(CLI::App& app);
Command AddWrite(CLI::App& app);
Command AddType(CLI::App& app);
Command AddWatch(CLI::App& app);
Command AddTable(CLI::App& app);
Command AddBench(CLI::App& app);

// A subcommand with its help line and examples.
CLI::App* AddSubcommand(CLI::App& app, const char* name, const char* help, const char* examples);

// The document on standard output, indented.
void PrintJson(const Json& doc);

}  // namespace qxsym::cli
