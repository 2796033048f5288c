#pragma once

// A folder of a test's own: made under a name no other process has (mkdtemp) in the temporary
// folder, and removed with all it holds when its holder goes. Tests running at once, in this
// checkout or another, never meet in one, and a passing run leaves none behind.

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace testing {

class TemporaryFolder {
 public:
  explicit TemporaryFolder(const std::string& prefix = "zorvel-test") {
    std::error_code error;
    std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
    if (error) temporary = "/tmp";
    std::string pattern = (temporary / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder like " + pattern);
    folder = pattern;
  }
  ~TemporaryFolder() {
    std::error_code error;
    std::filesystem::remove_all(folder, error);
  }
  TemporaryFolder(const TemporaryFolder&) = delete;
  TemporaryFolder& operator=(const TemporaryFolder&) = delete;

  const std::filesystem::path& path() const { return folder; }

 private:
  std::filesystem::path folder;
};

}  // namespace testing
