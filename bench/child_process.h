// A helper program started by a benchmark (the virtual bus, the simulated module, the program),
// read line by line from its standard output, and stopped with SIGTERM when the benchmark ends.
// Its standard input is /dev/null; extra environment variables can be given.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

class ChildProcess {
 public:
  explicit ChildProcess(const std::vector<std::string>& argv,
                        const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      // A benchmark that fails on its way leaves no helper behind.
      prctl(PR_SET_PDEATHSIG, SIGTERM);
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      const int null = open("/dev/null", O_RDONLY);
      if (null >= 0) dup2(null, STDIN_FILENO);
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
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

  pid_t pid() const { return pid_; }

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

// CPU time a process has used so far, all its threads, in seconds: the run time the scheduler
// accounts in nanoseconds (/proc/PID/task/*/schedstat) where the kernel offers it, else the
// clock ticks of /proc/PID/stat (user + system).
inline double cpuSeconds(pid_t pid) {
  const std::string base = "/proc/" + std::to_string(pid);
  double total = 0;
  bool haveSchedstat = false;
  if (DIR* tasks = opendir((base + "/task").c_str())) {
    while (const dirent* entry = readdir(tasks)) {
      if (entry->d_name[0] == '.') continue;
      const std::string path = base + "/task/" + entry->d_name + "/schedstat";
      if (std::FILE* stat = std::fopen(path.c_str(), "r")) {
        unsigned long long ns = 0;
        if (std::fscanf(stat, "%llu", &ns) == 1) {
          total += static_cast<double>(ns) / 1e9;
          haveSchedstat = true;
        }
        std::fclose(stat);
      }
    }
    closedir(tasks);
  }
  if (haveSchedstat) return total;
  std::FILE* stat = std::fopen((base + "/stat").c_str(), "r");
  if (stat == nullptr) return 0;
  char text[2048];
  const std::size_t n = std::fread(text, 1, sizeof text - 1, stat);
  std::fclose(stat);
  text[n] = '\0';
  const std::string line(text);
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return 0;
  // Fields after the name: state is field 3, utime 14, stime 15.
  unsigned long long utime = 0, stime = 0;
  std::size_t field = 3, at = close + 2;
  while (field < 14 && at < line.size()) {
    at = line.find(' ', at) + 1;
    ++field;
  }
  if (std::sscanf(line.c_str() + at, "%llu %llu", &utime, &stime) != 2) return 0;
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}
