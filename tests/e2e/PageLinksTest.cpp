// Links the user follows in the page that leave it, in the same window or in a new one, go where a
// terminal's links go: to the application the desktop chose for them, when it only shows what they
// name; any other is refused and the refusal logged. Nothing leaves the page, and nothing is
// downloaded, without a click or key press of the user's own behind it.

#include <glib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "platform/GLibPtr.h"
#include "tests/e2e/OverlayHarness.h"

namespace page_links_e2e {

using nlohmann::json;
using namespace e2e;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A run whose desktop has one application, chosen for links of a scheme of the test and for text
// files and folders, that writes down every link it is started with.
class LinkDesktop {
 public:
  LinkDesktop() {
    const fs::path home = run.directory + "/desktop";
    fs::create_directories(home / "data/applications");
    fs::create_directories(home / "config");
    fs::create_directories(home / "folder");
    fs::create_directories(home / "downloads");
    const fs::path recorder = home / "recorder.sh";
    std::ofstream(recorder) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << openedPath() << "'\n";
    fs::permissions(recorder, fs::perms::owner_all);
    std::ofstream(home / "data/applications/recorder.desktop")
        << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << recorder.string() << " %u\n"
        << "MimeType=x-scheme-handler/x-zorvel-test;text/plain;inode/directory;application/x-shellscript;\n";
    std::ofstream mimeapps(home / "config/mimeapps.list");
    mimeapps << "[Default Applications]\n";
    for (const char* type :
         {"x-scheme-handler/x-zorvel-test", "text/plain", "inode/directory", "application/x-shellscript"})
      mimeapps << type << "=recorder.desktop\n";
    mimeapps.close();
    std::ofstream(home / "note.txt") << "a note\n";
    std::ofstream(home / "run.sh") << "#!/bin/sh\ntrue\n";
    fs::permissions(home / "run.sh", fs::perms::owner_all);
    std::ofstream(home / "config/user-dirs.dirs") << "XDG_DOWNLOAD_DIR=\"" << (home / "downloads").string() << "\"\n";
    run.environment["XDG_DATA_HOME"] = home / "data";
    run.environment["XDG_DATA_DIRS"] = (home / "none").string() + ":/usr/share";
    run.environment["XDG_CONFIG_HOME"] = home / "config";
  }

  std::string openedPath() const { return run.directory + "/opened"; }
  std::string file(const std::string& name) const { return run.directory + "/desktop/" + name; }
  std::string fileLink(const std::string& name) const {
    platform::GCharPtr uri(g_filename_to_uri(file(name).c_str(), nullptr, nullptr));
    return uri.get();
  }

  // What the recorder was started with, one link (or, for a file, its path) a line, in any order.
  std::multiset<std::string> opened() const {
    std::ifstream in(openedPath());
    std::multiset<std::string> read;
    for (std::string line; std::getline(in, line);) read.insert(line);
    return read;
  }

  // A file of the core that the page downloads when it goes there.
  std::string downloadLink() const { return "http://127.0.0.1:" + std::to_string(run.port) + "/__test/download"; }
  size_t downloaded() const {
    const fs::directory_iterator files(run.directory + "/desktop/downloads");
    return static_cast<size_t>(std::distance(fs::begin(files), fs::end(files)));
  }

  // Lays a link over the page and clicks it as the user would.
  void follow(const json& link) {
    ASSERT_TRUE(commandMainPage(run, {{"link", link}})) << "the page did not lay out the link";
    const std::string window = mainWindow(run.app->processIdentifier());
    ASSERT_FALSE(window.empty());
    ASSERT_EQ(shell("xdotool mousemove --window " + window + " 600 400 click 1"), 0);
  }

  // Lays a link over the page with the keyboard on it, and presses Enter as the user would.
  void press(json link) {
    link["focus"] = true;
    ASSERT_TRUE(commandMainPage(run, {{"link", link}})) << "the page did not lay out the link";
    const std::string window = mainWindow(run.app->processIdentifier());
    ASSERT_FALSE(window.empty());
    focusWindow(window);
    ASSERT_EQ(shell("xdotool key Return"), 0);
  }

  size_t refusals(const std::string& reason) const {
    size_t count = 0;
    const std::string text = run.log();
    for (auto at = text.find(reason); at != std::string::npos; at = text.find(reason, at + 1)) ++count;
    return count;
  }

  DesktopRun run;
};

// The engine itself neither loads a file link from the page nor says so: it goes to the desktop.
TEST(PageLinks, AFileLinkFollowedInThePageOpensAsOneFromATerminalWould) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();

  desktop.follow({{"href", desktop.fileLink("note.txt")}});
  desktop.follow({{"href", desktop.fileLink("folder")}});
  EXPECT_TRUE(desktop.run.waitUntil([&] { return desktop.opened().size() >= 2; }, 20s)) << desktop.run.log();
  // One the program for its type would run is refused, and the refusal is logged.
  desktop.follow({{"href", desktop.fileLink("run.sh")}});
  EXPECT_TRUE(desktop.run.waitUntil(
      [&] { return desktop.refusals("Not opening a link: the file link names a file that could be run") == 1; }, 20s))
      << desktop.run.log();
  EXPECT_EQ(desktop.opened(), (std::multiset<std::string>{desktop.file("note.txt"), desktop.file("folder")}));
  EXPECT_TRUE(mainPageListening(desktop.run)) << "the page was left";
}

// The application has one window: what a page asks to open in another goes where the same link
// would go from the page itself, or is refused and logged.
TEST(PageLinks, ALinkForANewWindowGoesWhereTheSameLinkFromThePageWould) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();
  const pid_t app = desktop.run.app->processIdentifier();

  desktop.follow({{"href", "x-zorvel-test://page/target"}, {"target", "_blank"}});
  desktop.follow({{"href", "x-zorvel-test://page/script"}, {"open", true}});
  desktop.follow({{"href", desktop.fileLink("note.txt")}, {"target", "_blank"}});
  desktop.follow({{"href", desktop.fileLink("note.txt")}, {"open", true}});
  EXPECT_TRUE(desktop.run.waitUntil([&] { return desktop.opened().size() >= 4; }, 20s)) << desktop.run.log();

  desktop.follow({{"href", desktop.fileLink("run.sh")}, {"open", true}});
  desktop.follow({{"href", "/tasks"}, {"target", "_blank"}});
  desktop.follow({{"href", "about:blank"}, {"open", true}});
  EXPECT_TRUE(desktop.run.waitUntil(
      [&] {
        return desktop.refusals("Not opening a link: the file link names a file that could be run") == 1 &&
               desktop.refusals("Not opening a link in a new window") == 2;
      },
      20s))
      << desktop.run.log();
  EXPECT_EQ(desktop.opened(), (std::multiset<std::string>{"x-zorvel-test://page/target", "x-zorvel-test://page/script",
                                                          desktop.file("note.txt"), desktop.file("note.txt")}));
  EXPECT_EQ(visibleWindows(app).size(), 1u) << "a second window opened";
  EXPECT_TRUE(mainPageListening(desktop.run)) << "the page was left";
}

constexpr const char* noPress = "no click or key press of the user on the page asked for it";

// Nothing a page does with what the application hands it (a fetch's answer, a stream's event) lets
// it open anything. Full screen the engine itself refuses there, without asking the application.
TEST(PageLinks, NothingLeavesThePageWithoutAPressOfTheUser) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();

  const std::string note = desktop.fileLink("note.txt");
  struct Unasked {
    const char* after;  // "event": in the stream event's handler; "fetch": after a fetch's answer
    const char* how;
    std::string href;
    int times;
  };
  const Unasked table[] = {
      {"fetch", "window", note, 1},
      {"event", "window", note, 5},
      {"event", "blank", "x-zorvel-test://page/blank", 1},
      {"event", "self", note, 1},  // the engine follows no file link a script clicks
      {"event", "self", "x-zorvel-test://page/self", 1},
      {"fetch", "address", "x-zorvel-test://page/address", 1},
      {"event", "frame", "x-zorvel-test://page/frame", 1},
      {"event", "frame", desktop.downloadLink(), 1},
      {"fetch", "fullscreen", "", 1},
  };
  for (const auto& unasked : table) {
    ASSERT_TRUE(commandMainPage(desktop.run, {{"unasked",
                                               {{"id", unasked.how},
                                                {"after", unasked.after},
                                                {"how", unasked.how},
                                                {"href", unasked.href},
                                                {"times", unasked.times}}}}));
  }
  const std::string newWindow = std::string("Not opening a link in a new window: ") + noPress;
  const std::string sameWindow = std::string("Not opening a link: ") + noPress;
  const std::string download = std::string("Not downloading a file: ") + noPress;
  const std::string fullScreen = std::string("Not showing a page in full screen: ") + noPress;
  // What the page made of each way, once it tried it.
  auto tried = [&](const std::string& how) {
    for (auto& event : pageEvents(desktop.run, "main", "unasked"))
      if (event.detail.value("id", "") == how) return event.detail.value("outcomes", json());
    return json();
  };
  EXPECT_TRUE(desktop.run.waitUntil(
      [&] {
        return desktop.refusals(newWindow) == 7 && desktop.refusals(sameWindow) == 3 &&
               desktop.refusals(download) == 1 && !tried("fullscreen").is_null();
      },
      20s))
      << desktop.run.log();
  EXPECT_EQ(tried("fullscreen"), json{"refused"});
  EXPECT_EQ(desktop.refusals(fullScreen), 0u);

  // A link the user clicks still opens, and it is the only one that did.
  desktop.follow({{"href", "x-zorvel-test://page/clicked"}});
  EXPECT_TRUE(desktop.run.waitUntil([&] { return !desktop.opened().empty(); }, 20s)) << desktop.run.log();
  EXPECT_EQ(desktop.opened(), (std::multiset<std::string>{"x-zorvel-test://page/clicked"}));
  EXPECT_EQ(desktop.downloaded(), 0u);
  EXPECT_TRUE(mainPageListening(desktop.run)) << "the page was left";
}

// One click or key press lets the page open one thing: a link, a window it opens by script, also
// once the answer of a fetch it made for the click has come, or a download; or show itself in full
// screen. Each press is made once
// the last one's openings are over, so none of them can take the next press's opening.
TEST(PageLinks, OnePressOfTheUserOpensOneThing) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();
  const std::string refused = std::string("Not opening a link in a new window: ") + noPress;
  // The downloads folder lies outside what the run watches: it is looked at again and again.
  auto opened = [&](size_t links, size_t downloads) {
    return waitUntil([&] { return desktop.opened().size() >= links && desktop.downloaded() >= downloads; }, 20s);
  };

  desktop.follow({{"href", "x-zorvel-test://page/five"}, {"open", true}, {"times", 5}});
  EXPECT_TRUE(desktop.run.waitUntil([&] { return desktop.refusals(refused) == 4; }, 20s)) << desktop.run.log();
  EXPECT_TRUE(opened(1, 0)) << desktop.run.log();
  desktop.follow({{"href", desktop.fileLink("note.txt")}, {"open", true}, {"after", "fetch"}});
  EXPECT_TRUE(opened(2, 0)) << desktop.run.log();
  desktop.follow({{"href", desktop.downloadLink()}});
  EXPECT_TRUE(opened(2, 1)) << desktop.run.log();
  desktop.press({{"href", "x-zorvel-test://page/key"}, {"target", "_blank"}});
  EXPECT_TRUE(opened(3, 1)) << desktop.run.log();
  // Without a window manager the window itself stays as it is, but the page is told it is shown.
  desktop.follow({{"href", ""}, {"open", true}, {"how", "fullscreen"}});
  EXPECT_TRUE(waitForPageEvent(desktop.run, "main", "fullscreen", [](const json& detail) {
    return detail.value("on", false);
  })) << desktop.run.log();
  EXPECT_EQ(desktop.refusals(std::string("Not showing a page in full screen: ") + noPress), 0u);

  EXPECT_EQ(desktop.refusals(refused), 4u);
  EXPECT_EQ(desktop.opened(), (std::multiset<std::string>{"x-zorvel-test://page/five", desktop.file("note.txt"),
                                                          "x-zorvel-test://page/key"}));
  EXPECT_EQ(desktop.downloaded(), 1u);
}

// A link of the page's own data (a file it made, or a data: link) that asks to be downloaded is
// saved in the downloads folder as its name says, beside a file of that name rather than over it.
// One that cannot be saved, or that would only have the page left, says why in the log, and one
// the user asked for that cannot be saved says so in the window too.
TEST(PageLinks, ADownloadLinkOfThePageSavesItsFileOrSaysWhyNot) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();
  const fs::path downloads = desktop.file("downloads");
  auto saved = [&](const std::string& name) {
    std::ifstream in(downloads / name);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  auto logged = [&](const std::string& line) {
    return desktop.run.waitUntil([&] { return desktop.refusals(line) == 1; }, 20s);
  };

  // Each file is whole once it holds all its text.
  auto arrives = [&](const std::string& name, const std::string& text) {
    return waitUntil([&] { return saved(name) == text; }, 20s);
  };
  desktop.follow({{"blob", "made by the page\n"}, {"download", "made.txt"}});
  EXPECT_TRUE(arrives("made.txt", "made by the page\n")) << desktop.run.log();
  desktop.follow({{"blob", "made again\n"}, {"download", "../made.txt"}});
  EXPECT_TRUE(arrives("made (1).txt", "made again\n")) << desktop.run.log();
  desktop.follow({{"href", "data:text/plain,a%20data%20link"}, {"download", "data.txt"}});
  EXPECT_TRUE(arrives("data.txt", "a data link")) << desktop.run.log();
  EXPECT_EQ(saved("made.txt"), "made by the page\n");
  EXPECT_EQ(desktop.downloaded(), 3u);

  desktop.follow({{"href", "/index.html"}, {"download", "page.html"}});
  EXPECT_TRUE(logged("Not downloading a file: the application's own pages are shown in it")) << desktop.run.log();
  desktop.follow({{"blob", "only a link\n"}});
  EXPECT_TRUE(logged("Not opening a link: blob links are not opened by other applications")) << desktop.run.log();
  // Links the page's script clicks while the user's click is still being answered: none is the
  // user's, whatever they ask, and that is why none is saved.
  desktop.follow({{"blob", "clicked by a script\n"}, {"open", true}, {"how", "save"}, {"times", 20}});
  EXPECT_TRUE(desktop.run.waitUntil(
      [&] {
        return desktop.refusals(
                   "Not opening a link: a script of the page followed this link to its own data, "
                   "not a click of the user's on it") >= 1;
      },
      20s))
      << desktop.run.log();
  EXPECT_EQ(desktop.refusals("blob links are not opened by other applications"), 1u) << desktop.run.log();

  // A file where the folder should be: nothing to make the folder again with.
  fs::remove_all(downloads);
  std::ofstream(downloads) << "the user's\n";
  desktop.follow({{"blob", "nowhere to go\n"}, {"download", "lost.txt"}});
  const std::string failure =
      "Could not download a file: the downloads folder " + downloads.string() + " is not a folder";
  EXPECT_TRUE(logged(failure)) << desktop.run.log();
  const std::string labels = "timeout 10 /usr/bin/python3 " + std::string(ZORVEL_SOURCE_DIR) +
                             "/tests/e2e/labels.py window " + std::to_string(desktop.run.app->processIdentifier());
  EXPECT_TRUE(
      waitUntil([&] { return commandOutput(labels).find("Zorvel UI error: " + failure) != std::string::npos; }, 20s))
      << commandOutput(labels);
  EXPECT_TRUE(mainPageListening(desktop.run)) << "the page was left";
}

}  // namespace page_links_e2e

namespace page_links_e2e {

// Every byte of a file name counts against the file system's bound on a name (255 bytes here).
bool isWholeUTF8(const std::string& text) { return g_utf8_validate(text.data(), std::ssize(text), nullptr); }

// A download whose name is too long for the file system, or whose " (1)" makes it so, is saved
// under a name cut to fit, its extension kept; one whose folder was removed meanwhile is saved in
// the folder made again.
TEST(PageLinks, ADownloadIsSavedWhenItsNameIsTooLongOrItsFolderWasRemoved) {
  LinkDesktop desktop;
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();
  const fs::path downloads = desktop.file("downloads");
  // The names in the folder, once it holds `count` files whole.
  auto saved = [&](size_t count, const std::string& text) {
    std::vector<std::string> names;
    waitUntil(
        [&] {
          names.clear();
          std::error_code error;
          for (const auto& entry : fs::directory_iterator(downloads, error)) {
            std::ifstream in(entry.path());
            if (std::string(std::istreambuf_iterator<char>(in), {}) == text)
              names.push_back(entry.path().filename().string());
          }
          return names.size() >= count;
        },
        20s);
    return names;
  };

  desktop.follow({{"blob", "long\n"}, {"download", std::string(300, 'a') + ".txt"}});
  auto names = saved(1, "long\n");
  ASSERT_EQ(names.size(), 1u) << desktop.run.log();
  EXPECT_EQ(names[0], std::string(251, 'a') + ".txt");

  // Two-byte characters: the cut falls between characters, never inside one.
  std::string accented;
  for (int i = 0; i < 130; ++i) accented += "\xc3\xa9";
  desktop.follow({{"blob", "accented\n"}, {"download", accented + ".txt"}});
  names = saved(1, "accented\n");
  ASSERT_EQ(names.size(), 1u) << desktop.run.log();
  EXPECT_EQ(names[0], accented.substr(0, 250) + ".txt");
  EXPECT_TRUE(isWholeUTF8(names[0]));

  const std::string longest = std::string(251, 'b') + ".txt";
  desktop.follow({{"blob", "twice\n"}, {"download", longest}});
  ASSERT_EQ(saved(1, "twice\n").size(), 1u) << desktop.run.log();
  desktop.follow({{"blob", "twice\n"}, {"download", longest}});
  names = saved(2, "twice\n");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{std::string(247, 'b') + " (1).txt", longest})) << desktop.run.log();

  fs::remove_all(downloads);
  desktop.follow({{"blob", "folder made again\n"}, {"download", "again.txt"}});
  EXPECT_EQ(saved(1, "folder made again\n"), (std::vector<std::string>{"again.txt"})) << desktop.run.log();
  EXPECT_TRUE(mainPageListening(desktop.run)) << "the page was left";
}

// With no downloads folder among the user's folders, a download goes to "Downloads" in the home,
// which is made for it, not among the user's own files in the home itself.
TEST(PageLinks, WithNoDownloadsFolderConfiguredADownloadGoesToDownloadsInTheHome) {
  LinkDesktop desktop;
  fs::remove(desktop.file("config/user-dirs.dirs"));
  desktop.run.start();
  ASSERT_TRUE(waitForMainPage(desktop.run, 40s)) << desktop.run.log();
  const fs::path home = g_get_home_dir();
  desktop.follow({{"blob", "at home\n"}, {"download", "home.txt"}});
  EXPECT_TRUE(waitUntil(
      [&] {
        std::ifstream in(home / "Downloads/home.txt");
        return std::string(std::istreambuf_iterator<char>(in), {}) == "at home\n";
      },
      20s))
      << desktop.run.log();
  EXPECT_FALSE(fs::exists(home / "home.txt"));
}

}  // namespace page_links_e2e
