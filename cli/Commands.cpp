#include "Commands.h"

#include <iostream>

namespace qxsym::cli {

CLI::App* AddSubcommand(CLI::App& app, const char* name, const char* help, const char* examples) {
  CLI::App* sub = app.add_subcommand(name, help);
  sub->footer(std::string("Examples:\n") + examples);
  return sub;
}

void PrintJson(const Json& doc) { std::cout << PrettyJson(doc) << std::endl; }

}  // namespace qxsym::cli
