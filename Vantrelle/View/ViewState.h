#pragma once
// The terminal view's state in clusters, each kept by the files of one concern: the pointer, the
// keys, the composition, links, find, the GPU path and the progress report. The holders let go of
// what they own by themselves: timers, child widgets and signal connections.
#include <gtk/gtk.h>
#include <gtkmm/widget.h>
#include <sigc++/connection.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Vantrelle/Buffer/Position.h"
#include "Vantrelle/GPU/DrawRecords.h"
#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Text/SearchService.h"
#include "Vantrelle/View/FindBar.h"
#include "Vantrelle/View/FloatingPlacement.h"
#include "Vantrelle/View/InputRecords.h"
#include "Vantrelle/View/TerminalProgressBarView.h"
#include "platform/Dispatch.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

// A child widget of the view is taken out of the view before it goes.
template <class W>
struct Unparent {
  Unparent() = default;
  template <class U>
  Unparent(std::default_delete<U>) {}  // NOLINT: a plain owner becomes a child's
  void operator()(W* widget) const {
    if (widget->get_parent()) widget->unparent();
    delete widget;
  }
};
template <class W>
using ChildPtr = std::unique_ptr<W, Unparent<W>>;

// A signal connection cut when its holder goes.
class ScopedConnection {
 public:
  ScopedConnection() = default;
  ScopedConnection(const ScopedConnection&) = delete;
  ScopedConnection& operator=(const ScopedConnection&) = delete;
  ~ScopedConnection() { connection.disconnect(); }
  ScopedConnection& operator=(sigc::connection next) {
    connection.disconnect();
    connection = std::move(next);
    return *this;
  }
  void disconnect() { connection.disconnect(); }

 private:
  sigc::connection connection;
};

// The pointer: a drag that selects and its auto-scroll, the wheel, and where the pointer was seen.
struct MouseState {
  int autoScrollDelta = 0;
  std::optional<std::pair<double, double>> lastSelectionDragPoint;
  bool didSelectionDrag = false;
  // Where the button went down, so a drag selects from there even when its first motion lands far off.
  std::optional<Position> selectionPressPosition;
  platform::SourceId selectionAutoScrollTimer;
  bool mouseButtonHeld = false;
  // Where the pointer was last seen over the view, for links under it when Ctrl goes down.
  std::optional<std::pair<double, double>> lastPointerLocation;
  double scrollAccumulator = 0;
  double scrollSensitivity = 1.0;
};

// A Kitty key event waiting for the input method's verdict.
struct PendingKittyKeyEvent {
  KeyRecord event;
  KittyKeyboardEventType eventType = KittyKeyboardEventType::press;
};

// Keys held down, by key code: a release is reported under the name its press had (Num Lock or
// Shift may have changed it since), and a key the view kept for itself is not released either.
struct HeldKey {
  guint keycode = 0;
  guint keyval = 0;
  guint unshiftedKeyval = 0;
  bool kept = false;
};

struct KeyState {
  std::optional<PendingKittyKeyEvent> pendingKittyKeyEvent;
  bool kittyIsComposing = false;
  std::vector<HeldKey> heldKeys;
};

// The input method's composition and the overlay that shows it.
struct CompositionState {
  std::optional<std::string> markedTextStorage;
  int markedSelectedLocation = -1;
  ChildPtr<Gtk::Widget> markedTextOverlay;
  // The input method; owned, released with the view.
  platform::GObjectPtr<GtkIMContext> imContext;
  // Counts the input method's commits: a key it took without a commit or a change of the marked
  // text did nothing.
  uint64_t commits = 0;
};

enum class LinkReporting { none, explicit_, implicit };

// Links: how they are reported and highlighted, the one under the pointer, and its preview.
struct LinkState {
  ChildPtr<Gtk::Widget> urlPreview;
  std::optional<std::string> lastReportedLink;
  LinkReporting linkReporting = LinkReporting::implicit;
  LinkHighlightMode linkHighlightMode = LinkHighlightMode::hoverWithModifier;
  // Per buffer row, the columns of the link under the pointer.
  std::optional<std::vector<LinkRowRange>> linkHighlightRange;
  // Per buffer row, the columns of the link whose target the preview names: the preview keeps off it.
  std::vector<LinkRowRange> previewedLink;
};

struct FindBarSpot {
  TerminalFindBarView::Shape shape = TerminalFindBarView::Shape::whole;
  // The bar's own box, its margins left out, in the view's points.
  ViewRect box;
  bool operator==(const FindBarSpot&) const = default;
};

// What the find bar was last placed to leave in sight: the match and the caret's line, by buffer
// rows so that the user's scrolling alone does not move the bar, and the view's size.
struct FindBarSights {
  std::vector<KeepInSight> rows;
  bool progressShown = false;
  ViewSize frame;
  bool operator==(const FindBarSights&) const = default;
};

struct FindState {
  ChildPtr<TerminalFindBarView> findBar;
  // Where the bar floats and in which shape: whole in the top-right corner unless it would lie
  // there over the match or the line the user types on, then wherever it leaves both in sight.
  FindBarSpot findBarSpot;
  // The bar's box in each shape, measured for the view's size in `placedFor` (none once the bar
  // has been hidden); the spot was chosen for `placedAround`.
  std::vector<std::pair<TerminalFindBarView::Shape, ViewSize>> shapes;
  ViewSize placedFor;
  FindBarSights placedAround;
  std::string findBarTerm;
  SearchOptions findBarOptions;
  // A step through the matches that outlasted its first slice, going on from the main loop, and
  // where the buffer's rows stood when it last ran.
  struct PendingFind {
    SearchStep step;
    bool scrollToResult = false;
    BufferMark mark;
  };
  std::optional<PendingFind> pendingFind;
  platform::SourceId pendingFindSource;
  // The match last shown, and where the buffer's rows stood then: output that ends the selection
  // (a line feed does while mouse reports are allowed) leaves the next step to start from there.
  struct ShownMatch {
    Position start;
    Position end;
    BufferMark mark;
    int cursorRow = 0;
  };
  std::optional<ShownMatch> shownMatch;
  // How long one slice may run: short enough that a key typed meanwhile is not held up.
  std::chrono::microseconds sliceLength = std::chrono::milliseconds(6);
};

struct GpuState {
  bool useMetalRenderer = false;
  // Where the GPU path reads its shaders; unset, from the program's tree or else the build tree.
  std::optional<std::string> shaderDirectory;
  // Each frame's rows in one buffer a layer, one draw each: a flood of output, whose rows are all
  // new in every frame, makes no buffers of its own for them.
  MetalBufferingMode metalBufferingMode = MetalBufferingMode::perFrameAggregated;
  // Buffer lines changed since the GPU path last built its rows.
  std::optional<std::pair<int, int>> metalDirtyRange;
  std::optional<double> _metalScaleFactorOverride;
};

// The progress the program reports, and the timer that clears a report left standing.
struct ProgressState {
  ProgressState() = default;
  ProgressState(const ProgressState&) = delete;
  ProgressState& operator=(const ProgressState&) = delete;
  ~ProgressState() {
    if (progressReportTimer) progressReportTimer->cancel();
  }
  ChildPtr<TerminalProgressBarView> progressBarView;
  std::shared_ptr<platform::DispatchWorkItem> progressReportTimer;
  std::optional<uint8_t> lastProgressValue;
};

}  // namespace vantrelle
