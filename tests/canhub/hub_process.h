// Runs tools/canhub as a child process for a test: starts it, reads its "listening on" line,
// and stops it with SIGTERM.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace canhub::testing {

class HubProcess {
 public:
  // Starts `canhub ARGS...`; started() is false (firstLine() shows what came) when it did not print
  // its line within 10 s. With a stderrPath, what the hub says on stderr goes to that file.
  explicit HubProcess(std::vector<std::string> args, const std::string& stderrPath = {}) {
    int err = -1;
    if (!stderrPath.empty()) {
      err = ::open(stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
      if (err < 0) return;
    }
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
      if (err >= 0) ::close(err);
      return;
    }
    // Everything the child needs is prepared before fork(): after it, only exec.
    std::string program = CANHUB_PATH;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      if (err >= 0) ::dup2(err, STDERR_FILENO);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    if (err >= 0) ::close(err);
    stdout_ = out[0];
    line_ = readLine(std::chrono::seconds(10));
    const std::string prefix = "listening on ";
    if (line_.rfind(prefix, 0) == 0) {
      address_ = line_.substr(prefix.size());
      port_ = static_cast<uint16_t>(std::stoi(address_.substr(address_.rfind(':') + 1)));
    }
  }
  ~HubProcess() {
    if (pid_ > 0 && !exited_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    if (stdout_ >= 0) ::close(stdout_);
  }
  HubProcess(const HubProcess&) = delete;
  HubProcess& operator=(const HubProcess&) = delete;

  bool started() const { return port_ != 0; }
  const std::string& firstLine() const { return line_; }
  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string url(const std::string& bus) const {
    return "socketcand://127.0.0.1:" + std::to_string(port_) + "/" + bus;
  }

  // What the hub writes to stdout after its first line, up to its end (or the time limit).
  std::string readRest(std::chrono::seconds limit) {
    std::string rest;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      pollfd entry{stdout_, POLLIN, 0};
      if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
      char buffer[4096];
      const ssize_t n = ::read(stdout_, buffer, sizeof buffer);
      if (n <= 0) break;
      rest.append(buffer, static_cast<std::size_t>(n));
    }
    return rest;
  }

  // Sends the signal and returns the exit status (or -1 when it did not exit within 10 s).
  int stop(int signal = SIGTERM) {
    if (pid_ <= 0 || exited_) return -1;
    ::kill(pid_, signal);
    return wait(std::chrono::seconds(10));
  }
  // Waits for the process to end by itself: its exit code, 128 + signal, or -1 on time-out.
  int wait(std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
      int status = 0;
      const pid_t done = ::waitpid(pid_, &status, WNOHANG);
      if (done == pid_) {
        exited_ = true;
        if (WIFEXITED(status)) return WEXITSTATUS(status);
        return 128 + WTERMSIG(status);
      }
      if (std::chrono::steady_clock::now() > deadline) return -1;
      pollfd none{-1, 0, 0};
      ::poll(&none, 0, 10);  // waitpid has no timeout of its own
    }
  }

 private:
  std::string readLine(std::chrono::seconds limit) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (line.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                            deadline - std::chrono::steady_clock::now())
                            .count();
      pollfd entry{stdout_, POLLIN, 0};
      if (left <= 0 || ::poll(&entry, 1, static_cast<int>(left)) <= 0) break;
      char c = 0;
      if (::read(stdout_, &c, 1) != 1) break;
      line += c;
    }
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return line;
  }

  pid_t pid_ = -1;
  int stdout_ = -1;
  bool exited_ = false;
  std::string line_;
  std::string address_;
  uint16_t port_ = 0;
};

}  // namespace canhub::testing
