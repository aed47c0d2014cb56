#include "SimLauncher.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

extern char** environ;

namespace qxsym::test {
namespace {

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point until) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// The program and its arguments, with --port 0 unless a port is given.
std::vector<std::string> CommandLine(const std::string& binary,
                                     const std::vector<std::string>& args) {
  std::vector<std::string> argv_text{binary};
  bool has_port = false;
  for (const auto& a : args) {
    if (a == "--port" || a.rfind("--port=", 0) == 0) has_port = true;
  }
  if (!has_port) argv_text.insert(argv_text.end(), {"--port", "0"});
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  return argv_text;
}

}  // namespace

std::string SimLauncher::DefaultBinary() {
  if (const char* env = std::getenv("QXSYM_SIM"); env != nullptr && *env != '\0') return env;
#ifdef QXSYM_SIM_PATH
  return QXSYM_SIM_PATH;
#else
  return "qxsym-sim";
#endif
}

SimLauncher::~SimLauncher() {
  if (running()) Stop();
}

bool SimLauncher::Start(const std::vector<std::string>& args, std::string* error,
                        int startup_timeout_ms) {
  auto fail = [&](const std::string& what) {
    if (error) *error = what;
    if (running()) Kill();
    return false;
  };
  if (running()) return fail("already running");

  std::vector<std::string> argv_text = CommandLine(binary_, args);
  std::vector<char*> argv;
  for (auto& a : argv_text) argv.push_back(a.data());
  argv.push_back(nullptr);

  int err = -1;
  if (!stderr_file_.empty()) {
    err = ::open(stderr_file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (err < 0) return fail(stderr_file_ + ": " + std::strerror(errno));
  }
  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    const int e = errno;
    if (err >= 0) ::close(err);
    return fail(std::string("pipe: ") + std::strerror(e));
  }
  // The simulator must not outlive a test process that dies without
  // stopping it (a sanitizer report, a crash): it would keep the test
  // runner waiting on the output it inherited. It is therefore told to
  // stop when its parent goes away.
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int e = errno;
    ::close(out[0]);
    ::close(out[1]);
    if (err >= 0) ::close(err);
    return fail(std::string("fork: ") + std::strerror(e));
  }
  if (pid == 0) {
    // Only async-signal-safe calls between fork and exec.
    ::dup2(out[1], STDOUT_FILENO);
    if (err >= 0) ::dup2(err, STDERR_FILENO);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    ::execve(argv[0], argv.data(), environ);
    ::_exit(127);
  }
  ::close(out[1]);
  if (err >= 0) ::close(err);
  pid_ = pid;
  stdout_fd_ = out[0];

  return ReadAddress(startup_timeout_ms, fail);
}

// Reads the first line, "listening on HOST:PORT".
bool SimLauncher::ReadAddress(int timeout_ms, const std::function<bool(const std::string&)>& fail) {
  std::string line;
  const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (line.find('\n') == std::string::npos) {
    pollfd p{stdout_fd_, POLLIN, 0};
    const int r = ::poll(&p, 1, MsLeft(until));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return fail(binary_ + " did not announce its address in time");
    char buf[256];
    const ssize_t n = ::read(stdout_fd_, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return fail(binary_ + " ended before announcing its address");
    line.append(buf, static_cast<std::size_t>(n));
    if (line.size() > 4096) return fail("unexpected output from " + binary_);
  }
  line.resize(line.find('\n'));
  const std::string prefix = "listening on ";
  const std::size_t colon = line.rfind(':');
  if (line.rfind(prefix, 0) != 0 || colon == std::string::npos || colon < prefix.size()) {
    return fail("unexpected first line from " + binary_ + ": " + line);
  }
  host_ = line.substr(prefix.size(), colon - prefix.size());
  const long port = std::strtol(line.c_str() + colon + 1, nullptr, 10);
  if (port <= 0 || port > 65535) return fail("bad port in: " + line);
  port_ = static_cast<std::uint16_t>(port);
  return true;
}

int SimLauncher::Wait(int timeout_ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      pid_ = -1;
      if (stdout_fd_ >= 0) ::close(stdout_fd_);
      stdout_fd_ = -1;
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
      return -1;
    }
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      return -1;
    }
    if (MsLeft(until) == 0) return -2;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

int SimLauncher::Stop(int timeout_ms) {
  if (!running()) return -1;
  ::kill(pid_, SIGTERM);
  const int code = Wait(timeout_ms);
  if (code != -2) return code;
  Kill();
  return 128 + SIGKILL;
}

QXSymServerAddress SimLauncher::Address(std::uint16_t timeout_ms) const {
  QXSymServerAddress a{};
  a.protocol = symProtGDB_TCP;
  std::snprintf(a.ip, sizeof a.ip, "%s", host_.c_str());
  a.port = port_;
  a.timeout = timeout_ms;
  return a;
}

void SimLauncher::Kill() {
  if (!running()) return;
  ::kill(pid_, SIGKILL);
  Wait(10000);
}

}  // namespace qxsym::test
