// What the application was started with stays with it: the web engine's processes, its sandbox
// helpers and the core are started with every descriptor not marked close-on-exec.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/OverlayHarness.h"

namespace {

using namespace e2e;
using namespace std::chrono_literals;

// Every process started, directly or through others, by the process.
std::vector<pid_t> descendantsOf(pid_t root) {
  std::vector<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    pid_t pid = std::atoi(entry.path().filename().c_str());
    if (pid <= 0 || pid == root) continue;
    for (pid_t p = parentOf(pid); p > 1; p = parentOf(p)) {
      if (p == root) {
        found.push_back(pid);
        break;
      }
    }
  }
  return found;
}

using FileIdentity = std::pair<dev_t, ino_t>;

std::optional<FileIdentity> identityOf(const std::string& path) {
  struct stat status {};
  if (::stat(path.c_str(), &status) != 0) return std::nullopt;
  return FileIdentity{status.st_dev, status.st_ino};
}

// The descriptors of the process that lead to one of the files. The files are told by their
// identity, not their names, which a sandboxed process sees in a namespace of its own.
std::vector<std::string> descriptorsOnto(pid_t pid, const std::set<FileIdentity>& files) {
  std::vector<std::string> found;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    auto identity = identityOf(entry.path());
    if (identity && files.count(*identity)) found.push_back(entry.path().filename());
  }
  return found;
}

std::string nameOf(pid_t pid) { return procText(pid, "comm").value_or("?"); }

}  // namespace

TEST(ChildDescriptors, NoneOfTheApplicationsChildrenHoldsWhatItWasStartedWith) {
  DesktopRun desktop;
  const std::string read = desktop.directory + "/read-by-the-starter";
  const std::string appended = desktop.directory + "/appended-by-the-starter";
  std::ofstream(read) << "inherited\n";
  std::ofstream(appended) << "";
  // As a shell starts it: two descriptors of its own left open across the exec.
  const std::string application = desktop.executable;
  desktop.executable = "/bin/sh";
  desktop.start({"-c", "exec 7<\"$1\" 9>>\"$2\"; exec \"$0\"", application, read, appended});
  const pid_t app = desktop.app->processIdentifier();
  ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();

  const std::set<FileIdentity> files{*identityOf(read), *identityOf(appended)};
  ASSERT_EQ(descriptorsOnto(app, files).size(), 2u) << "the application was not started with them";
  // The main page's and the overlay's page processes, once both pages are there.
  ASSERT_TRUE(waitUntil([&] { return webProcessesOf(app).size() >= 2; }, 40s)) << desktop.log();

  std::set<std::string> seen;
  for (pid_t child : descendantsOf(app)) {
    seen.insert(nameOf(child));
    EXPECT_TRUE(descriptorsOnto(child, files).empty()) << nameOf(child) << " (" << child << ") holds them";
  }
  EXPECT_TRUE(seen.count("WebKitNetworkPr")) << "no network process among the children";
  EXPECT_TRUE(seen.count("zorvel-runner")) << "no core among the children";
}
