// A helper program started by a benchmark (the virtual bus, the simulated module), read line by
// line from its standard output, and stopped with SIGTERM when the benchmark ends.
#pragma once

#include <csignal>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> args;
      for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
      args.push_back(nullptr);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
  }

  ~ChildProcess() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    if (output_ != nullptr) fclose(output_);
  }

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The next line the program printed, without its line end; empty at its end.
  std::string readLine() {
    char line[512];
    if (output_ == nullptr || fgets(line, sizeof line, output_) == nullptr) return {};
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
};

// The directory of the running benchmark, where the helper programs lie too.
inline std::string programDirectory() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return ".";
  std::string text(path, static_cast<std::size_t>(length));
  return text.substr(0, text.rfind('/'));
}
