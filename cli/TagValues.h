// Values of the tags a command names, read together through the client
// core: each with its result, its layout and its nested view.
#pragma once

#include <Session.h>
#include <Values.h>

#include <memory>
#include <string>
#include <vector>

#include "Context.h"
#include "ValueTree.h"

namespace qxsym::cli {

struct TagValues {
  std::string path;  // as the user gave it
  int code = symResOk;
  std::string message;  // why it failed
  std::string advice;   // what to do, when the core's advice for code does not say
  std::shared_ptr<const client::Layout> layout;
  std::unique_ptr<ValueTree> tree;
  std::vector<client::LeafValue> values;

  bool ok() const { return code == symResOk; }
  CliError error() const { return CliError(code, message, advice); }
};

// Reads every path in one exchange; a path that fails carries its own
// result and the others are still read. Names too long to send fail alone.
std::vector<TagValues> ReadTags(const Context& ctx, client::Session& session,
                                const std::vector<std::string>& paths);

}  // namespace qxsym::cli
