#pragma once

// What code prints on standard output while a test runs, read back. GoogleTest's own capture keeps
// the text in a file of /tmp, whatever TMPDIR names, and leaves it there when the test ends early;
// this one keeps it in a file of TMPDIR that has no name, which the system drops with its last
// descriptor.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

namespace testing {

class CapturedStdout {
 public:
  CapturedStdout() {
    const char* variable = std::getenv("TMPDIR");
    const std::string folder = variable && *variable ? variable : "/tmp";
    file = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (file < 0) {
      // A file system without unnamed files: a named one, unnamed at once.
      std::string pattern = folder + "/zorvel-stdout-XXXXXX";
      file = ::mkostemp(pattern.data(), O_CLOEXEC);
      if (file >= 0) ::unlink(pattern.c_str());
    }
    if (file < 0) throw std::runtime_error("cannot make a file in " + folder + " for standard output");
    std::fflush(stdout);
    saved = ::dup(STDOUT_FILENO);
    ::dup2(file, STDOUT_FILENO);
  }
  ~CapturedStdout() {
    restore();
    ::close(file);
  }
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;

  // Ends the capture, and gives what was printed during it.
  std::string text() {
    restore();
    std::string printed;
    char chunk[4096];
    ::lseek(file, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(file, chunk, sizeof chunk)) > 0;) printed.append(chunk, static_cast<size_t>(got));
    return printed;
  }

 private:
  void restore() {
    if (saved < 0) return;
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    saved = -1;
  }

  int file = -1;
  int saved = -1;
};

}  // namespace testing
