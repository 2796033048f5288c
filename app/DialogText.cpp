#include "app/DialogText.h"

#include <glib.h>

#include "platform/GLibPtr.h"

namespace zorvel {

BoundedText boundedText(std::string_view text, std::size_t characters) {
  // Only a bounded prefix is looked at: a page's text may run to megabytes. Each byte of it that is
  // not UTF-8 becomes one replacement character, so the prefix holds enough characters.
  const std::string_view prefix = text.substr(0, characters * 4);
  // A NUL would end the text wherever it is handed on as a C string: it is shown as its symbol.
  std::string shown;
  shown.reserve(prefix.size());
  for (char c : prefix) {
    if (c == '\0')
      shown += "\u2400";
    else
      shown += c;
  }
  GCharPtr valid(g_utf8_make_valid(shown.data(), static_cast<gssize>(shown.size())));
  const char* start = valid.get();
  const char* end = start;
  for (std::size_t counted = 0; *end && counted < characters; ++counted) end = g_utf8_next_char(end);
  return {std::string(start, end), *end != '\0' || prefix.size() < text.size()};
}

void showTextWithinDialog(Gtk::MessageDialog& dialog, const std::string& text) {
  constexpr int longestLine = 60;
  constexpr int tallest = 320;
  auto* label = Gtk::make_managed<Gtk::Label>(text);
  label->set_wrap(true);
  label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  label->set_max_width_chars(longestLine);
  label->set_justify(Gtk::Justification::CENTER);
  auto* scroller = Gtk::make_managed<Gtk::ScrolledWindow>();
  scroller->set_policy(Gtk::PolicyType::NEVER, Gtk::PolicyType::AUTOMATIC);
  scroller->set_propagate_natural_width(true);
  scroller->set_propagate_natural_height(true);
  scroller->set_max_content_height(tallest);
  scroller->set_child(*label);
  dialog.get_message_area()->append(*scroller);
}

}  // namespace zorvel
