#pragma once
// Text the view puts on the desktop's clipboards.
#include <gdkmm/clipboard.h>

#include <string>

namespace vantrelle {

// Puts `text`, UTF-8, on `clipboard` in the forms GTK's own text offers, as a string for this
// process and as UTF-8 for other programs.
void putTextOnClipboard(Gdk::Clipboard& clipboard, const std::string& text);

}  // namespace vantrelle
