// The modal overlay of the real application, with the reference page as its dialog host: openings
// and their generations, answers reaching the main page, dismissal by key and by the backdrop, and
// recovery from a dead overlay page.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "tests/e2e/OverlayHarness.h"

namespace overlay_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

class ModalOverlayWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    desktop.start();
    ASSERT_TRUE(waitForMainPage(desktop, 40s)) << desktop.log();
    // The overlay page prewarms once it is ready: generation 1, closed again at once.
    ASSERT_TRUE(waitForPageEvent(desktop, "overlay", "zorvel:native-overlay-closed", [](const json& d) {
      return d.value("generation", 0) == 1;
    })) << "no prewarm";
  }

  bool opened(const std::string& kind, int generation) {
    return waitForPageEvent(desktop, "overlay", "zorvel:native-overlay-open", [&](const json& d) {
      return d.value("kind", "") == kind && d.value("generation", 0) == generation;
    });
  }
  // The dialog of that opening has the keyboard: keys typed now reach it.
  bool focused(int generation) {
    return waitForPageEvent(desktop, "overlay", "keyboard",
                            [&](const json& d) { return d.value("generation", 0) == generation; });
  }
  bool closed(int generation) {
    return waitForPageEvent(desktop, "overlay", "zorvel:native-overlay-closed",
                            [&](const json& d) { return d.value("generation", 0) == generation; });
  }
  // The dialog takes no key in its first moment, so that one typed for the page as it came up
  // cannot answer it: a person who was too quick presses Return again.
  template <typename Check>
  bool confirmWithReturn(Check answer) {
    return waitUntil(
        [&] {
          shell("xdotool key Return");
          return waitForPageEvent(desktop, "main", "zorvel:native-overlay-result", answer, 400ms);
        },
        15s);
  }
  void open(const std::string& kind, const json& payload = nullptr) {
    json message = {{"kind", "open-modal-overlay"}, {"overlay", kind}};
    if (!payload.is_null()) message["payload"] = payload;
    postFromMainPage(desktop, message);
  }

  DesktopRun desktop;
};

TEST_F(ModalOverlayWindow, AnswersReachTheMainPageOnlyFromTheActiveOpening) {
  open("confirmation", {{"request_id", "r1"},
                        {"title", "Delete this task?"},
                        {"content", "It cannot be undone."},
                        {"confirm_label", "Delete"}});
  ASSERT_TRUE(opened("confirmation", 2));
  ASSERT_TRUE(focused(2));
  screenshot("overlay-confirmation");

  // An answer naming the prewarm's generation is stale.
  ASSERT_TRUE(commandMainPage(
      desktop, {{"post", {{"kind", "modal-overlay-result"}, {"request_id", "stale"}, {"generation", 1}}}}));
  ASSERT_TRUE(confirmWithReturn([](const json& d) {
    return d == json{{"request_id", "r1"}, {"generation", 2}, {"confirmed", true}};
  })) << "the confirmed answer never reached the main page";
  EXPECT_TRUE(closed(2));
  for (auto& event : pageEvents(desktop, "main", "zorvel:native-overlay-result"))
    EXPECT_NE(event.detail.value("request_id", ""), "stale");

  // A second opening of the same kind closes the first and gets the next generation.
  open("feedback");
  ASSERT_TRUE(opened("feedback", 3));
  open("feedback");
  EXPECT_TRUE(closed(3));
  ASSERT_TRUE(opened("feedback", 4));
  // Missing inputs open nothing and leave the shown dialog alone. The page's messages are handled
  // in order, so once a good opening after them has come, they have been handled too.
  open("product-info");
  postFromMainPage(desktop, {{"kind", "open-modal-overlay"}, {"overlay", "error-report"}});
  open("confirmation", {{"request_id", "after"}, {"title", "After"}});
  ASSERT_TRUE(opened("confirmation", 5));
  EXPECT_TRUE(closed(4));
  EXPECT_EQ(pageEvents(desktop, "overlay", "zorvel:native-overlay-closed").size(), 4u) << "prewarm, 2, 3 and 4 only";
  EXPECT_EQ(pageEvents(desktop, "overlay", "zorvel:native-overlay-open").size(), 5u) << "prewarm, 2, 3, 4 and 5 only";

  // The main page reloads while its dialog is up: the answer was for the page that has gone.
  open("confirmation", {{"request_id", "gone"}, {"title", "Gone"}});
  ASSERT_TRUE(opened("confirmation", 6));
  ASSERT_TRUE(focused(6));
  const size_t streams = eventStreamsOpened(desktop);
  desktop.request("POST", "/__test/events", {{"data", json{{"reload", true}}.dump()}});
  ASSERT_TRUE(desktop.waitUntil([&] { return eventStreamsOpened(desktop) > streams; }, 30s));
  EXPECT_TRUE(waitUntil(
      [&] {
        shell("xdotool key Return");
        return waitForPageEvent(
            desktop, "overlay", "zorvel:native-overlay-closed",
            [](const json& d) { return d.value("generation", 0) == 6; }, 400ms);
      },
      15s));
  EXPECT_TRUE(desktop.waitUntil(
      [&] { return desktop.log().find("Not handing the overlay's answer") != std::string::npos; }, 10s));
  for (auto& event : pageEvents(desktop, "main", "zorvel:native-overlay-result"))
    EXPECT_NE(event.detail.value("request_id", ""), "gone") << "the reloaded page got another's answer";
}

TEST_F(ModalOverlayWindow, EscapeAndTheBackdropDismissTheDialog) {
  open("feedback");
  ASSERT_TRUE(opened("feedback", 2));
  ASSERT_TRUE(focused(2));
  shell("xdotool key Escape");
  ASSERT_TRUE(closed(2)) << "Escape did not close the dialog";

  open("defer-task", {{"request_id", "d1"}, {"title", "Defer"}});
  ASSERT_TRUE(opened("defer-task", 3));
  ASSERT_TRUE(focused(3));
  // Well outside the 520 x 406 dialog in the middle of the window.
  shell("xdotool mousemove 40 700 click 1");
  EXPECT_TRUE(waitForPageEvent(desktop, "overlay", "zorvel:native-overlay-dismiss", [](const json&) { return true; }));
  EXPECT_TRUE(closed(3)) << "the page's close after the dismissal did not close the dialog";
  EXPECT_TRUE(pageEvents(desktop, "main", "zorvel:native-overlay-result").empty());
}

TEST_F(ModalOverlayWindow, ADeadOverlayPageIsReplacedAndOpeningsWaitForTheNewHost) {
  open("feedback");
  ASSERT_TRUE(opened("feedback", 2));
  auto processes = webProcessesOf(desktop.app->processIdentifier());
  ASSERT_GE(processes.size(), 2u) << "expected the main and the overlay web process";
  // The new host page takes its time to report ready, so the next opening has to wait for it.
  ASSERT_TRUE(commandMainPage(desktop, {{"storage", {{"zorvel-overlay-host-delay", "6000"}}}}));
  const auto streamsBefore = eventStreamsOpened(desktop);
  ::kill(processes.back(), SIGKILL);

  // The main page is loaded again after any web process dies; wait until it listens again.
  ASSERT_TRUE(desktop.waitUntil([&] { return eventStreamsOpened(desktop) > streamsBefore; }, 30s));
  ASSERT_TRUE(mainPageListening(desktop));
  open("bug-report");
  int generation = 0;
  ASSERT_TRUE(waitForPageEvent(
      desktop, "overlay", "zorvel:native-overlay-open",
      [&](const json& d) {
        if (d.value("kind", "") != "bug-report") return false;
        generation = d.value("generation", 0);
        return true;
      },
      30s))
      << "the replaced overlay never received the opening";
  EXPECT_GE(generation, 3);
  // It was held for the host page, so no prewarm ran on the new page.
  EXPECT_EQ(pageEvents(desktop, "overlay", "zorvel:native-overlay-open").size(), 3u);
  ASSERT_TRUE(focused(generation));
  screenshot("overlay-after-recovery");
  EXPECT_TRUE(confirmWithReturn([&](const json& d) {
    return d.value("request_id", "") == "bug-report" && d.value("generation", 0) == generation;
  }));
}

}  // namespace overlay_e2e
