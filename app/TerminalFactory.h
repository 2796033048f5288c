#pragma once

#include <memory>

#include "Vantrelle/View/LocalProcessTerminalView.h"
#include "app/MainWindow.h"

namespace zorvel {

// The application's terminal view: the window can switch its mouse reporting while it routes
// the scroll wheel to the program in it.
class TaskTerminalView : public vantrelle::LocalProcessTerminalView, public MouseReportingView {
 public:
  using LocalProcessTerminalView::LocalProcessTerminalView;
  bool allowMouseReporting() const override { return TerminalView::allowMouseReporting; }
  void setAllowMouseReporting(bool allow) override { TerminalView::allowMouseReporting = allow; }
};

// Every terminal the application shows is made here, so they all look and behave alike.
namespace TerminalFactory {

std::shared_ptr<TaskTerminalView> make(vantrelle::LocalProcessTerminalViewDelegate& delegate);

// The text and background colours of the light or dark appearance.
void applyAppearance(vantrelle::TerminalView& view, bool dark);

}  // namespace TerminalFactory

}  // namespace zorvel
