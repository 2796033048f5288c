#pragma once

#include <memory>

#include <glib-object.h>
#include <glib.h>

namespace zorvel {

// Owning handles for the GLib objects the WebKit C API hands out, so no unref appears in
// ordinary code.
struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <class T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorFree {
  void operator()(GError* error) const {
    if (error) g_error_free(error);
  }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;

struct GBytesUnref {
  void operator()(GBytes* bytes) const {
    if (bytes) g_bytes_unref(bytes);
  }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

}  // namespace zorvel
