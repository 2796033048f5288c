// What the application hands a page (a fetch's answer, a stream's event, the event of a link given
// to the application or of a chosen folder) reaches the page's code without the user's activation
// that the web engine grants every script the application runs in it: there the page can do only
// what it could do with nobody at the keyboard, whatever it replaced of its built-ins. A real click
// on the page still lets it do what the engine lets any page do.

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "tests/e2e/FileChooserHarness.h"

namespace bridge_deliveries_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;

const std::string task = "3f2504e0-4f89-11d3-9a0c-0305e82c3301";

// The text of the desktop's clipboard as another program reads it; empty while nobody holds text.
std::string clipboardText() { return commandOutput("timeout 10 xclip -o -selection clipboard 2>/dev/null"); }

class BridgeDeliveries : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = run.directory + "/project";
    std::filesystem::create_directories(folder);
    run.start();
    ASSERT_TRUE(waitForMainPage(run, 40s)) << run.log();
  }

  // Has the page do `how` once the delivery named by `after` comes, and report it under `id`.
  void arm(const std::string& id, const std::string& after, const std::string& how) {
    ASSERT_TRUE(
        commandMainPage(run, {{"unasked", {{"id", id}, {"after", after}, {"how", how}, {"href", "PWNED " + id}}}}))
        << "the page did not take the command";
  }

  // Gives the running application a link of its own, as the desktop does by a second launch.
  void giveLink() {
    auto second = run.launch({"zorvel://tasks/" + task + "/open"});
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->waitUntilExit(20s)) << "the second launch stayed";
  }

  void chooseFolder() {
    auto chooser = askForChooser(run, {{"kind", "pick-project-directory"}}, "Choose Project Folder");
    ASSERT_FALSE(chooser.empty()) << "no chooser appeared\n" << run.log();
    ASSERT_TRUE(chooseInChooser(chooser, folder));
  }

  // The page's reports of what it did unasked, by id, once there are `count` of them.
  std::map<std::string, json> reports(size_t count) {
    std::map<std::string, json> byID;
    run.waitUntil(
        [&] {
          for (auto& event : pageEvents(run, "main", "unasked")) byID[event.detail.value("id", "")] = event.detail;
          return byID.size() >= count;
        },
        30s);
    return byID;
  }

  // Lays a button over the page that does `how` with `text`, and clicks it as the user would.
  void click(const std::string& how, const std::string& text) {
    ASSERT_TRUE(commandMainPage(run, {{"link", {{"href", text}, {"open", true}, {"how", how}}}}));
    const std::string window = mainWindow(run.app->processIdentifier());
    ASSERT_FALSE(window.empty());
    ASSERT_EQ(shell("xdotool mousemove --window " + window + " 600 400 click 1"), 0);
  }

  DesktopRun run{{{"GTK_USE_PORTAL", "0"}}};  // the chooser is GTK's own window on this display
  std::string folder;
};

// Nothing the page does from a delivery has the user's activation: no clipboard write, by the
// clipboard's API or a copy command, and no full screen, which the engine then refuses itself.
TEST_F(BridgeDeliveries, NoneCarriesTheUsersActivation) {
  const std::map<std::string, std::string> deliveries = {{"fetch", "fetch"},
                                                         {"stream", "event"},
                                                         {"link", "zorvel:open-link"},
                                                         {"picked", "zorvel:project-directory-picked"}};
  const std::string hows[] = {"clipboard", "copy", "fullscreen"};
  std::map<std::string, json> expected;
  for (const auto& [delivery, after] : deliveries) {
    for (const auto& how : hows) {
      const std::string id = delivery + " " + how;
      arm(id, after, how);
      expected[id] = {{"id", id}, {"active", false}, {"outcomes", {"refused"}}};
    }
  }
  giveLink();
  chooseFolder();
  EXPECT_EQ(reports(expected.size()), expected);
  EXPECT_EQ(clipboardText().find("PWNED"), std::string::npos) << clipboardText();
  EXPECT_EQ(run.log().find("Not showing a page in full screen"), std::string::npos) << "the engine asked";
  EXPECT_TRUE(pageEvents(run, "main", "fullscreen").empty());

  // A click of the user's own lets the page write to the clipboard, as any page may.
  click("clipboard", "clicked");
  EXPECT_TRUE(waitUntil([] { return clipboardText() == "clicked"; }, 20s)) << clipboardText();
}

// A page that replaced every built-in a delivery could call, and tried to take over the way in,
// still gets its deliveries, and none of its replacements runs with the user's activation.
TEST_F(BridgeDeliveries, APageThatReplacesWhatTheyCallGainsNoActivation) {
  ASSERT_TRUE(commandMainPage(run, {{"tamper", true}}));
  arm("fetch", "fetch", "clipboard");
  arm("link", "zorvel:open-link", "clipboard");
  giveLink();
  EXPECT_EQ(reports(2), (std::map<std::string, json>{
                            {"fetch", {{"id", "fetch"}, {"active", false}, {"outcomes", {"refused"}}}},
                            {"link", {{"id", "link"}, {"active", false}, {"outcomes", {"refused"}}}},
                        }));
  ASSERT_TRUE(commandMainPage(run, {{"tampered", true}}));
  ASSERT_TRUE(waitForPageEvent(run, "main", "tampered", [](const json&) { return true; })) << run.log();
  EXPECT_EQ(pageEvents(run, "main", "tampered").front().detail, (json{{"active", json::array()}}));
  EXPECT_EQ(clipboardText().find("PWNED"), std::string::npos) << clipboardText();
}

}  // namespace bridge_deliveries_e2e
