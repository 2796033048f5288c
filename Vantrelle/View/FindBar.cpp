#include "Vantrelle/View/FindBar.h"

#include <gtk/gtk.h>
#include <gtkmm/eventcontrollerkey.h>

#include <algorithm>
#include <initializer_list>

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

TerminalFindBarView::TerminalFindBarView() : Gtk::Box(Gtk::Orientation::VERTICAL, 4) {
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
  searchField.set_size_request(fieldWidth, -1);
  gtk_search_entry_set_search_delay(searchField.gobj(), 0);
  setupNavigationButton(previousButton, "go-up-symbolic", "Previous");
  setupNavigationButton(nextButton, "go-down-symbolic", "Next");
  setupNavigationButton(closeButton, "window-close-symbolic", "Close");
  caseSensitiveButton.set_tooltip_text("Case Sensitive");
  regexButton.set_tooltip_text("Regex");
  wholeWordButton.set_tooltip_text("Whole Word");

  controlsRow.set_valign(Gtk::Align::CENTER);
  controlsRow.append(searchField);
  controlsRow.append(previousButton);
  controlsRow.append(nextButton);
  controlsRow.append(caseSensitiveButton);
  controlsRow.append(regexButton);
  controlsRow.append(wholeWordButton);
  controlsRow.append(closeButton);
  optionsRow.set_visible(false);
  append(controlsRow);
  append(optionsRow);

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

// What one row takes: the field at its usual width, every other control at its natural width,
// the spacing between them and the bar's margins.
int TerminalFindBarView::oneRowWidth() const {
  int width = get_margin_start() + get_margin_end() + fieldWidth + 6 * controlsRow.get_spacing();
  for (const Gtk::Widget* control : std::initializer_list<const Gtk::Widget*>{
           &previousButton, &nextButton, &caseSensitiveButton, &regexButton, &wholeWordButton, &closeButton}) {
    int minimum = 0, natural = 0, minBase = 0, natBase = 0;
    control->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minBase, natBase);
    width += natural;
  }
  return width;
}

int TerminalFindBarView::twoRowsHeight() const {
  auto height = [](const Gtk::Widget& widget) {
    int minimum = 0, natural = 0, minBase = 0, natBase = 0;
    widget.measure(Gtk::Orientation::VERTICAL, -1, minimum, natural, minBase, natBase);
    return natural;
  };
  return get_margin_top() + get_margin_bottom() + height(controlsRow) + get_spacing() +
         std::max({height(caseSensitiveButton), height(regexButton), height(wholeWordButton)});
}

void TerminalFindBarView::fit(Shape shape, int width, int height) {
  currentShape = shape;
  const bool fieldAlone = shape == Shape::entry || shape == Shape::narrowEntry;
  showControls(!fieldAlone);
  const bool ownRow = fieldAlone || shape == Shape::narrow || width < oneRowWidth();
  if (ownRow != optionsBelow) moveOptions(ownRow);
  const bool shown = !fieldAlone && ownRow && twoRowsHeight() <= height;
  if (optionsRow.get_visible() != shown) optionsRow.set_visible(shown);
  const bool usualField = fieldAlone ? shape == Shape::entry : !ownRow;
  searchField.set_size_request(usualField ? fieldWidth : narrowFieldWidth, -1);
}

// The field alone is the field and no more: the padding a toolbar keeps around its buttons would
// take the bar past the two rows it then lies over.
void TerminalFindBarView::showControls(bool shown) {
  if (previousButton.get_visible() == shown) return;
  for (Gtk::Widget* control : std::initializer_list<Gtk::Widget*>{&previousButton, &nextButton, &closeButton}) {
    control->set_visible(shown);
  }
  if (shown) {
    add_css_class("toolbar");
  } else {
    remove_css_class("toolbar");
  }
}

void TerminalFindBarView::moveOptions(bool ownRow) {
  optionsBelow = ownRow;
  Gtk::CheckButton* boxes[] = {&caseSensitiveButton, &regexButton, &wholeWordButton};
  if (ownRow) {
    for (Gtk::CheckButton* box : boxes) {
      controlsRow.remove(*box);
      optionsRow.append(*box);
    }
  } else {
    Gtk::Widget* after = &nextButton;
    for (Gtk::CheckButton* box : boxes) {
      optionsRow.remove(*box);
      controlsRow.insert_child_after(*box, *after);
      after = box;
    }
  }
}

std::optional<std::string>& TerminalFindBarView::findPasteboard() {
  static std::optional<std::string> shared;
  return shared;
}

}  // namespace vantrelle
