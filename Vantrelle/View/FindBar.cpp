#include "Vantrelle/View/FindBar.h"

#include <gtk/gtk.h>
#include <gtkmm/eventcontrollerkey.h>

namespace vantrelle {

namespace {

void setupNavigationButton(Gtk::Button& button, const char* icon, const char* tip) {
  button.set_icon_name(icon);
  button.set_tooltip_text(tip);
  button.set_has_frame(false);
  button.set_focus_on_click(false);
  gtk_accessible_update_property(GTK_ACCESSIBLE(button.gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, tip, -1);
}

}  // namespace

TerminalFindBarView::TerminalFindBarView() : Gtk::Box(Gtk::Orientation::HORIZONTAL, 6) {
  add_css_class("osd");
  add_css_class("toolbar");
  set_margin_start(8);
  set_margin_end(8);
  set_margin_top(6);
  set_margin_bottom(6);
  set_valign(Gtk::Align::CENTER);

  // Through the property: this gtkmm takes the search entry for a GtkEntry, and its
  // set_placeholder_text() is refused with a critical warning and shows nothing.
  searchField.property_placeholder_text() = "Find";
  searchField.set_hexpand(true);
  searchField.set_size_request(200, -1);
  gtk_search_entry_set_search_delay(searchField.gobj(), 0);
  setupNavigationButton(previousButton, "go-up-symbolic", "Previous");
  setupNavigationButton(nextButton, "go-down-symbolic", "Next");
  setupNavigationButton(closeButton, "window-close-symbolic", "Close");
  caseSensitiveButton.set_tooltip_text("Case Sensitive");
  regexButton.set_tooltip_text("Regex");
  wholeWordButton.set_tooltip_text("Whole Word");

  append(searchField);
  append(previousButton);
  append(nextButton);
  append(caseSensitiveButton);
  append(regexButton);
  append(wholeWordButton);
  append(closeButton);

  // Each change searches once from where the last match was; Return steps on, Shift+Return back.
  searchField.signal_search_changed().connect([this] {
    if (!settingText && onSearchChanged) onSearchChanged(text());
  });
  auto keys = Gtk::EventControllerKey::create();
  keys->set_propagation_phase(Gtk::PropagationPhase::CAPTURE);
  keys->signal_key_pressed().connect(
      [this](guint keyval, guint, Gdk::ModifierType state) {
        if (keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter) {
          bool shift = (state & Gdk::ModifierType::SHIFT_MASK) == Gdk::ModifierType::SHIFT_MASK;
          if (shift ? bool(onFindPrevious) : bool(onFindNext)) shift ? onFindPrevious() : onFindNext();
          return true;
        }
        if (keyval == GDK_KEY_Escape) {
          if (onClose) onClose();
          return true;
        }
        return false;
      },
      false);
  searchField.add_controller(keys);
  previousButton.signal_clicked().connect([this] {
    if (onFindPrevious) onFindPrevious();
  });
  nextButton.signal_clicked().connect([this] {
    if (onFindNext) onFindNext();
  });
  closeButton.signal_clicked().connect([this] {
    if (onClose) onClose();
  });
  for (Gtk::CheckButton* box : {&caseSensitiveButton, &regexButton, &wholeWordButton}) {
    box->signal_toggled().connect([this] {
      if (onOptionsChanged) onOptionsChanged(options());
    });
  }
}

SearchOptions TerminalFindBarView::options() const {
  return SearchOptions(caseSensitiveButton.get_active(), regexButton.get_active(), wholeWordButton.get_active());
}

void TerminalFindBarView::setText(const std::string& value) {
  settingText = true;
  searchField.set_text(value);
  settingText = false;
}

std::optional<std::string>& TerminalFindBarView::findPasteboard() {
  static std::optional<std::string> shared;
  return shared;
}

}  // namespace vantrelle
