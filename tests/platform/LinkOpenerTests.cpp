#include <gio/gio.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "platform/GLibPtr.h"
#include "platform/LinkOpener.h"
#include "tests/MainLoop.h"

using platform::GCharPtr;
using platform::GObjectPtr;
using platform::LinkOpener;

TEST(LinkOpener, RefusesWhatNoApplicationShouldBeHandedAndTakesOrdinaryLinks) {
  struct Case {
    std::string link;
    bool refused;
  };
  const Case cases[] = {
      {"https://example.com/a?b=c#d", false},
      {"mailto:someone@example.com", false},
      {"HTTPS://example.com/caf\xc3\xa9", false},
      {"https://example.com/" + std::string(LinkOpener::maximumLength - 20, 'a'), false},
      {"https://example.com/" + std::string(LinkOpener::maximumLength, 'a'), true},
      {"file:///nonexistent/setup.exe", true},
      {"javascript:alert(1)", true},
      {"Data:text/html,x", true},
      {"https://example.com/a b", true},
      {"https://example.com/\n--new-window", true},
      {"https://example.com/\x01", true},
      {"https://example.com/\xff", true},
      {"not a link", true},
      {"-x:y", true},
      {"", true},
  };
  for (const auto& [link, refused] : cases) {
    EXPECT_EQ(LinkOpener::refusal(link).has_value(), refused) << link.substr(0, 80);
  }
}

// A desktop of its own: one application, registered for a scheme of the test, text files and
// folders, writes down every link it is started with. The desktop's folders are read once per
// process, so this test sets them before anything asks.
TEST(LinkOpener, HandsALinkOnlyToAnApplicationThatShowsWhatItNames) {
  namespace fs = std::filesystem;
  const fs::path home = fs::path(::testing::TempDir()) / ("link-opener-" + std::to_string(::getpid()));
  fs::remove_all(home);
  fs::create_directories(home / "data/applications");
  fs::create_directories(home / "config");
  fs::create_directories(home / "folder");
  const fs::path opened = home / "opened";
  const fs::path recorder = home / "recorder.sh";
  std::ofstream(recorder) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << opened.string() << "'\n";
  fs::permissions(recorder, fs::perms::owner_all);
  std::ofstream(home / "data/applications/recorder.desktop")
      << "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" << recorder.string() << " %u\n"
      << "MimeType=x-scheme-handler/x-zorvel-test;text/plain;inode/directory;application/x-ms-dos-executable;"
      << "application/x-desktop;application/x-shellscript;\n";
  std::ofstream mimeapps(home / "config/mimeapps.list");
  mimeapps << "[Default Applications]\n";
  for (const char* type : {"x-scheme-handler/x-zorvel-test", "text/plain", "inode/directory",
                           "application/x-ms-dos-executable", "application/x-desktop", "application/x-shellscript"}) {
    mimeapps << type << "=recorder.desktop\n";
  }
  mimeapps.close();
  std::ofstream(home / "notes.txt") << "notes\n";
  std::ofstream(home / "setup.exe") << "MZ\x90" << std::string(200, '\0');
  std::ofstream(home / "launcher.desktop") << "[Desktop Entry]\nType=Application\nName=X\nExec=true\n";
  std::ofstream(home / "run.sh") << "#!/bin/sh\ntrue\n";
  fs::permissions(home / "run.sh", fs::perms::owner_all);
  ::setenv("XDG_DATA_HOME", (home / "data").c_str(), 1);
  ::setenv("XDG_DATA_DIRS", ((home / "none").string() + ":/usr/share").c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (home / "config").c_str(), 1);
  ::setenv("XDG_CONFIG_DIRS", (home / "none").c_str(), 1);
  auto fileLink = [&](const fs::path& path) {
    GCharPtr uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
    return std::string(uri.get());
  };

  // A scheme nobody registered would be opened as a file by the desktop's fallback; files that
  // their program would run, and files of another machine, are not opened either.
  for (const auto& link : {std::string("x-zorvel-unclaimed://host/setup.exe"), fileLink(home / "setup.exe"),
                           fileLink(home / "launcher.desktop"), fileLink(home / "run.sh"),
                           "file://elsewhere.example" + (home / "notes.txt").string()}) {
    EXPECT_TRUE(LinkOpener::open(link)) << link;
  }
  for (const auto& link :
       {std::string("x-zorvel-test://tasks/1?a=b"), fileLink(home / "notes.txt"), fileLink(home / "folder")}) {
    EXPECT_FALSE(LinkOpener::open(link)) << link;
  }
  // The desktop gives a program that takes links the path of a local file.
  const std::set<std::string> shown{"x-zorvel-test://tasks/1?a=b", home / "notes.txt", home / "folder"};

  auto lines = [&] {
    std::ifstream in(opened);
    std::set<std::string> read;
    for (std::string line; std::getline(in, line);) read.insert(line);
    return read;
  };
  // Each launch ends in a process of its own; its write to the file wakes the main context.
  GObjectPtr<GFile> file(g_file_new_for_path(opened.c_str()));
  GObjectPtr<GFileMonitor> monitor(g_file_monitor_file(file.get(), G_FILE_MONITOR_NONE, nullptr, nullptr));
  EXPECT_TRUE(runMainUntil([&] { return lines().size() >= shown.size(); }, std::chrono::seconds(20)));
  EXPECT_EQ(lines(), shown);
  fs::remove_all(home);
}
