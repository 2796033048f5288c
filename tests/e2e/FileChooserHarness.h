#pragma once

// The application's file chooser, driven as a person would: it is found by its title, given the
// keyboard, and a path is typed into its location entry.

#include <algorithm>
#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/OverlayHarness.h"

namespace e2e {

// Text as one word of a shell command.
inline std::string shellQuoted(const std::string& text) {
  std::string result = "'";
  for (char c : text) result += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return result + "'";
}

// Has the page post its request for a click of the user's on it, and waits for the new chooser it
// opens, found by its title; empty if none opened. A loaded machine takes its time to show one.
inline std::string askForChooser(DesktopRun& desktop, const nlohmann::json& message, const std::string& title) {
  auto search = "--name '^" + title + "'";
  auto before = windowList(search);
  if (!pressToOpen(desktop, {{"how", "post"}, {"href", message.dump()}})) return "";
  std::string opened;
  waitUntil(
      [&] {
        for (auto& window : windowList(search)) {
          if (std::find(before.begin(), before.end(), window) == before.end()) opened = window;
        }
        return !opened.empty();
      },
      std::chrono::seconds(20));
  return opened;
}

inline bool chooserGone(const std::string& window, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return waitUntil([&] { return !isViewable(window); }, limit);
}

// Gives the chooser the keyboard; nothing is typed into the main window when the chooser has
// just gone.
inline bool chooserFocused(const std::string& window) {
  focusWindow(window);
  return commandOutput("xdotool getwindowfocus 2>/dev/null") == window + "\n";
}

// Types a path over whatever the chooser's location entry holds and activates it, as a person
// would.
inline void enterInChooser(const std::string& window, const std::string& path) {
  if (!chooserFocused(window)) return;
  shell("xdotool key ctrl+l ctrl+a");
  shell("xdotool type --delay 10 " + shellQuoted(path));
  shell("xdotool key Return");
}

// The chooser ignores the activation while it still looks the typed path up, so a person who
// was too quick presses Return again.
inline bool chooseInChooser(const std::string& window, const std::string& path) {
  return waitUntil(
      [&] {
        enterInChooser(window, path);
        return chooserGone(window, std::chrono::milliseconds(1500));
      },
      std::chrono::seconds(12));
}

}  // namespace e2e
