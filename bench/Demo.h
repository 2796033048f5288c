#pragma once
// The vantrelle-demo that the benchmarks driving a window from outside start, each with a command
// of its own, and end with SIGTERM when they are done with it.
#include <signal.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace viewbench {

// This build's vantrelle-demo, or another build's named by VANTRELLE_BENCH_DEMO, to compare two
// builds under one measure.
inline const char* demoProgram() {
  const char* chosen = std::getenv("VANTRELLE_BENCH_DEMO");
  return chosen && *chosen ? chosen : VANTRELLE_DEMO;
}

// `program` started with `arguments`, with `environment` added to this process's for it alone.
class Demo {
 public:
  Demo(const std::string& program, const std::vector<std::string>& arguments,
       const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> words = {program};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
      for (const auto& [name, value] : environment) setenv(name.c_str(), value.c_str(), 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Demo() {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  Demo(const Demo&) = delete;
  Demo& operator=(const Demo&) = delete;

  pid_t pid = -1;
};

}  // namespace viewbench
