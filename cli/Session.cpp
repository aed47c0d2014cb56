#include "Session.h"

#include <chrono>
#include <cstring>
#include <vector>

namespace qxsym::cli {
namespace {

// The library's reply time-out when the address gives 0.
constexpr int kLibraryTimeoutMs = 10000;

}  // namespace

Session::Session(const Endpoint& endpoint) : endpoint_(endpoint) {
  Check(QXSym_Init(), [] { return std::string("cannot start the library"); });
  QXSymServerAddress address{};
  address.protocol = symProtGDB_TCP;
  if (endpoint.host.size() >= sizeof address.ip) {
    QXSym_Shutdown();
    throw CliError(symResInvalidAddress, "host name '" + endpoint.host + "' is too long",
                   "give at most 59 characters");
  }
  std::memcpy(address.ip, endpoint.host.c_str(), endpoint.host.size() + 1);
  address.port = endpoint.port;
  address.timeout = endpoint.timeout_ms;
  const auto started = std::chrono::steady_clock::now();
  QXSymResult r = QXSym_OpenWorkspace(0, &address, &workspace_);
  if (r == symResOkServerNotFullSupport) {
    full_support_ = false;
  } else if (r != symResOk) {
    QXSym_Shutdown();
    const std::string what =
        "cannot connect to " + endpoint.host + ":" + std::to_string(endpoint.port);
    // A controller that takes the connection and stays silent fails the
    // open with symResSocketError once the handshakes and the open request
    // have each waited a whole time-out; one that closes fails at once.
    const std::chrono::milliseconds waited(endpoint.timeout_ms != 0 ? endpoint.timeout_ms
                                                                    : kLibraryTimeoutMs);
    if (r == symResSocketError && std::chrono::steady_clock::now() - started >= waited) {
      throw CliError(r, what + ": the controller does not answer",
                     "it accepted the connection but answered nothing within the time-outs; "
                     "check that the port is its symbol service's and that it runs");
    }
    throw CliError(r, what);
  }
}

Session::~Session() {
  QXSym_CloseWorkspace(workspace_);
  QXSym_Shutdown();
}

void CheckSentText(const std::string& text, const char* what) {
  if (text.size() <= kMaxSentText) return;
  throw CliError(
      symResInvalidParameter,
      std::string(what) + " '" + text + "' is too long (" + std::to_string(text.size()) + " bytes)",
      "give at most " + std::to_string(kMaxSentText) + " bytes");
}

Tag Session::OpenTag(const std::string& name) const {
  CheckSentText(name, "tag name");
  Tag tag;
  QXSymResult r = QXSym_GetGlobalTag(workspace_, name.c_str(), tag.out());
  if (r != symResOk) throw CliError(r, "cannot find tag '" + name + "'");
  return tag;
}

namespace {

template <typename Get>
std::string ReadText(Get&& get) {
  std::vector<TCHAR> buffer(QXSYM_MAX_STRING);
  for (int attempt = 0; attempt < 2; ++attempt) {
    auto length = static_cast<std::uint16_t>(buffer.size());
    QXSymResult r = get(buffer.data(), &length);
    if (r == symResInvalidBuffer && length > buffer.size()) {
      buffer.resize(length);
      continue;
    }
    Check(r, [] { return std::string("cannot read a name or text"); });
    return std::string(buffer.data(), strnlen(buffer.data(), buffer.size()));
  }
  throw CliError(symResInvalidBuffer, "a name or text kept growing");
}

}  // namespace

std::string TagText(QXSymResult(QXSYM_CALL* get)(QXSymTagHandle, TCHAR*, uint16_t*),
                    QXSymTagHandle tag) {
  return ReadText([&](TCHAR* b, uint16_t* n) { return get(tag, b, n); });
}

std::string TypeName(QXSymTypeHandle type) {
  return ReadText([&](TCHAR* b, uint16_t* n) { return QXSym_TypeGetName(type, b, n); });
}

std::string TypeChildName(QXSymTypeHandle type, std::uint32_t index) {
  return ReadText([&](TCHAR* b, uint16_t* n) { return QXSym_TypeGetChildName(type, index, b, n); });
}

}  // namespace qxsym::cli
