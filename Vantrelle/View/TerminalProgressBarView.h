#pragma once
// A thin strip along the top edge of a terminal that shows the program's progress reports.
#include <gtkmm/widget.h>

#include <cstdint>
#include <optional>

#include "Vantrelle/Terminal/TerminalTypes.h"

namespace vantrelle {

class TerminalProgressBarView : public Gtk::Widget {
 public:
  TerminalProgressBarView();
  // Shows the state and value; `remove` hides the strip.
  void apply(ProgressReportState state, std::optional<uint8_t> value);
  ProgressReportState state = ProgressReportState::remove;
  std::optional<uint8_t> value;

 protected:
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
};

}  // namespace vantrelle
