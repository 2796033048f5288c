// The window as the desktop sees it: matched to its desktop entry, and whole on the screen.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tests/e2e/OverlayHarness.h"

using e2e::commandOutput;
using e2e::DesktopRun;
using e2e::waitUntil;
using namespace std::chrono_literals;

namespace {

std::string entryValue(const std::string& key) {
  std::ifstream entry(std::string(ZORVEL_SOURCE_DIR) + "/resources/desktop-entry.desktop.in");
  std::string line;
  while (std::getline(entry, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

}  // namespace

// Desktops match a window to its entry (its name, icon and launcher) by the window's class, so
// the class is the one the entry names, also when the program was started by another name.
TEST(DesktopIntegration, TheWindowClassIsTheOneTheDesktopEntryNames) {
  const std::string wmClass = entryValue("StartupWMClass");
  ASSERT_FALSE(wmClass.empty()) << "the desktop entry names no window class";
  DesktopRun run;
  std::filesystem::create_directories(run.directory + "/bin");
  run.executable = run.directory + "/bin/zorvel";
  std::filesystem::create_symlink(std::string(ZORVEL_BUNDLE_DIR) + "/bin/zorvel-desktop", run.executable);
  run.start();
  const std::string window = e2e::mainWindow(run.app->processIdentifier(), 60s);
  ASSERT_FALSE(window.empty()) << run.log();
  EXPECT_EQ(commandOutput("xprop -id " + window + " WM_CLASS"),
            "WM_CLASS(STRING) = \"" + wmClass + "\", \"" + wmClass + "\"\n");
}

// On a screen smaller than the usual window, here one of 1920 x 1080 pixels at twice the scale,
// the window opens within it, so the last rows of its content are on the screen.
TEST(DesktopIntegration, TheWindowOpensWithinAScaledScreen) {
  DesktopRun run(std::map<std::string, std::string>{{"GDK_SCALE", "2"}});
  run.start();
  const std::string window = e2e::mainWindow(run.app->processIdentifier(), 60s);
  ASSERT_FALSE(window.empty()) << run.log();
  auto size = [](const std::string& geometry) {
    std::smatch found;
    std::regex pattern("Width: (\\d+)\\s+Height: (\\d+)");
    std::string text = std::regex_replace(geometry, std::regex("\n\\s*"), " ");
    return std::regex_search(text, found, pattern) ? std::pair(std::stoi(found[1]), std::stoi(found[2]))
                                                   : std::pair(0, 0);
  };
  auto screen = size(commandOutput("xwininfo -root | grep -E 'Width|Height'"));
  ASSERT_GT(screen.first, 0);
  std::pair<int, int> shown;
  // The window takes its size once it is mapped.
  ASSERT_TRUE(waitUntil(
      [&] {
        shown = size(commandOutput("xwininfo -id " + window + " | grep -E 'Width|Height'"));
        return shown.first > 1;
      },
      30s));
  EXPECT_LE(shown.first, screen.first);
  EXPECT_LE(shown.second, screen.second);
}

// The menu bar's titles read on the window's surface in either theme of the page, also when the
// desktop holds its own theme to the other variant.
TEST(DesktopIntegration, TheMenuBarReadsInEitherThemeWhateverTheDesktopThemeIs) {
  struct Case {
    const char* desktopTheme;
    const char* pageTheme;
  };
  for (const Case& c : {Case{"Adwaita:dark", "light"}, Case{"Adwaita", "dark"}}) {
    SCOPED_TRACE(c.desktopTheme);
    DesktopRun run(std::map<std::string, std::string>{{"GTK_THEME", c.desktopTheme}});
    run.start();
    const std::string window = e2e::mainWindow(run.app->processIdentifier(), 60s);
    ASSERT_FALSE(window.empty()) << run.log();
    ASSERT_TRUE(waitUntil(
        [&] {
          auto state = nlohmann::json::parse(run.request("GET", "/__test/state").body, nullptr, false);
          return state.is_object() && state.value("event_streams", 0) >= 1;
        },
        60s));
    auto post = nlohmann::json{{"post", {{"kind", "theme"}, {"value", c.pageTheme}}}};
    run.request("POST", "/__test/events", {{"data", post.dump()}});
    // Behind the titles "Zorvel" and "Edit": the surface of the page's theme, once the window has
    // taken it, and text that differs from it, rather than next to no difference when the text has
    // the surface's colour.
    const std::string shot = run.directory + "/menu.png";
    const bool light = std::string(c.pageTheme) == "light";
    double contrast = 0;
    auto readable = [&] {
      const std::string take = "import -window " + window + " " + shot;
      testing::programs::require(take);
      if (std::system(take.c_str()) != 0) return false;
      auto measured = commandOutput(
          "convert " + shot +
          " -crop 100x18+0+3 +repage -colorspace gray -format '%[fx:minima] %[fx:maxima] %[fx:mean]' info:");
      double darkest = 0, lightest = 0, mean = 0;
      if (std::sscanf(measured.c_str(), "%lf %lf %lf", &darkest, &lightest, &mean) != 3) return false;
      contrast = lightest - darkest;
      bool surface = light ? mean > 0.7 : mean < 0.3;
      return surface && contrast > 0.4;
    };
    EXPECT_TRUE(waitUntil(readable, 20s)) << "contrast " << contrast;
  }
}

// A package installs the program under a prefix of its own; moved there, away from the build, the
// program finds its page, bridge script and core under that prefix, and the page reaches the core.
TEST(DesktopIntegration, AnInstalledCopyRunsFromItsOwnPrefix) {
  DesktopRun run;
  const std::string prefix = run.directory + "/prefix";
  const std::string build = std::filesystem::path(ZORVEL_BUNDLE_DIR).parent_path().string();
  ASSERT_EQ(std::system(("cmake --install '" + build + "' --prefix '" + prefix + "' >/dev/null").c_str()), 0);
  run.executable = prefix + "/bin/zorvel-desktop";
  run.start();
  EXPECT_TRUE(waitUntil(
      [&] {
        auto state = nlohmann::json::parse(run.request("GET", "/__test/state").body, nullptr, false);
        return state.is_object() && state.value("event_streams", 0) >= 1;
      },
      60s))
      << run.log();
}
