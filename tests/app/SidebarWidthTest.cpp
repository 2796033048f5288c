#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "app/MainWindow.h"
#include "platform/UserDefaults.h"
#include "tests/TemporaryFolder.h"

TEST(SidebarWidth, StoredWidthIsClampedAndAnythingElseGivesTheDefault) {
  const testing::TemporaryFolder folder("zorvel-sidebar");
  platform::UserDefaults defaults((folder.path() / "defaults.conf").string());
  auto width = [&] { return zorvel::storedSidebarWidth(defaults.doubleForKey("zorvel.sidebarWidth")); };
  EXPECT_EQ(width(), 360);
  defaults.set("zorvel.sidebarWidth", 100.0);
  EXPECT_EQ(width(), 280);
  defaults.set("zorvel.sidebarWidth", 900.0);
  EXPECT_EQ(width(), 560);
  defaults.set("zorvel.sidebarWidth", 412.5);
  EXPECT_EQ(width(), 412.5);
  defaults.set("zorvel.sidebarWidth", std::string("wide"));
  EXPECT_EQ(width(), 360);
}
