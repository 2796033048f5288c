#include "app/ApplicationIcon.h"

#include <gtkmm.h>

#include <algorithm>
#include <filesystem>

#include "platform/Bundle.h"

namespace zorvel {

std::string applicationIconName(const platform::Bundle& bundle) {
  return bundle.bundleIdentifier().value_or("local.zorvel.desktop");
}

void installApplicationIcon(const platform::Bundle& bundle) {
  auto display = Gdk::Display::get_default();
  if (!display) return;
  const auto icons = std::filesystem::path(bundle.resourcePath()).parent_path() / "icons";
  std::error_code error;
  if (std::filesystem::is_directory(icons, error)) {
    auto theme = Gtk::IconTheme::get_for_display(display);
    const auto searched = theme->get_search_path();
    if (std::find(searched.begin(), searched.end(), icons.string()) == searched.end()) {
      theme->add_search_path(icons.string());
    }
  }
  Gtk::Window::set_default_icon_name(applicationIconName(bundle));
}

}  // namespace zorvel
