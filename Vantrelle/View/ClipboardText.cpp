// GTK writes text set as a string to another program through a converter stream of its own, which
// it lets go of on the main thread once the text is written. On X11 letting go of it closes the
// stream beneath, and closing waits until the other program has read the whole text; a text
// longer than the server takes in one request goes in pieces that only the main loop hands over,
// so the main loop stopped for good, the first or second time another program pasted a long copy
// (a megabyte of scrollback). The text goes to other programs as its bytes instead, which GTK
// writes into the stream it closes without waiting; the string stays for this process's pastes
// and reads.
#include "Vantrelle/View/ClipboardText.h"

#include <gdkmm/contentprovider.h>
#include <glibmm/bytes.h>
#include <glibmm/value.h>

#include <vector>

namespace vantrelle {

void putTextOnClipboard(Gdk::Clipboard& clipboard, const std::string& text) {
  Glib::Value<Glib::ustring> value;
  value.init(Glib::Value<Glib::ustring>::value_type());
  value.set(text);
  auto bytes = Glib::Bytes::create(text.data(), text.size());
  std::vector<Glib::RefPtr<Gdk::ContentProvider>> providers{
      Gdk::ContentProvider::create(value), Gdk::ContentProvider::create("text/plain;charset=utf-8", bytes)};
  // Plain text is text in the locale's character set: the same bytes where that is UTF-8.
  if (g_get_charset(nullptr)) providers.push_back(Gdk::ContentProvider::create("text/plain", bytes));
  clipboard.set_content(Gdk::ContentProvider::create(providers));
}

}  // namespace vantrelle
