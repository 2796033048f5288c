#pragma once

#include <gtkmm.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace zorvel {

// Text that someone else wrote (a clipboard, a page) as a dialog can show it: well-formed UTF-8 of
// at most the given number of characters, a NUL shown as U+2400 SYMBOL FOR NULL, and whether
// anything was cut off.
struct BoundedText {
  std::string text;
  bool cut = false;
};
BoundedText boundedText(std::string_view text, std::size_t characters);

// Puts the text below a dialog's question in a scrolled area of bounded size, its long words
// broken anywhere. The dialog's own label wraps only between words and grows with every line: one
// endless word or hundreds of short lines made the dialog larger than the screen, its buttons out
// of sight.
void showTextWithinDialog(Gtk::MessageDialog& dialog, const std::string& text);

}  // namespace zorvel
