// The application's icon: found in the bundle by its id, drawable, and the default of every window.
#include <gtest/gtest.h>
#include <gtkmm.h>

#include <algorithm>

#include "app/ApplicationIcon.h"
#include "platform/Bundle.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

TEST(ApplicationIcon, TheBundleIconIsFoundByTheApplicationIdAndDraws) {
  if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
  platform::Bundle bundle(std::string(ZORVEL_BUNDLE_DIR) + "/share/zorvel");
  const std::string name = applicationIconName(bundle);
  EXPECT_EQ(name, bundle.bundleIdentifier());
  installApplicationIcon(bundle);
  installApplicationIcon(bundle);  // a second window adds the folder only once
  EXPECT_EQ(std::string(Gtk::Window::get_default_icon_name()), name);

  auto theme = Gtk::IconTheme::get_for_display(Gdk::Display::get_default());
  auto searched = theme->get_search_path();
  EXPECT_EQ(std::count(searched.begin(), searched.end(), std::string(ZORVEL_BUNDLE_DIR) + "/share/icons"), 1);
  ASSERT_TRUE(theme->has_icon(name));
  auto icon = theme->lookup_icon(name, 64);
  ASSERT_TRUE(icon && icon->get_file());
  EXPECT_EQ(icon->get_file()->get_path(),
            std::string(ZORVEL_BUNDLE_DIR) + "/share/icons/hicolor/scalable/apps/" + name + ".svg");

  // Drawn at a small size, the icon has ink in its middle and clear corners.
  auto pixels = Gdk::Pixbuf::create_from_file(icon->get_file()->get_path(), 32, 32);
  ASSERT_TRUE(pixels && pixels->get_has_alpha());
  auto alpha = [&](int x, int y) { return pixels->get_pixels()[y * pixels->get_rowstride() + x * 4 + 3]; };
  EXPECT_EQ(alpha(16, 16), 255);
  EXPECT_EQ(alpha(0, 0), 0);
}

}  // namespace
}  // namespace zorvel
