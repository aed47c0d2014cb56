// The tool's connection to one source of symbols, the error type that every
// command throws, and owners of the library's handles.
#pragma once

#include <QXSymbols.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qxsym::cli {

// A failure to report: what was being done, the result code, and (from
// ResultAdvice unless given) what the user can do.
class CliError : public std::runtime_error {
 public:
  CliError(int code, const std::string& what, std::string advice = {})
      : std::runtime_error(what), code_(code), advice_(std::move(advice)) {}
  int code() const { return code_; }
  const std::string& advice() const { return advice_; }

 private:
  int code_;
  std::string advice_;
};

// Throws CliError(result, what()) unless result is symResOk.
template <typename What>
void Check(QXSymResult result, What&& what) {
  if (result != symResOk) throw CliError(result, what());
}

// Owner of one handle of the library, released by Close.
template <QXSymResult(QXSYM_CALL* Close)(int)>
class Owned {
 public:
  Owned() = default;
  explicit Owned(int handle) : handle_(handle) {}
  ~Owned() { Reset(); }
  Owned(Owned&& other) noexcept : handle_(other.handle_) { other.handle_ = 0; }
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = other.handle_;
      other.handle_ = 0;
    }
    return *this;
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;

  int get() const { return handle_; }
  int* out() {
    Reset();
    return &handle_;
  }
  void Reset() {
    if (handle_ != 0) Close(handle_);
    handle_ = 0;
  }

 private:
  int handle_ = 0;
};

// The longest name, member path or filter the library sends as given: its
// buffers hold QXSYM_MAX_STRING with the terminator and cut what is longer,
// which would name another tag.
constexpr std::size_t kMaxSentText = QXSYM_MAX_STRING - 1;

// Throws CliError(symResInvalidParameter) when text is longer than
// kMaxSentText bytes; what says what it is ("tag name", "filter").
void CheckSentText(const std::string& text, const char* what);

using Tag = Owned<QXSym_CloseTag>;
using Type = Owned<QXSym_CloseType>;
using Group = Owned<QXSym_DeleteGroup>;

struct Endpoint {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;
  std::uint16_t timeout_ms = 0;  // 0: the library's default
};

// Starts the library and opens a workspace; the destructor closes both.
class Session {
 public:
  explicit Session(const Endpoint& endpoint);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  QXSymWorkspaceHandle workspace() const { return workspace_; }
  const Endpoint& endpoint() const { return endpoint_; }
  // False when the service reported 3.0.0.x (symResOkServerNotFullSupport).
  bool full_support() const { return full_support_; }

  // A tag by name or member path; CliError naming the tag on failure.
  Tag OpenTag(const std::string& name) const;

 private:
  Endpoint endpoint_;
  QXSymWorkspaceHandle workspace_ = 0;
  bool full_support_ = true;
};

// Text of a tag or type: GetTagName, GetTagDescr, GetTagDataType, TypeGetName.
std::string TagText(QXSymResult(QXSYM_CALL* get)(QXSymTagHandle, TCHAR*, uint16_t*),
                    QXSymTagHandle tag);
std::string TypeName(QXSymTypeHandle type);
std::string TypeChildName(QXSymTypeHandle type, std::uint32_t index);

}  // namespace qxsym::cli
