#include "TagValues.h"

namespace qxsym::cli {

std::vector<TagValues> ReadTags(const Context& ctx, client::Session& session,
                                const std::vector<std::string>& paths) {
  std::vector<TagValues> out(paths.size());
  std::vector<std::string> sent;
  std::vector<std::size_t> where;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    out[i].path = paths[i];
    try {
      CheckSentText(ctx, paths[i], "tag name");
    } catch (const CliError& e) {
      out[i].code = e.code();
      out[i].message = e.what();
      out[i].advice = e.advice();
      continue;
    }
    sent.push_back(paths[i]);
    where.push_back(i);
  }
  if (sent.empty()) return out;
  std::vector<client::ReadResult> results = client::Values(session).Read(sent);
  for (std::size_t k = 0; k < results.size(); ++k) {
    TagValues& t = out[where[k]];
    client::ReadResult& r = results[k];
    t.code = r.code;
    t.message = r.code == symResOk ? std::string() : r.message;
    t.layout = r.layout;
    t.values = std::move(r.values);
    if (!t.ok() || !t.layout) continue;
    try {
      t.tree = std::make_unique<ValueTree>(*t.layout);
    } catch (const CliError& e) {
      t.code = e.code();
      t.message = e.what();
    }
  }
  return out;
}

}  // namespace qxsym::cli
