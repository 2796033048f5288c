#pragma once
// The terminal view: a GTK widget that owns one Terminal and is its delegate. It turns the
// program's output into redraws and the user's actions into bytes for its host
// (TerminalViewDelegate). The class is one, its concerns are spread over files:
//   TerminalView.cpp            construction, the terminal's callbacks, window commands, progress
//   TerminalView+Fonts.cpp      fonts, cell metrics, sizing
//   TerminalView+Colors.cpp     colour mapping and caches
//   AttributedRuns.cpp          a row cut into runs of equal rendition
//   TerminalView+Drawing.cpp    painting rows with Pango and Cairo; BoxDrawing.cpp the shapes
//   TerminalView+Display.cpp    redraw coalescing, dirty rows, the caret's place
//   TerminalView+Scrolling.cpp  scrollback, scroller
//   TerminalView+Bytes.cpp      the program's output fed in, the user's input sent out
//   TerminalView+Focus.cpp      focus, window activity, selection operations
//   TerminalView+Images.cpp     inline images
//   TerminalView+Keyboard.cpp, +TextInput.cpp, +Mouse.cpp, +Links.cpp, +Find.cpp  user input
#include <gtkmm/scrollbar.h>
#include <gtkmm/widget.h>
#include <pango/pango.h>
#include <pangomm/fontdescription.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "Vantrelle/GPU/DrawRecords.h"
#include "Vantrelle/Keyboard/KittyKeyboardEncoder.h"
#include "Vantrelle/Keyboard/LegacyKeyboardEncoder.h"
#include "Vantrelle/Process/DispatchWorkScheduler.h"
#include "Vantrelle/Process/OutputRestWatch.h"
#include "Vantrelle/Render/AttributedRuns.h"
#include "Vantrelle/Render/FontMetrics.h"
#include "Vantrelle/Render/InlineImage.h"
#include "Vantrelle/Render/PixelCanvas.h"
#include "Vantrelle/Render/ViewColor.h"
#include "Vantrelle/Render/ViewGeometry.h"
#include "Vantrelle/Terminal/Terminal.h"
#include "Vantrelle/Text/SearchService.h"
#include "Vantrelle/Text/SelectionService.h"
#include "Vantrelle/View/AccessibilityService.h"
#include "Vantrelle/View/CaretView.h"
#include "Vantrelle/View/DrawingPath.h"
#include "Vantrelle/View/FindBar.h"
#include "Vantrelle/View/FramePacer.h"
#include "Vantrelle/View/InputRecords.h"
#include "Vantrelle/View/TerminalProgressBarView.h"
#include "Vantrelle/View/TerminalViewDelegate.h"
#include "Vantrelle/View/ViewState.h"
#include "platform/CairoPtr.h"

namespace platform {
class DispatchWorkItem;
}

namespace vantrelle {

class TerminalDebugView;
class MetalError;

class TerminalView : public Gtk::Widget, public TerminalDelegate {
 public:
  // Fonts, metrics and the links' highlighting are shared with the GPU renderer.
  using FontSet = vantrelle::FontSet;
  using FontMetrics = vantrelle::FontMetrics;
  using GlyphSlotFit = vantrelle::GlyphSlotFit;
  using LinkHighlightMode = vantrelle::LinkHighlightMode;
  using LinkRowRange = vantrelle::LinkRowRange;
  using AppleImage = InlineImageSlice;

  using LinkReporting = vantrelle::LinkReporting;
  using PendingKittyKeyEvent = vantrelle::PendingKittyKeyEvent;
  using HeldKey = vantrelle::HeldKey;

  // The font is the monospaced default when none is given.
  explicit TerminalView(std::optional<Pango::FontDescription> font = std::nullopt);
  ~TerminalView() override;
  TerminalView(const TerminalView&) = delete;
  TerminalView& operator=(const TerminalView&) = delete;

  Terminal& getTerminal() { return *terminal; }
  bool isUsingMetalRenderer() const { return gpuState.useMetalRenderer; }

  // ---- Fonts, metrics and sizing (TerminalView+Fonts.cpp) ----
  const Pango::FontDescription& font() const { return fontSet.normal; }
  void setFont(const Pango::FontDescription& font);
  bool fontSmoothing() const { return _fontSmoothing; }
  void setFontSmoothing(bool value) { _fontSmoothing = value; }
  double lineSpacing() const { return _lineSpacing; }
  void setLineSpacing(double value);
  void resetFontSize();
  void resetFont();
  ViewSize computeFontDimensions();
  static ViewSize cellSizeFor(const FontMetrics& metrics, double lineSpacing, double scale);
  void resize(int cols, int rows);
  bool processSizeChange(ViewSize newSize);
  ViewRect getOptimalFrameSize() const;
  // The view's size in points as last allocated.
  ViewSize frame() const { return frameSize; }
  ViewRect caretFrame() const;
  // `glyphBounds` is the glyph's ink rectangle with y up from the baseline.
  GlyphSlotFit glyphSlotFit(double advance, ViewRect glyphBounds, int columnWidth) const;
  // The window's scale factor, else the display's primary monitor's, else 1.
  double backingScaleFactor() const;
  const FontMetrics& fontMetrics() const { return metrics; }
  static Pango::FontDescription defaultFont();

  // ---- Colours (TerminalView+Colors.cpp) ----
  ViewColor mapColor(Attribute::Color color, bool isFg, bool isBold, bool useBrightColors);
  void colorsChanged();
  void resetCaches();
  void installColors(std::span<const Color> colors);
  const ViewColor& nativeForegroundColor() const { return runStyle.foreground; }
  const ViewColor& nativeBackgroundColor() const { return runStyle.background; }
  void setNativeForegroundColor(const ViewColor& color);
  void setNativeBackgroundColor(const ViewColor& color);
  void configureNativeColors();
  ViewColor caretColor() const;
  void setCaretColor(const ViewColor& color);
  ViewColor caretTextColor() const;
  void setCaretTextColor(const ViewColor& color);
  const ViewColor& selectedTextBackgroundColor() const { return _selectedTextBackgroundColor; }
  void setSelectedTextBackgroundColor(const ViewColor& color);
  const ViewColor& selectedTextForegroundColor() const { return _selectedTextForegroundColor; }
  void setSelectedTextForegroundColor(const ViewColor& color);
  bool getUseBrightColors() const { return runStyle.useBrightColors; }
  void setUseBrightColors(bool value) { runStyle.useBrightColors = value; }
  bool getCustomBlockGlyphs() const { return customBlockGlyphs; }
  void setCustomBlockGlyphs(bool value);
  bool getAntiAliasCustomBlockGlyphs() const { return antiAliasCustomBlockGlyphs; }
  void setAntiAliasCustomBlockGlyphs(bool value);
  // Marks every row for redraw and queues one.
  void fullRefresh();

  // ---- Attributed runs (TerminalView+Colors.cpp; the cutting itself is in AttributedRuns.cpp) ----
  const RunAttributes& getAttributes(const Attribute& attribute, bool withUrl);
  RunAttributes getAttributedValue(const Attribute& attribute, const ViewColor& usingFg, const ViewColor& andBg);
  std::optional<ColumnRange> selectedColumnsRange(int row, int cols) const;
  // What cutting a row reads of the view now: colours, selection, links and options.
  RowAnalysis rowAnalysis();
  ViewLineInfo buildAttributedString(int row, const BufferLine& line, int cols);
  bool startsWithPlaceholder(const CharData& cell) const;

  // ---- Drawing (TerminalView+Drawing.cpp) ----
  // Paints the rows meeting `dirtyRect` (points, y down) into `context`; `bufferOffset` is the
  // buffer row shown at the top.
  void drawTerminalContents(ViewRect dirtyRect, cairo_t* context, int bufferOffset);
  void drawRunAttributes(const RunAttributes& attributes, std::span<const ViewPoint> glyphPositions, cairo_t* context);
  void drawBlockElements(const std::vector<BlockElementRenderItem>& items, ViewPoint lineOrigin, cairo_t* context);
  void drawBoxDrawings(const std::vector<BoxDrawingRenderItem>& items, ViewPoint lineOrigin, cairo_t* context);
  void drawPowerlineGlyphs(const std::vector<PowerlineRenderItem>& items, ViewPoint lineOrigin,
                           BufferLine::RenderLineMode renderMode, cairo_t* context);
  // One cell of an image shown through placeholder characters.
  void drawPlaceholderCell(const KittyPlaceholderCell& cell,
                           const std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>& placements,
                           std::unordered_map<uint32_t, Cairo::RefPtr<Cairo::ImageSurface>>& images, cairo_t* context,
                           double top, double scale);
  // One cell's text as a row draws it, in the current source; `top` and `baseline` in points.
  void drawCellText(cairo_t* context, const std::string& text, FontFace face, int columnWidth, double top,
                    double baseline);
  // One shaped glyph, tied to the cell of its piece that it belongs to.
  struct ShapedGlyph {
    uint32_t glyph;
    int cell;
    double offsetX;  // from the cell's left edge, before the cell's glyph is fitted into its slot
    double offsetY;
    double advance;  // of the whole cluster, for fitting wide glyphs
  };
  // The fit of a cell's first glyph into its slot, which the other glyphs of its cell (its marks)
  // follow, carried from one shaped item of a piece to the next.
  struct CellFit {
    int cell = -1;
    GlyphSlotFit fit;
    // Whether `glyphs` open with more glyphs of the cell, which must follow its fit.
    bool continuedBy(const std::vector<ShapedGlyph>& glyphs) const {
      return !glyphs.empty() && glyphs.front().cell == cell && fit != GlyphSlotFit{};
    }
  };
  // The vertical extent of the ink drawn for one row, in points (y down); empty until some is added.
  struct InkSpan {
    double top = 0, bottom = 0;
    bool empty = true;
    void add(double inkTop, double inkBottom) {
      if (inkBottom <= inkTop) return;
      top = empty ? inkTop : std::min(top, inkTop);
      bottom = empty ? inkBottom : std::max(bottom, inkBottom);
      empty = false;
    }
  };
  // How many rows a row's ink reaches past its band, above and below.
  struct RowReach {
    uint8_t above = 0, below = 0;
  };
  // What one drawing pass shares between its rows.
  struct DrawingPass {
    PangoContext* pango = nullptr;
    platform::CairoFontOptionsPtr fontOptions;
    double scale = 1;
    // The target's pixels when cells can be painted into them directly; else Cairo paints them.
    std::optional<PixelCanvas> canvas;
    // The rectangle the pass repaints.
    ViewRect dirty;
    std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>> virtualPlacements;
    std::unordered_map<uint32_t, Cairo::RefPtr<Cairo::ImageSurface>> placeholderImages;
    // The images of the line above the row being drawn: their slices may hang into it.
    const TerminalImageList* imagesAbove = nullptr;
    // Where the text of the row being drawn has ink that may reach past its band; none when the
    // row's ink is not measured.
    InkSpan* ink = nullptr;
  };
  // Shaped pieces kept across frames (TerminalView+Drawing.cpp).
  struct ShapeCache;
  void dropShapeCache();
  // Whether plain cells are painted straight into an image surface's pixels (the same pixels as
  // through Cairo, faster); off, every cell goes through Cairo.
  bool paintsCellsDirectly = true;
  // Whether plain ASCII is laid out without the shaper where its face allows; off only to compare.
  bool laysAsciiDirectly = true;
  // Rows laid out by the last drawTerminalContents, for checking that redraws stay small.
  int rowsDrawnInLastPass() const { return lastPassRowCount; }
  // Glyph coverages kept for painting cells directly, made on first use or ahead of it.
  size_t glyphMasksHeld() const;
  // Texts of runs the drawing has shaped so far, rather than found already shaped.
  uint64_t textsShaped() const;
  // Once the view's size has stayed put this long, a run of resizes (a window's edge dragged) is
  // over: what the view keeps for a size no longer shown goes, and so does the memory the resizes
  // freed but the allocator kept (TerminalView+Fonts.cpp).
  static constexpr std::chrono::milliseconds resizesSettleAfter{500};
  // Whether that is still to come, or under way, for the last resize.
  bool resizesSettling() const { return resizesSettle || releasesOfFreedMemory > 0; }
  // The rectangles being painted while a drawing pass runs; empty outside one.
  std::vector<ViewRect> rectsBeingDrawn() const { return drawingRects; }
  // A debugging aid: prints the message and the rectangles being painted to standard output.
  void pending(const std::string& message) const;

  // ---- Display (TerminalView+Display.cpp) ----
  void queuePendingDisplay();
  // Draws output awaiting a frame on each of the display's frames until one comes with none.
  void followFrameClock();
  bool followingFrameClock = false;
  void displayImmediately();
  bool shouldDisplayImmediatelyAfterUserInput();
  // Schedules the redraw for output just fed: at once when it answers the user's typing, spaced
  // out while the user types, coalesced otherwise.
  void displayFedOutput();
  void startEchoFrameNow();
  // A redraw of output that arrived while the user types but does not answer a keystroke.
  void queueDisplayWhileTyping();
  void armDisplayWhileTyping();
  uint64_t displayWhileTypingDue() const;
  // When the redraw of output that came while the user types was queued; 0 when none is.
  uint64_t typingDisplayQueuedNs = 0;
  // Draws output that came while the user types ahead of its spaced frame: when it last did, how
  // long that took, and the least time between two such drawings.
  void drawOutputAheadWhileTyping();
  uint64_t typingDrawnAheadNs = 0, typingDrawAheadTookNs = 0;
  static constexpr uint64_t typingDrawAheadSpacingNs = 4'000'000;
  // Hands the drawing path the rows the terminal changed since the last call; false when none did.
  bool passChangedRowsToPath();
  // When delivery stops for the display's next frame, which draws the output queued for it
  // (monotonic nanoseconds); 0 when no frame is awaited.
  uint64_t nextFrameDueNs();
  // After a frame that ran past the beat GTK starts the next one at once, before output waiting on
  // the main loop gets its turn; delivered now, that frame draws it rather than one a beat later.
  void framePainted();
  // Draws output awaiting the next frame before that frame starts; true when it did, and the
  // delivery of more output should wait for the frame.
  bool drawAheadOfFrame();
  // Delivers output that waits on the main loop, if any, at once.
  virtual void deliverWaitingOutput() {}
  // The frames' times and what was drawn ahead of them (FramePacer.h).
  FramePacer framePacing{[this] { framePainted(); }};
  void updateDisplay(bool notifyAccessibility);
  void updateCursorPosition();
  void snapshotCaret(const Glib::RefPtr<Gtk::Snapshot>& snapshot);
  void queueMetalDisplay();
  TerminalDrawingPath& drawingPath() { return *path; }
  // Replaces the drawing path (the GPU renderer installs its own); nullptr restores Cairo.
  void setDrawingPath(std::unique_ptr<TerminalDrawingPath> newPath);
  bool pendingDisplay = false;
  // How many times updateDisplay has run; for tests of coalescing.
  uint64_t displayCount = 0;
  // Frames in which the drawing path drew the terminal's contents anew rather than reusing the
  // last ones; a blinking caret alone must not add to it.
  uint64_t contentFramesDrawn = 0;

  // ---- GPU drawing path (TerminalView+GPU.cpp) ----
  // Switches the GPU renderer on or off; throws MetalError (and stays as it was) when the
  // renderer cannot be made.
  void setUseMetal(bool value);
  // Builds or tears down the GPU path; building throws MetalError and leaves the view as it was.
  void updateMetalRenderer(bool enabled);
  std::optional<double> metalScaleFactorOverride() const { return gpuState._metalScaleFactorOverride; }
  void setMetalScaleFactorOverride(std::optional<double> value);
  // Builds the GPU path again for the view's current display; on failure logs it and falls back
  // to Cairo for good (until switched on again).
  void rebindMetalRendererToWindow();
  void disableMetalRendererAfterRebindFailure(const MetalError& error);

  // ---- Output fed in, input sent out (TerminalView+Bytes.cpp) ----
  void feed(std::span<const uint8_t> byteArray);
  void feed(const std::string& text);
  void send(std::span<const uint8_t> data);
  void send(const std::string& txt);

  // ---- Scrolling (TerminalView+Scrolling.cpp) ----
  double scrollPosition() const;
  double scrollThumbsize() const;
  bool canScroll() const;
  void scroll(double toPosition);
  void scrollTo(int row, bool notifyAccessibility);
  void scrollUp(int lines);
  void scrollDown(int lines);
  void pageUp();
  void pageDown();
  void ensureCaretIsVisible();
  void changeScrollback(std::optional<int> scrollback);
  void updateScroller();
  void setupScroller();
  // `overlay` lays the scrollbar over the text and shows it only while there is scrollback;
  // `legacy` gives it a strip of its own, always shown, which the grid leaves free.
  enum class ScrollerStyle { legacy, overlay };
  ScrollerStyle scrollerStyle() const { return _scrollerStyle; }
  void setScrollerStyle(ScrollerStyle style);
  // The part of the scrollbar that was used; the scrollbar itself reports only the knob.
  enum class ScrollerPart { noPart, decrementPage, knob, incrementPage, decrementLine, incrementLine, knobSlot };
  void scrollerActivated(ScrollerPart hitPart);
  // The knob's place, 0 at the top of the scrollback and 1 at the bottom.
  double scrollerValue() const;
  void setScrollerValue(double position);
  Gtk::Scrollbar* scrollerWidget() { return scroller.get(); }
  bool userScrolling = false;

  // ---- Focus and window (TerminalView+Focus.cpp) ----
  bool hasFocus() const;
  void setHasFocus(bool value);
  bool caretViewTracksFocus() const;
  void setCaretViewTracksFocus(bool value);
  bool becomeFirstResponder();
  bool resignFirstResponder();
  bool selectionActive() const;
  std::optional<std::string> getSelection() const;
  void selectAll();
  void selectNone();
  // Clears an active selection the way every view operation does: inactive, character mode, no
  // word anchor.
  void deactivateSelection();
  // Repaints the whole view at the next frame.
  void setNeedsDisplay();

  // ---- Images (TerminalView+Images.cpp) ----
  void insertImage(const Cairo::RefPtr<Cairo::ImageSurface>& image, ImageSizeRequest width, ImageSizeRequest height,
                   bool preserveAspectRatio);
  static ViewRect kittyAspectFitRect(ViewSize imageSize, ViewRect rect);
  // The room an image's percentages and a wide bitmap's fitting refer to, in points.
  ViewSize imageArea() const;
  // The whole image stored under a Kitty image id, decoded once per drawing pass.
  Cairo::RefPtr<Cairo::ImageSurface> kittyPlaceholderImage(
      uint32_t imageId, std::unordered_map<uint32_t, Cairo::RefPtr<Cairo::ImageSurface>>& cache);
  // Placeholder images already scaled to the size their placement shows them at, in device
  // pixels, kept across passes with the payload each was made from (held, so that its bytes cannot
  // be freed and a new payload come to share their address).
  struct FittedPlaceholder {
    KittyGraphicsPayload payload;
    Cairo::RefPtr<Cairo::ImageSurface> image;
    KittyPixelSize natural;  // the stored picture's own size
  };
  std::map<std::tuple<uint32_t, int, int>, FittedPlaceholder> fittedPlaceholders;
  // The pixel size of the picture stored under the id, read from its header only when no scaled
  // image of it is kept.
  std::optional<KittyPixelSize> placeholderNaturalSize(uint32_t imageId);
  // The image stored under the id scaled to width x height device pixels, scaled from `decode()`
  // when not kept already; nothing when the size is too large to keep.
  Cairo::RefPtr<Cairo::ImageSurface> fittedPlaceholderImage(
      uint32_t imageId, int width, int height, const std::function<Cairo::RefPtr<Cairo::ImageSurface>()>& decode);
  // Keeps only the scaled images of pictures that virtual placements of the screen still show.
  void pruneFittedPlaceholders(const std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>& shown);
  static Cairo::RefPtr<Cairo::ImageSurface> scaleImage(const Cairo::RefPtr<Cairo::ImageSurface>& image, ViewSize size);
  // RGBA rows, 4 bytes a pixel, straight alpha, into a Cairo surface; nothing for a bad size.
  static Cairo::RefPtr<Cairo::ImageSurface> imageFromRGBA(std::span<const uint8_t> bytes, int width, int height);
  static Cairo::RefPtr<Cairo::ImageSurface> imageFromPNG(std::span<const uint8_t> data);
  // An image file in any format the image loaders read (PNG, JPEG, GIF, ...), or nothing.
  static Cairo::RefPtr<Cairo::ImageSurface> imageFromData(std::span<const uint8_t> data);

  // ---- User input; bodies in the input files ----
  void setupKeyboardInput();  // +Keyboard.cpp
  void setupTextInput();      // +TextInput.cpp
  void setupMouseInput();     // +Mouse.cpp
  void setupLinks();          // +Links.cpp
  void setupFindBar();        // +Find.cpp
  void setupAccessibility();  // +Accessibility.cpp
  // The accessible name: the terminal's title, or a plain name while it has none.
  void updateAccessibleName(const std::string& title);
  static constexpr long maxAccessibleNameLength = 256;
  void startMouseMoveTracking();
  void stopMouseMoveTracking();
  virtual void selectionChanged();
  void updateDebugView();

  // Keyboard (+Keyboard.cpp). Records come from the key controller or from tests.
  using Command = KeyCommand;
  // A key from the keyboard: the view's shortcuts, then the input method, then the terminal.
  // Returns whether the key was taken.
  bool keyPressed(KeyRecord event);
  void keyReleased(KeyRecord event);
  void keyDown(const KeyRecord& event);
  void keyUp(const KeyRecord& event);
  // A modifier key went down (`pressed`) or up.
  void flagsChanged(const KeyRecord& event, bool pressed);
  void doCommand(Command command);
  void interpretKeyEvent(const KeyRecord& event);
  static Bytes applyControlToEventCharacters(const std::string& chars);
  std::optional<KittyFunctionalKey> kittyFunctionalKey(const KeyRecord& event) const;
  std::optional<KittyKeyEvent> kittyTextEvent(const KeyRecord& event, KittyKeyboardEventType eventType,
                                              std::optional<std::string> text) const;

  // Text input (+TextInput.cpp).
  void insertText(const std::string& text, bool isPaste = false);
  void setMarkedText(const std::string& text, int selectedLocation);
  void unmarkText();
  bool hasMarkedText() const { return composition.markedTextStorage.has_value(); }
  std::pair<int64_t, int64_t> selectedRange() const;
  // Ranges over the composition count characters; no composition gives location -1.
  std::pair<int64_t, int64_t> markedRange() const;
  // Part of the composition, clipped to it; nothing outside it.
  std::optional<std::string> attributedSubstring(int64_t location, int64_t length) const;
  // The linear cell index (row x cols + col) under a point of the view.
  int64_t characterIndex(double x, double y) const;
  void paste();
  void copy();
  // The desktop's primary selection: what the mouse selected, pasted with the middle button.
  void publishPrimarySelection();
  void pastePrimary();
  // Valid UTF-8 without control characters: text a key may type as it is.
  static bool isPlainPrintableText(const std::string& text);

  // Mouse (+Mouse.cpp).
  void mouseDown(const MouseRecord& event);
  void mouseUp(const MouseRecord& event);
  void mouseDragged(const MouseRecord& event);
  void mouseMoved(const MouseRecord& event);
  void mouseExited();
  void scrollWheel(const ScrollRecord& event);
  void setScrollSensitivity(double value) { mouseState.scrollSensitivity = std::max(value, 0.05); }
  // Buffer position and pixel position of a point in the view.
  std::pair<Position, Position> calculateMouseHit(double x, double y) const;
  // Moves the end of the selection a drag makes to the cell under the pointer.
  void dragSelectionTo(Position cell);
  // A drag is making the selection. Output does not end it then: with a program printing all the
  // while, the selection would go with each line under the user's hand, and the button let go
  // would find nothing to copy.
  bool selecting() const { return mouseState.didSelectionDrag; }
  void scrollingTimerElapsed();

  // Links (+Links.cpp). Ctrl is the link modifier: it sets `commandActive`.
  using LinkParams = std::map<std::string, std::string>;
  static std::optional<std::pair<std::string, LinkParams>> urlAndParamsFrom(const std::string& payload);
  std::optional<std::string> payloadString(Position position) const;
  std::optional<std::pair<std::string, LinkParams>> linkForClick(Position position, bool hasCommandModifier);
  void updateHoverLink(Position position, std::optional<bool> commandOverride);
  void reportLink(Position position);
  void previewUrl(const std::string& payload, Position at);
  void removeUrlPreview();
  void turnOffUrlPreview();
  void setLinkHighlightMode(LinkHighlightMode mode);
  void commandKeyChanged(bool pressed);

  // Find (+Find.cpp).
  TerminalFindBarView& ensureFindBar();
  void showFindBar(bool prefillSelection);
  void hideFindBar();
  void handleFindBarSearchChanged(const std::string& term);
  void performFind(bool next);
  void setFindPasteboardFromSelection();
  void performFindPanelAction(int tag);
  void performTextFinderAction(int tag);
  // Whether a command is enabled: `action` names it ("copy:", "performFindPanelAction:", ...).
  bool validateUserInterfaceItem(const std::string& action, int tag = 0) const;
  bool findNext(const std::string& term, const SearchOptions& options, bool scrollToResult);
  bool findPrevious(const std::string& term, const SearchOptions& options, bool scrollToResult);
  void clearSearch();
  std::pair<int, int> searchMatchSummary(const std::string& term, const SearchOptions& options, int limit);
  void scrollToReveal(int64_t row);
  // The developer's debug overlay, when one is attached; it registers itself.
  TerminalDebugView* debug = nullptr;

  // ---- TerminalDelegate ----
  void showCursor(Terminal& source) override;
  void hideCursor(Terminal& source) override;
  void setTerminalTitle(Terminal& source, const std::string& title) override;
  std::optional<Bytes> windowCommand(Terminal& source, const WindowManipulationCommand& command) override;
  void sizeChanged(Terminal& source) override;
  void send(Terminal& source, std::span<const uint8_t> data) override;
  void scrolled(Terminal& source, int yDisp) override;
  void linefeed(Terminal& source) override;
  void bufferActivated(Terminal& source) override;
  void synchronizedOutputChanged(Terminal& source, bool active) override;
  void bell(Terminal& source) override;
  void selectionChanged(Terminal& source) override;
  bool isProcessTrusted(Terminal& source) override { return true; }
  std::optional<CellSize> cellSizeInPixels(Terminal& source) override;
  void mouseModeChanged(Terminal& source) override;
  void cursorStyleChanged(Terminal& source, CursorStyle newStyle) override;
  void hostCurrentDirectoryUpdated(Terminal& source) override;
  void colorChanged(Terminal& source, std::optional<int> idx) override;
  void setForegroundColor(Terminal& source, const Color& color) override;
  void setBackgroundColor(Terminal& source, const Color& color) override;
  void setCursorColor(Terminal& source, const std::optional<Color>& color) override;
  void iTermContent(Terminal& source, std::span<const uint8_t> content) override;
  void clipboardCopy(Terminal& source, std::span<const uint8_t> content) override;
  std::optional<Bytes> clipboardRead(Terminal& source) override;
  void progressReport(Terminal& source, const ProgressReport& report) override;
  void createImageFromBitmap(Terminal& source, std::vector<uint8_t>& bytes, int width, int height) override;
  void createImage(Terminal& source, std::span<const uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                   bool preserveAspectRatio) override;

  // The overridable send of what the emulator answers; LocalProcessTerminalView sends it to the
  // child.
  virtual void send(TerminalView& source, std::span<const uint8_t> data);
  void handleProgressReport(const ProgressReport& report);

  // ---- Fields ----
  TerminalViewDelegate* terminalDelegate = nullptr;
  MouseState mouseState;
  KeyState keyState;
  CompositionState composition;
  LinkState linkState;
  FindState findState;
  GpuState gpuState;
  ProgressState progress;
  AccessibilityService accessibility;
  std::unique_ptr<SearchService> search;
  uint64_t lastUserInputUptimeNs = 0;
  // Input was sent and no output has come since; guarded by userInputLock like the time above.
  bool inputAwaitingOutput = false;
  mutable std::mutex userInputLock;
  static constexpr uint64_t interactiveInputDisplayWindowNs = 150'000'000;
  static constexpr uint64_t displayCoalescingNs = FramePacer::assumedFrameIntervalNs;
  // The bound on the wait for a shown view's next frame, after which its timer redraws instead. The
  // clock stamps a run of frames on its beat, up to half an interval ahead of the moment a frame
  // starts, and starts the next one an interval after that stamp.
  static constexpr uint64_t shownDisplayBoundNs = 2 * displayCoalescingNs;
  // While the user types, output that does not answer a keystroke is drawn at most once per two
  // frame intervals, so that the frame clock is often free when the echo of the next key arrives.
  static constexpr uint64_t typingOutputFrameSpacingNs = 2 * displayCoalescingNs;
  static constexpr uint64_t typingOutputLongestWaitNs = 3 * displayCoalescingNs;
  std::optional<ViewSize> cellDimension;
  ChildPtr<CaretView> caretView;
  bool _fontSmoothing = true;
  double _lineSpacing = 1.0;
  std::unique_ptr<Terminal> terminal;
  ChildPtr<Gtk::Scrollbar> scroller;
  std::unique_ptr<SelectionService> selection;
  // The palette, default colours and renditions already turned into run attributes.
  RunStyle runStyle;
  static constexpr size_t attributeCacheLimit = RunStyle::attributeCacheLimit;
  FontSet fontSet;
  bool backspaceSendsControlH = false;
  bool settingFg = false;
  bool settingBg = false;
  bool customBlockGlyphs = true;
  bool antiAliasCustomBlockGlyphs = false;
  ViewColor _selectedTextBackgroundColor{0, 166 / 255.0, 178 / 255.0, 1};
  ViewColor _selectedTextForegroundColor = ViewColor::black();
  ScrollerStyle _scrollerStyle = ScrollerStyle::overlay;
  bool allowMouseReporting = true;
  bool notifyUpdateChanges = false;
  bool _hasFocus = false;
  bool commandActive = false;
  bool optionAsMetaKey = true;
  // Metrics of the normal face, refreshed with the cell size.
  FontMetrics metrics;
  // The scale factor used when the view has no window; tests set it.
  std::optional<double> scaleFactorOverride;

 protected:
  // ---- Gtk::Widget ----
  Gtk::SizeRequestMode get_request_mode_vfunc() const override;
  void measure_vfunc(Gtk::Orientation orientation, int for_size, int& minimum, int& natural, int& minimum_baseline,
                     int& natural_baseline) const override;
  void size_allocate_vfunc(int width, int height, int baseline) override;
  void snapshot_vfunc(const Glib::RefPtr<Gtk::Snapshot>& snapshot) override;
  void root_vfunc() override;
  void unroot_vfunc() override;

 private:
  void removeEventControllers();
  void setup();
  void setupOptions(double width, double height);
  void setupFocusNotification();
  void setupProgressBar();
  void setFrameSize(ViewSize newSize);
  void restartCaretLook();
  void freezeCaret();
  void clearProgressReport();
  void readFontMetrics();
  double scrollerWidth() const;
  int maxScroll() const;
  void windowActiveChanged();
  void keepSelectionOnItsText(int droppedLines);
  // The same for the rows of the link under the pointer and of the one previewed.
  void keepLinkRowsOnTheirText(int droppedLines);
  void showScrolledPosition();
  // A row in two layers, so that the text of each row of a pass lies over the backgrounds of all:
  // its backgrounds and the images below its text, then the rest.
  void drawRowUnder(const BufferLine& line, const ViewLineInfo& info, double top, cairo_t* context, DrawingPass& pass);
  void drawRowOver(const BufferLine& line, const ViewLineInfo& info, double top, cairo_t* context, DrawingPass& pass);
  void drawRowImages(const std::vector<InlineImageSlice*>& hanging, const std::vector<InlineImageSlice*>& own,
                     double top, cairo_t* context, const DrawingPass& pass, bool kittyOffsets);
  void noteRowReach(int screenRow, RowReach before, ViewRect dirtyRect, const InkSpan& ink);
  // Whether the glyphs of a row may reach past its band; whether printable ASCII in `face` does at
  // the pass's scale, measured once.
  bool mayReachPastRow(const ViewLineInfo& info, const DrawingPass& pass);
  bool asciiReachesPastRow(FontFace face, const DrawingPass& pass);
  void drawRowBackgrounds(const ViewLineInfo& info, double top, cairo_t* context, PixelCanvas* canvas);
  // Calls `fill(color, x, y, width, height)` for each rectangle of a row's backgrounds, left to right.
  template <typename Fill>
  void eachBackground(const ViewLineInfo& info, double top, Fill&& fill);
  // Whether the row's backgrounds overwrite every pixel of its band when painted into `canvas`.
  bool backgroundsOverwriteRow(const ViewLineInfo& info, double top, const PixelCanvas* canvas);
  void clearBand(cairo_t* context, double top, double height, const DrawingPass& pass);
  void drawRowText(const ViewLineInfo& info, double baseline, cairo_t* context, DrawingPass& pass);
  bool paintRunAttributes(const RunAttributes& attributes, std::span<const ViewPoint> positions, DrawingPass& pass);
  void drawGlyphItem(PangoFont* font, const std::vector<ShapedGlyph>& glyphs, int firstCol, int columnWidth,
                     double baseline, cairo_t* context, DrawingPass& pass, std::vector<cairo_glyph_t>& batch,
                     CellFit& cellFit, InkSpan* ink = nullptr);
  GlyphSlotFit cellGlyphFit(PangoFont* font, const ShapedGlyph& glyph, int columnWidth) const;
  void drawMissingGlyphBox(cairo_t* context, double left, double top, int columnWidth, double scale);
  void scaleFactorChanged();
  void awaitResizesSettling();
  void resizesSettled();
  void layoutChildren();
  void layoutInputOverlays(int width, int height);
  // The bars floating over the rows (TerminalView+Bars.cpp).
 public:
  bool findBarShown() const;

 private:
  void measureFindBarShapes(int width, int height);
  void fitFindBar(TerminalFindBarView::Shape shape, int width, int height);
  FindBarSights findBarSights() const;
  std::vector<KeepInSight> onScreen(const FindBarSights& sights) const;
  FindBarSpot chooseFindBarSpot(const FindBarSights& sights) const;
  // Where the bar lies whole in its usual corner.
  ViewRect usualFindBarBox() const;
  void addMatchSights(std::vector<KeepInSight>& rows) const;
  void addRangeSights(std::vector<KeepInSight>& rows, Position start, Position end, int weight) const;
  void addCaretLineSights(std::vector<KeepInSight>& rows) const;
  std::optional<std::pair<Position, Position>> selectedMatch() const;
  void placeFindBar();
  void layoutBars(int width, int height);
  void revealMatch(Position start, Position end);
  void placeUrlPreview(int width, int height);
  void showProgress(ProgressReportState state, std::optional<uint8_t> value);
  void updateInputMethodCursorLocation();
  void updateMarkedTextOverlay();
  int encodeMouseEvent(const MouseRecord& event, bool overwriteRelease) const;
  void sharedMouseEvent(const MouseRecord& event);
  bool mouseReportingApplies(const InputModifiers& modifiers) const;
  void startSelectionAutoScrollTimer();
  void stopSelectionAutoScrollTimer();
  bool sendKittyFunctionalKey(KittyFunctionalKey key, KittyKeyboardModifiers modifiers,
                              KittyKeyboardEventType eventType);
  std::optional<Bytes> encodeKitty(const KittyKeyEvent& event) const;
  KittyKeyboardModifiers kittyModifiers(const InputModifiers& modifiers, bool altAlways = false) const;
  bool handleKeyEquivalent(const KeyRecord& event);
  // Key down while the program has set no Kitty keyboard flags: the engine's legacy encoding.
  void legacyKeyDown(const KeyRecord& event);
  // The key as the engine's legacy encoder takes it.
  LegacyKeyEvent legacyKeyEvent(const KeyRecord& event) const;
  LegacyKeyboardEncoder legacyKeyboardEncoder() const;
  void performKeyAction(const LegacyKeyAction& action);
  bool inputMethodFilter(GdkEvent* event);
  void invalidateLinkHighlight(const std::optional<std::vector<LinkRowRange>>& oldRange,
                               const std::optional<std::vector<LinkRowRange>>& newRange);
  void markVisibleRowsDirty();
  std::optional<LinkMatch> linkMatchAt(Position position, bool implicitToo);
  bool pointerIsOnTerminal(double x, double y);
  bool findStep(const std::string& term, const SearchOptions& options, bool scrollToResult, bool forward);
  Position matchEnd(const SearchResult& result) const;
  void searchFromSelection();
  std::optional<SearchSelection> shownMatchPlace() const;
  bool showFindResult(const std::optional<SearchResult>& result, bool scrollToResult);
  void startFindStep(const std::string& term, const SearchOptions& options, bool forward);
  void scheduleFindStep();
  bool continueFindStep();
  void cancelPendingFind();

  ViewSize frameSize;
  // Set while the terminal digests a feed: the lines it scrolls meanwhile are shown once, after it.
  bool feeding = false;
  bool scrolledWhileFeeding = false;
  std::unique_ptr<TerminalDrawingPath> path;
  DispatchWorkScheduler scheduler;
  // Tells the terminal when the program's output rests.
  OutputRestWatch outputRest;
  int lastPassRowCount = 0;
  // How many rows the text of each screen row reaches past its band, as the Cairo path last drew
  // it: a row repainted there has its neighbours' ink drawn over its background again.
  std::vector<RowReach> rowReaches;
  // The rows outside the last pass's rectangle that ink of the rows it repainted reaches, or
  // reached before: they must be repainted too, or they keep ink that is stale or lack ink.
  ViewRect inkBeyondPass;
  std::shared_ptr<ShapeCache> shapeCache;
  std::shared_ptr<platform::DispatchWorkItem> resizesSettle;
  // Releases of freed memory under way off the main thread.
  int releasesOfFreedMemory = 0;
  // The frame-clock callback of a queued redraw, while one is registered.
  guint displayTick = 0;
  // Counts coalesced redraw requests, so that a request's frame callback and its timer run it once.
  uint64_t displayRequest = 0;
  std::vector<ViewRect> drawingRects;
  ScopedConnection windowActiveConnection;
  // Guards closures queued on the main loop against running after the view is gone.
  std::shared_ptr<TerminalView*> lifetime;
  friend class CairoDrawingPath;
};

}  // namespace vantrelle
