#pragma once
// Owning holders for what GLib, GObject and GIO hand out, so no unref or free appears in ordinary
// code. Where gtkmm is used, its Glib::RefPtr is the holder instead.
#include <glib-object.h>
#include <glib.h>

#include <memory>
#include <utility>

namespace platform {

// A full reference to a GObject. A floating one (a GInitiallyUnowned) must be sunk before it is
// held, or the holder releases a reference it never owned.
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

// Text and other blocks from g_malloc.
struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<char, GFree>;
// An array from g_malloc, as a call that hands out a count of items with it.
template <class T>
using GArrayPtr = std::unique_ptr<T[], GFree>;

struct GBytesUnref {
  void operator()(GBytes* bytes) const {
    if (bytes) g_bytes_unref(bytes);
  }
};
using GBytesPtr = std::unique_ptr<GBytes, GBytesUnref>;

// A full reference to a GVariant, such as a call's reply. A floating variant handed to a call
// that takes it is the call's, and is never held here.
struct GVariantUnref {
  void operator()(GVariant* variant) const {
    if (variant) g_variant_unref(variant);
  }
};
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GUriUnref {
  void operator()(GUri* uri) const {
    if (uri) g_uri_unref(uri);
  }
};
using GUriPtr = std::unique_ptr<GUri, GUriUnref>;

struct GMainContextUnref {
  void operator()(GMainContext* context) const {
    if (context) g_main_context_unref(context);
  }
};
using GMainContextPtr = std::unique_ptr<GMainContext, GMainContextUnref>;

struct GMainLoopUnref {
  void operator()(GMainLoop* loop) const {
    if (loop) g_main_loop_unref(loop);
  }
};
using GMainLoopPtr = std::unique_ptr<GMainLoop, GMainLoopUnref>;

struct GDateTimeUnref {
  void operator()(GDateTime* time) const {
    if (time) g_date_time_unref(time);
  }
};
using GDateTimePtr = std::unique_ptr<GDateTime, GDateTimeUnref>;

struct GKeyFileFree {
  void operator()(GKeyFile* file) const {
    if (file) g_key_file_free(file);
  }
};
using GKeyFilePtr = std::unique_ptr<GKeyFile, GKeyFileFree>;

// A reference to a source. Attaching it gives the context a reference of its own, so a source
// made, attached and let go keeps running until its callback removes it.
struct GSourceUnref {
  void operator()(GSource* source) const {
    if (source) g_source_unref(source);
  }
};
using GSourcePtr = std::unique_ptr<GSource, GSourceUnref>;

// A source that lives only as long as its holder: letting go removes it from its context, whether
// or not it has run.
struct GSourceDestroy {
  void operator()(GSource* source) const {
    if (!source) return;
    g_source_destroy(source);
    g_source_unref(source);
  }
};
using AttachedSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

// Lets a call that reports through an out-parameter (GError**, gchar**, ...) fill a holder:
// call(..., out(error)). The holder takes the value when the full expression ends.
template <class Holder>
class OutPtr {
 public:
  explicit OutPtr(Holder& holder) : holder(holder) {}
  ~OutPtr() { holder.reset(raw); }
  OutPtr(const OutPtr&) = delete;
  OutPtr& operator=(const OutPtr&) = delete;
  operator typename Holder::pointer *() { return &raw; }

 private:
  Holder& holder;
  typename Holder::pointer raw = nullptr;
};
template <class Holder>
OutPtr<Holder> out(Holder& holder) {
  return OutPtr<Holder>(holder);
}

// The id of a source attached to the default main context (g_timeout_add, g_idle_add, ...),
// removed when the holder lets go. A callback that ends its own source by returning
// G_SOURCE_REMOVE calls release() first: the id is dead then, and GLib may hand it out again.
class SourceId {
 public:
  SourceId() = default;
  explicit SourceId(guint id) : id(id) {}
  ~SourceId() { reset(); }
  SourceId(SourceId&& other) noexcept : id(other.release()) {}
  SourceId& operator=(SourceId&& other) noexcept {
    reset(other.release());
    return *this;
  }
  SourceId(const SourceId&) = delete;
  SourceId& operator=(const SourceId&) = delete;

  void reset(guint next = 0) {
    if (id) g_source_remove(id);
    id = next;
  }
  guint release() { return std::exchange(id, 0u); }
  guint get() const { return id; }
  explicit operator bool() const { return id != 0; }

 private:
  guint id = 0;
};

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

}  // namespace platform

// The application's code names the holders unqualified, from its own namespace.
namespace zorvel {
using platform::GBytesPtr;
using platform::GCharPtr;
using platform::GErrorPtr;
using platform::GObjectPtr;
using platform::GWeak;
}  // namespace zorvel
