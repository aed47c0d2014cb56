#include "SourcePath.h"

namespace qxsym::client {

QXSymResult SpellPath(const std::string& path, Encoding encoding, std::string* spelt) {
  std::string out;
  CodecError err;
  if (path.empty() || !TextFromUtf8(path, encoding, &out, &err) ||
      out.find('\0') != std::string::npos) {
    return symResSymbolNotFound;
  }
  if (out.size() >= QXSYM_MAX_STRING) return symResInvalidParameter;
  *spelt = std::move(out);
  return symResOk;
}

}  // namespace qxsym::client
