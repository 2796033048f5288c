#include "Vantrelle/View/WindowRenderer.h"

#include <epoxy/gl.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

// The display's OpenGL renderer string, from a context of GTK's own kind, or nothing without GL.
std::optional<std::string> displayGLRenderer() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) return std::nullopt;
  platform::GErrorPtr error;
  platform::GObjectPtr<GdkGLContext> context(gdk_display_create_gl_context(display, platform::out(error)));
  if (!context || !gdk_gl_context_realize(context.get(), platform::out(error))) return std::nullopt;
  gdk_gl_context_make_current(context.get());
  const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  std::optional<std::string> renderer;
  if (name) renderer = name;
  gdk_gl_context_clear_current();
  return renderer;
}

}  // namespace

bool isSoftwareGLRenderer(std::string_view renderer) {
  for (std::string_view software : {"llvmpipe", "softpipe", "Software Rasterizer"}) {
    if (renderer.find(software) != std::string_view::npos) return true;
  }
  return false;
}

bool displayGLIsSoftware() {
  static const bool software = [] {
    auto renderer = displayGLRenderer();
    return renderer && isSoftwareGLRenderer(*renderer);
  }();
  return software;
}

bool preferCairoOnSoftwareGL(Gtk::Application& application) {
  if (const char* chosen = std::getenv("GSK_RENDERER"); chosen && *chosen) return false;
  if (!displayGLIsSoftware()) return false;
  // GTK reads the variable once, when it makes the first window's renderer, which is when that
  // window is realized; after that the variable goes, so that children do not inherit it.
  setenv("GSK_RENDERER", "cairo", 1);
  auto added = std::make_shared<sigc::connection>();
  *added = application.signal_window_added().connect([added](Gtk::Window* window) {
    added->disconnect();
    auto realized = std::make_shared<sigc::connection>();
    *realized = window->signal_realize().connect(
        [realized] {
          realized->disconnect();
          unsetenv("GSK_RENDERER");
        },
        true);
  });
  return true;
}

}  // namespace vantrelle
