#pragma once
// Finding a program's window on an X display, for the benchmarks that drive one from outside.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <sys/types.h>

#include <optional>
#include <string>

namespace viewbench {

inline std::optional<long> windowPid(Display* display, Window window) {
  Atom property = XInternAtom(display, "_NET_WM_PID", True);
  if (property == None) return std::nullopt;
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::optional<long> pid;
  if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after, &data) ==
          Success &&
      data && count == 1) {
    pid = long(*reinterpret_cast<unsigned long*>(data));
  }
  if (data) XFree(data);
  return pid;
}

// The window's title (_NET_WM_NAME), empty while it has none.
inline std::string windowTitle(Display* display, Window window) {
  Atom name = XInternAtom(display, "_NET_WM_NAME", False), utf8 = XInternAtom(display, "UTF8_STRING", False);
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char* data = nullptr;
  std::string title;
  if (XGetWindowProperty(display, window, name, 0, 256, False, utf8, &type, &format, &count, &after, &data) ==
          Success &&
      data) {
    title.assign(reinterpret_cast<char*>(data), count);
  }
  if (data) XFree(data);
  return title;
}

inline Window findWindow(Display* display, pid_t pid) {
  Window root = DefaultRootWindow(display), parent, *children = nullptr;
  unsigned count = 0;
  Window found = 0;
  if (XQueryTree(display, root, &root, &parent, &children, &count)) {
    for (unsigned i = 0; i < count && !found; i++) {
      XWindowAttributes attributes;
      if (windowPid(display, children[i]) == pid && XGetWindowAttributes(display, children[i], &attributes) &&
          attributes.map_state == IsViewable) {
        found = children[i];
      }
    }
  }
  if (children) XFree(children);
  return found;
}

}  // namespace viewbench
