#include "app/TerminalFactory.h"

#include <exception>

namespace zorvel::TerminalFactory {

namespace {

constexpr vantrelle::ViewColor accentColor{0.208, 0.518, 0.894};

}  // namespace

void applyAppearance(vantrelle::TerminalView& view, bool dark) {
  if (dark) {
    view.setNativeForegroundColor({0.92, 0.92, 0.92});
    view.setNativeBackgroundColor({0.075, 0.075, 0.075});
  } else {
    view.setNativeForegroundColor({0.1, 0.1, 0.1});
    view.setNativeBackgroundColor({1.0, 1.0, 1.0});
  }
  view.setCaretTextColor(view.nativeBackgroundColor());
}

std::shared_ptr<TaskTerminalView> make(vantrelle::LocalProcessTerminalViewDelegate& delegate) {
  auto view = std::make_shared<TaskTerminalView>(Pango::FontDescription("Monospace 13"));
  view->set_hexpand(true);
  view->set_vexpand(true);
  // The scroll bar is never shown; the wheel and the keys still scroll.
  if (auto* scroller = view->scrollerWidget()) scroller->set_visible(false);
  applyAppearance(*view, true);
  view->setUseBrightColors(true);
  view->setCaretColor(accentColor);
  view->optionAsMetaKey = true;
  view->setAllowMouseReporting(false);
  view->processDelegate = &delegate;
  // The application's terminals draw with Cairo; a renderer that cannot be switched off is no
  // reason to lose the terminal.
  try {
    view->setUseMetal(false);
  } catch (const std::exception&) {
  }
  return view;
}

}  // namespace zorvel::TerminalFactory
