#pragma once

#include <glib-object.h>
#include <glib.h>

#include <memory>

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

namespace zorvel {

// A weak reference to a GObject that can be copied into callbacks and read from any thread.
template <class T>
class GWeak {
 public:
  GWeak() = default;
  explicit GWeak(T* object) : ref(std::make_shared<Ref>(object)) {}
  // A strong reference while the object lives, else null.
  GObjectPtr<T> get() const { return GObjectPtr<T>(ref ? static_cast<T*>(g_weak_ref_get(&ref->weak)) : nullptr); }

 private:
  struct Ref {
    explicit Ref(T* object) { g_weak_ref_init(&weak, object); }
    ~Ref() { g_weak_ref_clear(&weak); }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    GWeakRef weak;
  };
  std::shared_ptr<Ref> ref;
};

}  // namespace zorvel
