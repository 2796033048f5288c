#pragma once
// The floating find bar of a terminal view: search field, previous and next, the three search
// options and close, in one row, or in a narrow terminal with the options on a row of their own
// below; where no room is left beside what the user reads, the field alone. It only reports what
// the user did; the view does the searching.
#include <gtkmm/box.h>
#include <gtkmm/button.h>
#include <gtkmm/checkbutton.h>
#include <gtkmm/searchentry.h>

#include <functional>
#include <optional>
#include <string>

#include "Vantrelle/Text/SearchTypes.h"

namespace vantrelle {

class TerminalFindBarView : public Gtk::Box {
 public:
  // The search field's least width while the whole bar fits in one row, and when it does not.
  static constexpr int fieldWidth = 200;
  static constexpr int narrowFieldWidth = 60;

  TerminalFindBarView();

  std::function<void(const std::string&)> onSearchChanged;
  std::function<void()> onFindNext;
  std::function<void()> onFindPrevious;
  std::function<void()> onClose;
  std::function<void(const SearchOptions&)> onOptionsChanged;

  Gtk::SearchEntry searchField;
  Gtk::Button previousButton;
  Gtk::Button nextButton;
  Gtk::Button closeButton;
  Gtk::CheckButton caseSensitiveButton{"Aa"};
  Gtk::CheckButton regexButton{".*"};
  Gtk::CheckButton wholeWordButton{"Word"};

  SearchOptions options() const;
  std::string text() const { return searchField.get_text().raw(); }
  void setText(const std::string& text);

  // The shapes the bar takes, from the one it would rather have: every control, the field at its
  // usual width where one row holds them; the options below a narrower field; the field alone at
  // its usual width, and at its narrowest. Return, Shift+Return and Escape do what the buttons do,
  // so the field alone still finds, steps and closes.
  enum class Shape { whole, narrow, entry, narrowEntry };

  // Lays the controls out in `shape` for a bar at most `width` wide and `height` high: whole, the
  // options go to a row of their own when one row cannot hold every control with the field at its
  // usual width, so none is cut off; where that row does not fit either, they keep their state out
  // of sight.
  void fit(Shape shape, int width, int height);
  Shape shape() const { return currentShape; }
  bool optionsOnOwnRow() const { return optionsBelow; }

  // The find string shared by every terminal of the process, as a find pasteboard would be.
  static std::optional<std::string>& findPasteboard();

 private:
  int oneRowWidth() const;
  int twoRowsHeight() const;
  void moveOptions(bool ownRow);
  void showControls(bool shown);

  Gtk::Box controlsRow{Gtk::Orientation::HORIZONTAL, 6};
  Gtk::Box optionsRow{Gtk::Orientation::HORIZONTAL, 6};
  bool optionsBelow = false;
  Shape currentShape = Shape::whole;
  bool settingText = false;
};

}  // namespace vantrelle
