#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Gtk {
class Label;
}

namespace zorvel {

// The window's one error label, shared by every web and core failure. Each change advances a
// generation so that the delayed hide of a transient failure acts only if nothing changed since.
// A core failure stays until the core comes back (`clearCoreFailure`): later page errors and
// reloads cannot hide the one failure the user must act on.
class WebErrorLabel : public std::enable_shared_from_this<WebErrorLabel> {
 public:
  static constexpr const char* transientPrefix = "Zorvel UI error:\n";
  static constexpr const char* loadFailurePrefix = "Could not load the bundled Zorvel UI:\n";

  // Scheduling of the 5-second hide; tests run it by hand.
  using Scheduler = std::function<void(std::function<void()>)>;

  explicit WebErrorLabel(Scheduler scheduleTransientHide = {});

  void attach(Gtk::Label* label);
  void showWebFailure(const std::string& message, bool transient);
  void showCoreFailure(const std::string& reason);
  // A finished load of the main page; leaves a core failure in place.
  void hideAfterLoad();
  // The core is running again: any failure on the label goes.
  void clearCoreFailure();

  // What the label shows of a reason or message: at most `longestLine` bytes of a line and
  // `mostLines` lines, the first and the last ones, the rest given as one ellipsis line.
  static constexpr std::size_t mostLines = 12;
  static constexpr std::size_t longestLine = 240;
  static std::string abridged(const std::string& text);

  std::uint64_t generation() const { return webErrorGeneration; }
  bool isVisible() const { return visible; }
  const std::string& text() const { return shownText; }

 private:
  void show(std::string text);
  void hide();

  Scheduler scheduleTransientHide;
  Gtk::Label* label = nullptr;
  std::uint64_t webErrorGeneration = 0;
  bool visible = false;
  bool coreFailureShown = false;
  std::string shownText;
};

}  // namespace zorvel
