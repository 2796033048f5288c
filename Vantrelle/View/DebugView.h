#pragma once
// A developer's overlay listing the raw line slots of a terminal's current buffer with its cursor
// and scroll counters. Constructing one attaches it to the terminal view, which refreshes it on
// every redraw and scroll.
#include <gtkmm/label.h>
#include <gtkmm/widget.h>

#include <string>
#include <vector>

#include "Vantrelle/Buffer/BufferLine.h"

namespace vantrelle {

class Terminal;
class TerminalView;

class TerminalDebugView : public Gtk::Widget {
 public:
  // One listed line: its text and which byte ranges are drawn highlighted.
  struct DebugString {
    struct Run {
      size_t start = 0;
      size_t length = 0;
      bool highlight = false;
    };
    std::string text;
    std::vector<Run> runs;
  };

  explicit TerminalDebugView(TerminalView& terminalView);
  ~TerminalDebugView() override;
  TerminalDebugView(const TerminalDebugView&) = delete;
  TerminalDebugView& operator=(const TerminalDebugView&) = delete;

  void update();
  DebugString getDebugString(const BufferLine* line, int cols, const std::string& prefix, bool hilight) const;
  // The prefix of slot `index`: its number, then D for the display offset and B for the base line.
  std::string slotPrefix(int index) const;
  std::string statusText() const;
  // The view being inspected goes away first.
  void detach() { terminalView = nullptr; }

  TerminalView* terminalView;
  std::string font;
  double height = 10;
  Gtk::Label dbg{"WAITING"};

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  void size_allocate_vfunc(int width, int height, int baseline) override;
};

}  // namespace vantrelle
