// Text input: the input method's preedit and commit, paste and the clipboard.
#include <gdkmm/clipboard.h>
#include <glibmm/markup.h>
#include <gtkmm/eventcontrollerfocus.h>
#include <gtkmm/label.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "Vantrelle/Keyboard/EscapeSequences.h"
#include "Vantrelle/View/ClipboardText.h"
#include "Vantrelle/View/TerminalView.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

std::span<const uint8_t> view(const Bytes& bytes) { return std::span<const uint8_t>(bytes); }

std::string hexOf(const ViewColor& c) {
  char buffer[8];
  auto part = [](double v) { return int(std::clamp(v, 0.0, 1.0) * 255 + 0.5); };
  std::snprintf(buffer, sizeof buffer, "#%02x%02x%02x", part(c.red), part(c.green), part(c.blue));
  return buffer;
}

// Pasted text must not end the bracketed paste itself: text after an end marker of its own
// would reach the program as if typed, commands and all. Removing a marker can join its
// neighbours into a new one, so the check runs on the text as it is rebuilt.
std::string withoutPasteEnd(const std::string& text) {
  const Bytes& marker = EscapeSequences::bracketedPasteEnd;
  if (marker.empty()) return text;
  std::string clean;
  clean.reserve(text.size());
  for (char c : text) {
    clean.push_back(c);
    if (clean.size() >= marker.size() &&
        std::equal(marker.begin(), marker.end(), clean.end() - std::ptrdiff_t(marker.size()),
                   [](uint8_t m, char t) { return m == uint8_t(t); })) {
      clean.resize(clean.size() - marker.size());
    }
  }
  return clean;
}

// Lines of pasted text are typed as Enter types them, with a carriage return. A line feed is
// Ctrl+J to a program that reads keys, and text copied with CRLF line ends would reach a program
// reading lines with every line break doubled.
std::string withTypedLineBreaks(const std::string& text) {
  std::string typed;
  typed.reserve(text.size());
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    typed.push_back(text[i] == '\n' ? '\r' : text[i]);
  }
  return typed;
}

}  // namespace

void TerminalView::setupTextInput() {
  composition.imContext.reset(gtk_im_multicontext_new());
  GtkIMContext* im = composition.imContext.get();
  gtk_im_context_set_client_widget(im, GTK_WIDGET(gobj()));
  gtk_im_context_set_use_preedit(im, TRUE);
  g_signal_connect(im, "commit", G_CALLBACK(+[](GtkIMContext*, const char* text, gpointer self) {
                     auto* view = static_cast<TerminalView*>(self);
                     view->composition.commits++;
                     view->insertText(text ? text : "", false);
                   }),
                   this);
  g_signal_connect(im, "preedit-changed", G_CALLBACK(+[](GtkIMContext* context, gpointer self) {
                     platform::GCharPtr text;
                     int cursor = 0;
                     gtk_im_context_get_preedit_string(context, platform::out(text), nullptr, &cursor);
                     static_cast<TerminalView*>(self)->setMarkedText(text ? text.get() : "", cursor);
                   }),
                   this);
  g_signal_connect(im, "preedit-end",
                   G_CALLBACK(+[](GtkIMContext*, gpointer self) { static_cast<TerminalView*>(self)->unmarkText(); }),
                   this);
  // Only one input method may be focused at a time: the find bar's field has its own.
  auto focus = Gtk::EventControllerFocus::create();
  focus->property_is_focus().signal_changed().connect([this, raw = focus.get()] {
    if (raw->is_focus()) {
      gtk_im_context_focus_in(composition.imContext.get());
    } else {
      gtk_im_context_focus_out(composition.imContext.get());
      keyState.heldKeys.clear();
    }
  });
  add_controller(focus);
}

bool TerminalView::isPlainPrintableText(const std::string& text) { return vantrelle::isPlainPrintableText(text); }

void TerminalView::insertText(const std::string& given, bool isPaste) {
  const std::string text = isPaste ? withTypedLineBreaks(given) : given;
  composition.markedTextStorage.reset();
  composition.markedSelectedLocation = -1;
  updateMarkedTextOverlay();
  bool bracketed = isPaste && terminal->bracketedPasteMode;
  if (!terminal->keyboardEnhancementFlags().isEmpty()) {
    if (bracketed) {
      keyState.pendingKittyKeyEvent.reset();
      send(view(EscapeSequences::bracketedPasteStart));
      send(withoutPasteEnd(text));
      send(view(EscapeSequences::bracketedPasteEnd));
      return;
    }
    // A paste is no key: as one key event it would lose its text whenever the program asks
    // for every key as an escape code, and otherwise arrive as one sequence of any length.
    if (isPaste) {
      keyState.pendingKittyKeyEvent.reset();
      send(text);
      return;
    }
    auto pending = std::move(keyState.pendingKittyKeyEvent);
    keyState.pendingKittyKeyEvent.reset();
    keyState.kittyIsComposing = false;
    if (pending && !optionAsMetaKey) {
      const InputModifiers& m = pending->event.modifiers;
      // Characters the layout composes with Alt go out as the plain text they are.
      if (m.alt && !m.control && !m.super && isPlainPrintableText(text)) {
        send(text);
        return;
      }
    }
    // Text the input method composed (a dead key, compose, Unicode entry, a CJK input method) is
    // no key's own. A program that asked for every key as an escape code but not for their text
    // would get only the key that ended the composition, and lose what the user typed: it goes out
    // as the text it is, as a paste does.
    KittyKeyboardFlags flags = terminal->keyboardEnhancementFlags();
    bool ownText = pending && text == pending->event.characters;
    if (!ownText && flags.contains(KittyKeyboardFlags::reportAllKeys) &&
        !flags.contains(KittyKeyboardFlags::reportText)) {
      // Nor is the release of the key that ended it.
      if (pending) {
        for (HeldKey& held : keyState.heldKeys) held.kept = held.kept || held.keycode == pending->event.keycode;
      }
      send(text);
      return;
    }
    std::optional<KittyKeyEvent> event;
    if (pending && g_utf8_validate(text.data(), gssize(text.size()), nullptr) &&
        g_utf8_strlen(text.data(), gssize(text.size())) == 1) {
      event = kittyTextEvent(pending->event, pending->eventType, text);
    }
    if (!event) {
      event = KittyKeyEvent{};
      event->text = text;
      event->composing = keyState.kittyIsComposing;
    }
    if (auto bytes = encodeKitty(*event)) send(view(*bytes));
    return;
  }
  if (!bracketed) {
    send(text);
    return;
  }
  send(view(EscapeSequences::bracketedPasteStart));
  send(withoutPasteEnd(text));
  send(view(EscapeSequences::bracketedPasteEnd));
}

void TerminalView::setMarkedText(const std::string& text, int selectedLocation) {
  if (text.empty()) {
    composition.markedTextStorage.reset();
  } else {
    composition.markedTextStorage = text;
  }
  composition.markedSelectedLocation = selectedLocation;
  keyState.kittyIsComposing = true;
  updateMarkedTextOverlay();
}

void TerminalView::unmarkText() {
  composition.markedTextStorage.reset();
  composition.markedSelectedLocation = -1;
  keyState.kittyIsComposing = false;
  updateMarkedTextOverlay();
}

std::pair<int64_t, int64_t> TerminalView::selectedRange() const {
  int64_t cols = terminal->cols;
  if (selection && selection->active()) {
    int64_t a = selection->start().row * cols + selection->start().col;
    int64_t b = selection->end().row * cols + selection->end().col;
    if (a != b) return {std::min(a, b), std::abs(a - b)};
  }
  return {int64_t(terminal->buffer->y) * cols + terminal->buffer->x, 0};
}

std::pair<int64_t, int64_t> TerminalView::markedRange() const {
  if (!composition.markedTextStorage) return {-1, 0};
  return {0, g_utf8_strlen(composition.markedTextStorage->data(), gssize(composition.markedTextStorage->size()))};
}

std::optional<std::string> TerminalView::attributedSubstring(int64_t location, int64_t length) const {
  if (!composition.markedTextStorage || location < 0) return std::nullopt;
  const std::string& text = *composition.markedTextStorage;
  int64_t total = g_utf8_strlen(text.data(), gssize(text.size()));
  if (location >= total) return std::nullopt;
  int64_t count = std::min(total - location, length);
  if (count < 1) return std::nullopt;
  const char* begin = g_utf8_offset_to_pointer(text.data(), glong(location));
  const char* end = g_utf8_offset_to_pointer(begin, glong(count));
  return std::string(begin, end);
}

int64_t TerminalView::characterIndex(double x, double y) const {
  // Before the cell size is known every point is the first cell.
  if (!cellDimension || cellDimension->width <= 0 || cellDimension->height <= 0) return 0;
  int64_t col = int64_t(x / cellDimension->width);
  int64_t row = int64_t(y / cellDimension->height);
  return row * terminal->cols + col;
}

void TerminalView::updateMarkedTextOverlay() {
  if (!composition.markedTextStorage || composition.markedTextStorage->empty()) {
    if (composition.markedTextOverlay) {
      composition.markedTextOverlay->unparent();
      composition.markedTextOverlay.reset();
    }
    return;
  }
  if (!composition.markedTextOverlay) {
    composition.markedTextOverlay = std::make_unique<Gtk::Label>();
    composition.markedTextOverlay->set_can_target(false);
    composition.markedTextOverlay->insert_at_end(*this);
  }
  auto* label = static_cast<Gtk::Label*>(composition.markedTextOverlay.get());
  std::string markup = "<span font_desc=\"" + Glib::Markup::escape_text(fontSet.normal.to_string()).raw() +
                       "\" foreground=\"" + hexOf(nativeForegroundColor()) + "\" background=\"" +
                       hexOf(nativeBackgroundColor()) + "\" bgalpha=\"90%\" underline=\"single\">" +
                       Glib::Markup::escape_text(*composition.markedTextStorage).raw() + "</span>";
  label->set_markup(markup);
  queue_allocate();
}

// The input method places its candidate window at the caret, wherever the caret has gone.
void TerminalView::updateInputMethodCursorLocation() {
  if (!composition.imContext || !caretView) return;
  const ViewRect& f = caretView->frame;
  GdkRectangle area{int(f.x), int(f.y), int(std::ceil(f.width)), int(std::ceil(f.height))};
  gtk_im_context_set_cursor_location(composition.imContext.get(), &area);
}

void TerminalView::layoutInputOverlays(int width, int height) {
  updateInputMethodCursorLocation();
  placeUrlPreview(width, height);
  if (!composition.markedTextOverlay) return;
  int minimum = 0, natural = 0, minBase = 0, natBase = 0, h = 0;
  composition.markedTextOverlay->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minBase, natBase);
  int w = natural;
  composition.markedTextOverlay->measure(Gtk::Orientation::VERTICAL, w, minimum, h, minBase, natBase);
  double x = caretView ? caretView->frame.x : 0, y = caretView ? caretView->frame.y : 0;
  if (x + w > width) x = std::max(width - w, 0);
  composition.markedTextOverlay->size_allocate(Gtk::Allocation(int(x), int(y), w, h), -1);
}

namespace {

// Pastes the text of `clipboard` once it has been read; the view may be gone by then.
void pasteFrom(std::weak_ptr<TerminalView*> alive, Glib::RefPtr<Gdk::Clipboard> clipboard) {
  clipboard->read_text_async([alive, clipboard](const Glib::RefPtr<Gio::AsyncResult>& result) {
    auto owner = alive.lock();
    if (!owner || !*owner) return;
    std::string text;
    try {
      text = clipboard->read_text_finish(result).raw();
    } catch (const Glib::Error&) {
      // Nothing readable as text: paste the empty text, as an empty clipboard would.
    }
    (*owner)->insertText(text, true);
  });
}

}  // namespace

void TerminalView::paste() { pasteFrom(lifetime, get_clipboard()); }

void TerminalView::pastePrimary() { pasteFrom(lifetime, get_primary_clipboard()); }

void TerminalView::publishPrimarySelection() {
  if (!selectionActive()) return;
  std::string text = selection->getSelectedText();
  if (!text.empty()) putTextOnClipboard(*get_primary_clipboard(), text);
}

// A cleared selection keeps its ends; copying it would put text the user no longer sees as
// selected on the clipboard in place of what was there. A selection of nothing (a double click
// on a lone full stop) leaves the clipboard alone too, rather than emptying it.
void TerminalView::copy() {
  if (!selectionActive()) return;
  std::string text = selection->getSelectedText();
  if (!text.empty()) putTextOnClipboard(*get_clipboard(), text);
}

void TerminalView::selectionChanged() {}

}  // namespace vantrelle
