#include "app/WebErrorLabel.h"

#include <gtkmm/label.h>

#include <chrono>
#include <vector>

#include "Vantrelle/Text/Utf8.h"
#include "platform/Dispatch.h"

namespace zorvel {

namespace {

constexpr auto transientDuration = std::chrono::seconds(5);
const std::string ellipsis = "\xE2\x80\xA6";

// Cuts a line at a character boundary.
std::string shortened(std::string line) {
  if (line.size() <= WebErrorLabel::longestLine) return line;
  std::size_t end = WebErrorLabel::longestLine;
  while (end > 0 && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80) --end;
  line.resize(end);
  return line + ellipsis;
}

// A core's error output is the tail of what it wrote, cut anywhere, and in any encoding: each byte
// that starts no character shows as U+FFFD, so the rest of the text, what failed and what to do
// among it, still shows.
std::string displayable(const std::string& text) {
  if (vantrelle::isValidUtf8(text)) return text;
  std::string mended;
  for (char32_t c : vantrelle::decodeUtf8Replacing(text)) vantrelle::appendUtf8(mended, c);
  return mended;
}

}  // namespace

// An error output can run to hundreds of lines, or to one line of thousands of characters: the
// label, centred over the window, then showed only the middle of it, and what failed (the line
// above it) and what to do (the line below) were out of sight. The log keeps the whole text.
std::string WebErrorLabel::abridged(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (true) {
    auto end = text.find('\n', start);
    lines.push_back(shortened(text.substr(start, end == std::string::npos ? std::string::npos : end - start)));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (lines.size() > mostLines) {
    const std::size_t head = mostLines / 2, tail = mostLines - head - 1;
    lines.erase(lines.begin() + head, lines.end() - tail);
    lines.insert(lines.begin() + head, ellipsis);
  }
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) joined += (i > 0 ? "\n" : "") + lines[i];
  return joined;
}

WebErrorLabel::WebErrorLabel(Scheduler scheduler) : scheduleTransientHide(std::move(scheduler)) {
  if (!scheduleTransientHide) {
    scheduleTransientHide = [](std::function<void()> work) {
      platform::DispatchQueue::main().asyncAfter(transientDuration, std::move(work));
    };
  }
}

void WebErrorLabel::attach(Gtk::Label* newLabel) {
  label = newLabel;
  if (!label) return;
  label->set_wrap(true);
  // A word too long for the window breaks anywhere rather than running off both its sides.
  label->set_wrap_mode(Pango::WrapMode::WORD_CHAR);
  label->set_visible(visible);
  if (visible) label->set_text(shownText);
}

void WebErrorLabel::showWebFailure(const std::string& message, bool transient) {
  if (coreFailureShown) return;
  show((transient ? transientPrefix : loadFailurePrefix) + abridged(message));
  if (!transient) return;
  auto g = webErrorGeneration;
  std::weak_ptr<WebErrorLabel> weak = weak_from_this();
  scheduleTransientHide([weak, g] {
    auto self = weak.lock();
    if (self && self->webErrorGeneration == g) self->hide();
  });
}

void WebErrorLabel::showCoreFailure(const std::string& reason) {
  coreFailureShown = true;
  show("Zorvel could not start a compatible core.\n" + abridged(reason) + "\n\nQuit and reopen the app to retry.");
}

void WebErrorLabel::hideAfterLoad() {
  if (!coreFailureShown) hide();
}

void WebErrorLabel::clearCoreFailure() {
  coreFailureShown = false;
  hide();
}

void WebErrorLabel::show(std::string text) {
  ++webErrorGeneration;
  visible = true;
  shownText = displayable(text);
  if (label) {
    // Failures are always shown in the error colour, whatever status the label showed before.
    label->remove_css_class("zorvel-secondary");
    label->set_text(shownText);
    label->set_visible(true);
  }
}

void WebErrorLabel::hide() {
  ++webErrorGeneration;
  visible = false;
  if (label) label->set_visible(false);
}

}  // namespace zorvel
