// A home folder that is a file ends the launch with its name rather than a crash of the web view.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <fstream>

#include "tests/e2e/DesktopHarness.h"

namespace bad_environment_e2e {

using namespace e2e;
using namespace std::chrono_literals;

TEST(BadEnvironment, AHomeThatIsAFileIsNamedAndTheLaunchFails) {
  DesktopRun desktop;
  const std::string home = desktop.directory + "/home-file";
  std::ofstream(home) << "not a folder\n";
  desktop.environment["HOME"] = home;
  desktop.start();
  // On a display the reason stays in a window until it is closed; the web view's sandbox would
  // have aborted the application before that.
  ASSERT_TRUE(desktop.waitUntil(
      [&] { return desktop.log().find("start Zorvel again") != std::string::npos || !desktop.app->isRunning(); }, 30s))
      << desktop.log();
  EXPECT_NE(desktop.log().find("home folder " + home + " (from HOME)"), std::string::npos) << desktop.log();
  EXPECT_TRUE(desktop.starts().empty()) << "no core is started";
}

}  // namespace bad_environment_e2e
