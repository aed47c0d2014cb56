// Runs the qxsym program built with the tests (QXSYM_CLI_PATH) as a child
// process and captures what it prints, at its end or line by line.
#pragma once

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

extern char** environ;

namespace qxsym::test {

struct Outcome {
  int status = -1;
  std::string out, err;
  nlohmann::json Json() const { return nlohmann::json::parse(out, nullptr, false); }
};

// qxsym running as a child with standard output and error on pipes: its
// lines read as they come, a signal sent, the rest collected at the end.
// One that is still running when the object goes is killed.
class QxsymChild {
 public:
  explicit QxsymChild(const std::vector<std::string>& args) {
    int out_pipe[2], err_pipe[2];
    if (pipe(out_pipe) != 0) return;
    if (pipe(err_pipe) != 0) {
      close(out_pipe[0]);
      close(out_pipe[1]);
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err_pipe[1], 2);
    for (int fd : {out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) {
      posix_spawn_file_actions_addclose(&actions, fd);
    }
    std::vector<std::string> all{QXSYM_CLI_PATH};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid_, QXSYM_CLI_PATH, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out_pipe[1]);
    close(err_pipe[1]);
    fds_[0] = {out_pipe[0], POLLIN, 0};
    fds_[1] = {err_pipe[0], POLLIN, 0};
    if (rc != 0) {
      pid_ = -1;
      CloseAll();
    }
  }
  ~QxsymChild() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    CloseAll();
  }
  QxsymChild(const QxsymChild&) = delete;
  QxsymChild& operator=(const QxsymChild&) = delete;

  bool started() const { return pid_ > 0; }

  // The next line of standard output without its line break; false when
  // none came within timeout_ms or the output ended.
  bool NextLine(std::string* line, int timeout_ms) {
    for (;;) {
      const std::size_t end = out_.find('\n', taken_);
      if (end != std::string::npos) {
        *line = out_.substr(taken_, end - taken_);
        taken_ = end + 1;
        return true;
      }
      if (!ReadSome(timeout_ms)) return false;
    }
  }

  // Sends sig (none when 0), reads everything left and waits for the exit
  // (killed after 60 s of silence). out holds all of standard output.
  Outcome Finish(int sig = 0) {
    Outcome result;
    if (pid_ <= 0) return result;
    if (sig != 0) kill(pid_, sig);
    while (ReadSome(60000)) {
    }
    if (fds_[0].fd >= 0 || fds_[1].fd >= 0) kill(pid_, SIGKILL);
    int wstatus = 0;
    waitpid(pid_, &wstatus, 0);
    pid_ = -1;
    CloseAll();
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
    result.out = out_;
    result.err = err_;
    return result;
  }

  const std::string& err() const { return err_; }

 private:
  // Reads what one poll brings; false when both pipes ended or nothing came.
  bool ReadSome(int timeout_ms) {
    if (fds_[0].fd < 0 && fds_[1].fd < 0) return false;
    if (poll(fds_, 2, timeout_ms) <= 0) return false;
    std::string* sinks[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
      if (fds_[i].fd < 0 || !(fds_[i].revents & (POLLIN | POLLHUP))) continue;
      char buffer[65536];
      const ssize_t n = read(fds_[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        sinks[i]->append(buffer, static_cast<std::size_t>(n));
      } else {
        close(fds_[i].fd);
        fds_[i].fd = -1;
      }
    }
    return true;
  }
  void CloseAll() {
    for (pollfd& f : fds_) {
      if (f.fd >= 0) close(f.fd);
      f.fd = -1;
    }
  }

  pid_t pid_ = -1;
  pollfd fds_[2] = {{-1, POLLIN, 0}, {-1, POLLIN, 0}};
  std::string out_, err_;
  std::size_t taken_ = 0;
};

// Runs qxsym with args, standard output and error captured; killed after 60 s.
inline Outcome RunQxsym(const std::vector<std::string>& args) { return QxsymChild(args).Finish(); }

}  // namespace qxsym::test
