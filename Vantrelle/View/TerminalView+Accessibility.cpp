// What assistive technologies learn of the view: that it is a terminal, and its title.
#include <gtk/gtk.h>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

namespace {

// GTK names terminals a role of their own from 4.14 on; before, the nearest is a multi-line text
// box that takes typed input.
constexpr GtkAccessibleRole terminalRole() {
#if GTK_CHECK_VERSION(4, 14, 0)
  return GTK_ACCESSIBLE_ROLE_TERMINAL;
#else
  return GTK_ACCESSIBLE_ROLE_TEXT_BOX;
#endif
}

constexpr const char* untitledName = "Terminal";

}  // namespace

// The role can be set only before the accessible object is first asked for, so here, at construction.
void TerminalView::setupAccessibility() {
  g_object_set(gobj(), "accessible-role", terminalRole(), nullptr);
  gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_MULTI_LINE, TRUE, -1);
  updateAccessibleName({});
  // The caret is drawing, not an object of its own: where the cursor is belongs to the terminal.
  if (caretView) gtk_accessible_update_state(GTK_ACCESSIBLE(caretView->gobj()), GTK_ACCESSIBLE_STATE_HIDDEN, TRUE, -1);
}

void TerminalView::updateAccessibleName(const std::string& title) {
  // A title from the program may be anything; only valid text of a sensible length is read out.
  std::string name = title;
  if (!g_utf8_validate(name.data(), gssize(name.size()), nullptr)) name.clear();
  if (g_utf8_strlen(name.data(), gssize(name.size())) > maxAccessibleNameLength) {
    name.resize(size_t(g_utf8_offset_to_pointer(name.data(), maxAccessibleNameLength) - name.data()));
  }
  if (name.empty()) name = untitledName;
  gtk_accessible_update_property(GTK_ACCESSIBLE(gobj()), GTK_ACCESSIBLE_PROPERTY_LABEL, name.c_str(), -1);
}

}  // namespace vantrelle
