#pragma once
// The floating find bar of a terminal view: search field, previous and next, the three search
// options and close. It only reports what the user did; the view does the searching.
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

  // The find string shared by every terminal of the process, as a find pasteboard would be.
  static std::optional<std::string>& findPasteboard();

 private:
  bool settingText = false;
};

}  // namespace vantrelle
