// Inline images: Sixel bitmaps and image files from the program become slices of one text row
// each, attached to buffer lines below the cursor.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "Vantrelle/Graphics/KittyGraphics.h"
#include "Vantrelle/View/TerminalView+Images.h"
#include "platform/GLibPtr.h"

namespace vantrelle {

namespace {

// Programs choose image sizes: an image whose slices would take more is refused.
constexpr double kMaximumSliceBytes = 256e6;  // all slices of one image together

}  // namespace

void drawImage(const TerminalView::AppleImage& image, cairo_t* cr, double top, double scale, bool kittyOffsets,
               ViewSize cell, double bandTop) {
  if (!image.image || image.width <= 0 || image.height <= 0) return;
  int pw = image.image->get_width(), ph = image.image->get_height();
  if (pw <= 0 || ph <= 0) return;
  ViewRect rect = slicePlacement(image, cell, scale, kittyOffsets);
  rect.y += top;
  double clipTop = std::max(rect.y, bandTop), clipBottom = std::min(rect.maxY(), bandTop + cell.height);
  if (clipBottom <= clipTop) return;
  cairo_save(cr);
  cairo_rectangle(cr, rect.x, clipTop, rect.width, clipBottom - clipTop);
  cairo_clip(cr);
  cairo_translate(cr, rect.x, rect.y);
  cairo_scale(cr, rect.width / pw, rect.height / ph);
  cairo_set_source_surface(cr, image.image->cobj(), 0, 0);
  // Padding keeps scaled edges from fading into transparency.
  cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_PAD);
  cairo_paint(cr);
  cairo_restore(cr);
}

Cairo::RefPtr<Cairo::ImageSurface> TerminalView::imageFromRGBA(std::span<const uint8_t> bytes, int width, int height) {
  return vantrelle::imageFromRGBA(bytes, width, height);
}

Cairo::RefPtr<Cairo::ImageSurface> TerminalView::imageFromPNG(std::span<const uint8_t> data) {
  return vantrelle::imageFromPNG(data);
}

Cairo::RefPtr<Cairo::ImageSurface> TerminalView::imageFromData(std::span<const uint8_t> data) {
  static constexpr uint8_t pngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (data.size() >= 8 && std::equal(pngSignature, pngSignature + 8, data.begin())) return imageFromPNG(data);
  platform::GObjectPtr<GdkPixbufLoader> held(gdk_pixbuf_loader_new());
  GdkPixbufLoader* loader = held.get();
  // The size is known before any pixel is decoded: an oversized image is shrunk to a single
  // pixel for the loader and then refused.
  bool tooLarge = false;
  g_signal_connect(
      loader, "size-prepared", G_CALLBACK(+[](GdkPixbufLoader* l, int width, int height, gpointer flag) {
        if (width > kMaximumImageSide || height > kMaximumImageSide || double(width) * height > kMaximumImagePixels) {
          *static_cast<bool*>(flag) = true;
          gdk_pixbuf_loader_set_size(l, 1, 1);
        }
      }),
      &tooLarge);
  bool ok = gdk_pixbuf_loader_write(loader, data.data(), data.size(), nullptr);
  ok = gdk_pixbuf_loader_close(loader, nullptr) && ok;
  Cairo::RefPtr<Cairo::ImageSurface> result;
  GdkPixbuf* pixbuf = ok && !tooLarge ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf) {
    platform::GObjectPtr<GdkPixbuf> rgba(gdk_pixbuf_add_alpha(pixbuf, false, 0, 0, 0));
    if (rgba) {
      int width = gdk_pixbuf_get_width(rgba.get()), height = gdk_pixbuf_get_height(rgba.get());
      int stride = gdk_pixbuf_get_rowstride(rgba.get());
      const uint8_t* pixels = gdk_pixbuf_read_pixels(rgba.get());
      std::vector<uint8_t> packed(size_t(width) * height * 4);
      for (int y = 0; y < height; y++) {
        std::copy_n(pixels + size_t(y) * stride, size_t(width) * 4, packed.data() + size_t(y) * width * 4);
      }
      result = imageFromRGBA(packed, width, height);
    }
  }
  return result;
}

Cairo::RefPtr<Cairo::ImageSurface> TerminalView::scaleImage(const Cairo::RefPtr<Cairo::ImageSurface>& image,
                                                            ViewSize size) {
  int w = std::max(int(size.width), 1), h = std::max(int(size.height), 1);
  auto result = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, w, h);
  double sw = image->get_width(), sh = image->get_height();
  if (sw <= 0 || sh <= 0) return result;
  double factor = std::min(size.width / sw, size.height / sh);
  double dw = sw * factor, dh = sh * factor;
  auto cr = Cairo::Context::create(result);
  cr->translate((size.width - dw) / 2, (size.height - dh) / 2);
  cr->scale(factor, factor);
  cr->set_source(image, 0, 0);
  cairo_pattern_set_extend(cairo_get_source(cr->cobj()), CAIRO_EXTEND_PAD);
  cr->rectangle(0, 0, sw, sh);
  cr->clip();
  cr->set_operator(Cairo::Context::Operator::SOURCE);
  cr->paint();
  return result;
}

ViewRect TerminalView::kittyAspectFitRect(ViewSize imageSize, ViewRect rect) {
  if (imageSize.width <= 0 || imageSize.height <= 0 || rect.width <= 0 || rect.height <= 0) return rect;
  double factor = std::min(rect.width / imageSize.width, rect.height / imageSize.height);
  double w = imageSize.width * factor, h = imageSize.height * factor;
  return {rect.x + (rect.width - w) / 2, rect.y + (rect.height - h) / 2, w, h};
}

void TerminalView::createImageFromBitmap(Terminal&, std::vector<uint8_t>& bytes, int width, int height) {
  auto image = imageFromRGBA(bytes, width, height);
  if (!image) return;
  if (const auto& context = terminal->kittyPlacementContext) {
    insertImage(image, context->widthRequest, context->heightRequest, context->preserveAspectRatio);
    return;
  }
  ImageSizeRequest automatic;
  ImageSizeRequest w = imageArea().width < width ? ImageSizeRequest{ImageSizeRequest::Kind::percent, 100} : automatic;
  insertImage(image, w, automatic, true);
}

// Before its first layout the view has no frame, yet a program may already send images: they take
// the grid the terminal was made with, which the first layout then reflows like any text.
ViewSize TerminalView::imageArea() const {
  if (frameSize.width > 0 && frameSize.height > 0) {
    return {std::max(frameSize.width - scrollerWidth(), 0.0), frameSize.height};
  }
  if (!cellDimension) return {};
  return {cellDimension->width * terminal->cols, cellDimension->height * terminal->rows};
}

Cairo::RefPtr<Cairo::ImageSurface> TerminalView::kittyPlaceholderImage(
    uint32_t imageId, std::unordered_map<uint32_t, Cairo::RefPtr<Cairo::ImageSurface>>& cache) {
  if (auto it = cache.find(imageId); it != cache.end()) return it->second;
  const auto& images = terminal->kittyGraphicsState.imagesById;
  auto found = images.find(imageId);
  if (found == images.end()) return {};
  const KittyGraphicsPayload& payload = found->second.payload;
  Cairo::RefPtr<Cairo::ImageSurface> image = payload.isPng()
                                                 ? imageFromPNG(payload.bytes())
                                                 : imageFromRGBA(payload.bytes(), payload.width(), payload.height());
  if (!image) return {};
  cache.emplace(imageId, image);
  return image;
}

namespace {
// Scaled placeholder images past this many pixels are not kept: a placement may ask for any size.
constexpr int64_t kMaximumFittedPixels = 16 << 20;
// Nor more than this many of them, whatever their placements ask.
constexpr size_t kMaximumFittedImages = 16;

// The same payload, not merely equal bytes: an image sent again is a new payload.
bool samePayload(const KittyGraphicsPayload& a, const KittyGraphicsPayload& b) {
  return a.bytes().data() == b.bytes().data() && a.bytes().size() == b.bytes().size() && a.kind() == b.kind() &&
         a.width() == b.width() && a.height() == b.height();
}
}  // namespace

// Scaling a large picture down is most of the cost of painting it: done for every placeholder
// cell of every pass, a photo shown through placeholders cost each redraw of its rows (typing,
// scrolling, any output) tens of milliseconds. It is scaled once to its placement's size instead.
Cairo::RefPtr<Cairo::ImageSurface> TerminalView::fittedPlaceholderImage(
    uint32_t imageId, int width, int height, const std::function<Cairo::RefPtr<Cairo::ImageSurface>()>& decode) {
  if (width < 1 || height < 1 || int64_t(width) * height > kMaximumFittedPixels) return {};
  const auto& images = terminal->kittyGraphicsState.imagesById;
  auto stored = images.find(imageId);
  if (stored == images.end()) return {};
  auto key = std::tuple{imageId, width, height};
  if (auto kept = fittedPlaceholders.find(key);
      kept != fittedPlaceholders.end() && samePayload(kept->second.payload, stored->second.payload)) {
    return kept->second.image;
  }
  auto image = decode();
  if (!image) return {};
  auto fitted = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, width, height);
  auto cr = Cairo::Context::create(fitted);
  cr->scale(double(width) / image->get_width(), double(height) / image->get_height());
  cr->set_source(image, 0, 0);
  cairo_pattern_set_extend(cairo_get_source(cr->cobj()), CAIRO_EXTEND_PAD);
  cr->set_operator(Cairo::Context::Operator::SOURCE);
  cr->paint();
  if (fittedPlaceholders.size() >= kMaximumFittedImages) fittedPlaceholders.clear();
  fittedPlaceholders.insert_or_assign(
      key, FittedPlaceholder{stored->second.payload, fitted, KittyPixelSize{image->get_width(), image->get_height()}});
  return fitted;
}

std::optional<KittyPixelSize> TerminalView::placeholderNaturalSize(uint32_t imageId) {
  const auto& images = terminal->kittyGraphicsState.imagesById;
  auto stored = images.find(imageId);
  if (stored == images.end()) return std::nullopt;
  const KittyGraphicsPayload& payload = stored->second.payload;
  auto kept = fittedPlaceholders.lower_bound({imageId, INT_MIN, INT_MIN});
  if (kept != fittedPlaceholders.end() && std::get<0>(kept->first) == imageId &&
      samePayload(kept->second.payload, payload)) {
    return kept->second.natural;
  }
  if (payload.isPng()) return kittyPngPixelSize(payload.bytes());
  return KittyPixelSize{payload.width(), payload.height()};
}

void TerminalView::pruneFittedPlaceholders(
    const std::unordered_map<uint32_t, std::vector<const KittyPlacementRecord*>>& shown) {
  const auto& images = terminal->kittyGraphicsState.imagesById;
  std::erase_if(fittedPlaceholders, [&](const auto& entry) {
    uint32_t id = std::get<0>(entry.first);
    auto stored = images.find(id);
    return !shown.contains(id) || stored == images.end() || !samePayload(entry.second.payload, stored->second.payload);
  });
}

void TerminalView::createImage(Terminal&, std::span<const uint8_t> data, ImageSizeRequest width,
                               ImageSizeRequest height, bool preserveAspectRatio) {
  auto image = imageFromData(data);
  if (!image) return;
  insertImage(image, width, height, preserveAspectRatio);
}

namespace {
// A program that redraws an image in place (an animation, a picture of progress) would otherwise
// pile up slices on the same lines, each painted on every frame and none ever freed.
void dropHiddenSlices(Buffer& buffer, int lineIndex, const TerminalView::AppleImage& newer, double cellWidth) {
  auto& lines = buffer.lines();
  if (lineIndex < 0 || lineIndex >= lines.count()) return;
  BufferLine& line = *lines[lineIndex];
  if (!line.images()) return;
  TerminalImageList kept;
  for (const auto& image : *line.images()) {
    auto* older = dynamic_cast<const TerminalView::AppleImage*>(image.get());
    if (!older || !hidesSlice(newer, *older, cellWidth)) kept.push_back(image);
  }
  if (kept.size() == line.images()->size()) return;
  if (kept.empty()) {
    buffer.clearImagesFromLine(lineIndex);
  } else {
    line.setImages(std::move(kept));
  }
}

// Cells that a length covers, a part of one counted whole; a hair over a whole number of cells
// (rounding of the size requests) does not add one.
int coveredCells(double length, double cell) { return int(std::ceil(length / cell - 1e-6)); }

double requestedLength(ImageSizeRequest request, double cell, double frame, double natural, double scale) {
  switch (request.kind) {
    case ImageSizeRequest::Kind::cells:
      return double(request.value) * cell;
    case ImageSizeRequest::Kind::pixels:
      return double(request.value);
    case ImageSizeRequest::Kind::percent:
      return double(request.value) * 0.01 * frame;
    case ImageSizeRequest::Kind::automatic:
      return natural / scale;
  }
  return natural / scale;
}
}  // namespace

void TerminalView::insertImage(const Cairo::RefPtr<Cairo::ImageSurface>& source, ImageSizeRequest widthRequest,
                               ImageSizeRequest heightRequest, bool preserveAspectRatio) {
  if (!source || !cellDimension) return;
  double scale = get_root() ? double(get_scale_factor()) : scaleFactorOverride.value_or(1.0);
  double naturalW = source->get_width(), naturalH = source->get_height();
  if (naturalW <= 0 || naturalH <= 0) return;
  const double cw = cellDimension->width, ch = cellDimension->height;
  ViewSize area = imageArea();
  double width = requestedLength(widthRequest, cw, area.width, naturalW, scale);
  double height = requestedLength(heightRequest, ch, area.height, naturalH, scale);
  using Kind = ImageSizeRequest::Kind;
  Cairo::RefPtr<Cairo::ImageSurface> image = source;
  bool autoW = widthRequest.kind == Kind::automatic, autoH = heightRequest.kind == Kind::automatic;
  if (preserveAspectRatio) {
    if (autoH && !autoW) height = width * naturalH / naturalW;
    if (autoW && !autoH) width = height * naturalW / naturalH;
  }
  // A program may ask for any size: keep slices within what can be allocated and drawn.
  if (!(width > 0) || !(height > 0) || width > kMaximumImageSide || height > kMaximumImageSide) return;
  if (preserveAspectRatio && !autoW && !autoH) image = scaleImage(source, {width, height});
  // The last row or column may be covered only in part; it is still the image's.
  int rows = coveredCells(height, ch);
  int cols = coveredCells(width, cw);
  if (double(std::max(int(width * scale), 1)) * std::max(int(ch * scale), 1) * 4 * rows > kMaximumSliceBytes) return;
  Buffer& buffer = *terminal->buffer;
  int startX = buffer.x;
  int64_t startRow = int64_t(buffer.y) + buffer.yBase;
  const uint64_t droppedAtStart = buffer.linesDropped;
  const std::optional<KittyPlacementContext>& kitty = terminal->kittyPlacementContext;
  if (kitty) recordKittyPlacement(*terminal, *kitty, startX, startRow, cols, rows);
  bool moved = false;
  double srcW = image->get_width(), srcH = image->get_height();
  double sliceH = srcH / height * ch;
  int sliceWpx = std::max(int(width * scale), 1), sliceHpx = std::max(int(ch * scale), 1);
  for (int i = 0; i < rows; i++) {
    auto slice = Cairo::ImageSurface::create(Cairo::Surface::Format::ARGB32, sliceWpx, sliceHpx);
    auto cr = Cairo::Context::create(slice);
    cr->scale(sliceWpx / srcW, sliceHpx / sliceH);
    cr->set_source(image, 0, -sliceH * i);
    cairo_pattern_set_extend(cairo_get_source(cr->cobj()), CAIRO_EXTEND_PAD);
    // The last slice shows the image's remaining rows; the rest of its cell stays clear.
    cr->rectangle(0, -sliceH * i, srcW, srcH);
    cr->clip();
    cr->set_operator(Cairo::Context::Operator::SOURCE);
    cr->paint();
    auto piece = std::make_shared<AppleImage>(slice, int(width), int(ch), buffer.x);
    if (kitty) {
      piece->kittyIsKitty = true;
      piece->kittyImageId = kitty->imageId;
      piece->kittyImageNumber = kitty->imageNumber;
      piece->kittyPlacementId = kitty->placementId;
      piece->kittyZIndex = kitty->zIndex;
      piece->kittyCol = startX;
      piece->kittyRow = startRow;
      piece->kittyRowInPlacement = i;
      piece->kittyCols = cols;
      piece->kittyRows = rows;
      piece->kittyPixelOffsetX = kitty->pixelOffsetX;
      piece->kittyPixelOffsetY = kitty->pixelOffsetY;
    }
    dropHiddenSlices(buffer, buffer.y + buffer.yBase, *piece, cw);
    attachImage(*terminal, buffer, piece, buffer.y + buffer.yBase);
    terminal->updateRange(buffer.y, false);
    int oldY = buffer.y, oldBase = buffer.yBase;
    const uint64_t oldDropped = buffer.linesDropped;
    terminal->cmdLineFeedBasic();
    buffer.x = startX;
    // A full ring scrolls with the screen's base where it was.
    if (buffer.y != oldY || buffer.yBase != oldBase || buffer.linesDropped != oldDropped) moved = true;
  }
  if (moved) {
    terminal->refreshStart = 0;
    terminal->refreshEnd = terminal->rows;
    terminal->scrollInvariantRefreshStart = buffer.yDisp;
    terminal->scrollInvariantRefreshEnd = buffer.yDisp + terminal->rows;
  }
  // A Kitty image that moves the cursor leaves it just right of the image on its last row.
  if (kitty && kitty->cursorPolicy == 0 && !kitty->isRelative) {
    buffer.x = startX + std::max(cols, 1);
    // A full ring moved the first row up an index for every line feed that scrolled it.
    const int64_t firstRow = startRow - int64_t(buffer.linesDropped - droppedAtStart);
    buffer.y = int(firstRow + std::max(rows, 1) - buffer.yBase);
    terminal->restrictCursor();
  }
}

}  // namespace vantrelle
