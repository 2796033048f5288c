#pragma once
// The renderer GTK paints windows with. A GL renderer on a software rasterizer (Mesa's llvmpipe:
// virtual machines, remote and virtual displays) cannot repaint part of a window, so every frame,
// a blinking caret's or one echoed letter's, renders the whole window on the CPU and pushes all
// of its pixels to the display: tens of milliseconds each. GTK's Cairo renderer repaints only what
// changed. With hardware GL the GL renderer stays.
#include <gtkmm/application.h>

#include <string_view>

namespace vantrelle {

// Whether an OpenGL renderer string names a software rasterizer.
bool isSoftwareGLRenderer(std::string_view renderer);

// Whether the display's OpenGL is a software rasterizer; asked once.
bool displayGLIsSoftware();

// Unless the user chose a renderer (GSK_RENDERER), has GTK paint the application's windows with
// Cairo when the display's OpenGL is a software rasterizer. Call at start-up, before any window is
// shown; returns whether it chose Cairo. The choice is the application's own: it is not handed on
// to the programs its terminals run.
bool preferCairoOnSoftwareGL(Gtk::Application& application);

}  // namespace vantrelle
