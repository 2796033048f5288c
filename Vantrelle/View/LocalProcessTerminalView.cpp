#include "Vantrelle/View/LocalProcessTerminalView.h"

#include <gdkmm/clipboard.h>
#include <gdkmm/contentprovider.h>
#include <glibmm/value.h>

#include <algorithm>
#include <cmath>

#include "Vantrelle/View/ClipboardText.h"

namespace vantrelle {

namespace {
uint16_t winsizeField(double value) {
  if (!(value > 0)) return 0;
  return uint16_t(std::min(value, 65535.0));
}
}  // namespace

winsize windowSizeFor(int cols, int rows, ViewSize cell, double scale) {
  winsize size{};
  size.ws_row = winsizeField(rows);
  size.ws_col = winsizeField(cols);
  size.ws_xpixel = winsizeField(std::trunc(scale * cell.width * cols));
  size.ws_ypixel = winsizeField(std::trunc(scale * cell.height * rows));
  return size;
}

LocalProcessTerminalView::LocalProcessTerminalView(std::optional<Pango::FontDescription> font)
    : Glib::ObjectBase("VantrelleLocalProcessTerminalView"),
      TerminalView(std::move(font)),
      selfHandle(static_cast<LocalProcessDelegate*>(this), [](LocalProcessDelegate*) {}) {
  terminalDelegate = this;
  process = std::make_shared<LocalProcess>(selfHandle);
  // Taken out of its window before it was ever laid out: the child starts at the grid it has.
  signal_unmap().connect([this] { startPendingProcess(); });
}

LocalProcessTerminalView::~LocalProcessTerminalView() {
  process->setDelegate({});
  selfHandle.reset();
  terminalDelegate = nullptr;
}

void LocalProcessTerminalView::startProcess(const std::string& executable, const std::vector<std::string>& args,
                                            const std::optional<std::vector<std::string>>& environment,
                                            const std::optional<std::string>& execName,
                                            const std::optional<std::string>& currentDirectory) {
  if (process->running() || pendingStart) return;
  pendingStart = StartRequest{executable, args, environment, execName, currentDirectory};
  // Outside any window no layout is coming.
  if (laidOut || !get_root()) startPendingProcess();
}

void LocalProcessTerminalView::startPendingProcess() {
  if (!pendingStart) return;
  StartRequest request = std::move(*pendingStart);
  pendingStart.reset();
  process->startProcess(request.executable, request.args, request.environment, request.execName,
                        request.currentDirectory);
}

void LocalProcessTerminalView::size_allocate_vfunc(int width, int height, int baseline) {
  TerminalView::size_allocate_vfunc(width, height, baseline);
  if (width <= 0 || height <= 0) return;
  laidOut = true;
  startPendingProcess();
}

void LocalProcessTerminalView::terminate() {
  pendingStart.reset();
  process->terminate();
}

void LocalProcessTerminalView::setHostLogging(std::optional<std::string> directory) {
  process->setHostLogging(std::move(directory));
}

void LocalProcessTerminalView::sizeChanged(TerminalView&, int newCols, int newRows) {
  if (!process->running()) return;
  process->setWindowSize(getWindowSize());
  if (processDelegate) processDelegate->sizeChanged(*this, newCols, newRows);
}

void LocalProcessTerminalView::setTerminalTitle(TerminalView&, const std::string& title) {
  if (processDelegate) processDelegate->setTerminalTitle(*this, title);
}

void LocalProcessTerminalView::hostCurrentDirectoryUpdate(TerminalView&, const std::optional<std::string>& directory) {
  if (processDelegate) processDelegate->hostCurrentDirectoryUpdate(*this, directory);
}

void LocalProcessTerminalView::send(TerminalView&, std::span<const uint8_t> data) { process->send(data); }

void LocalProcessTerminalView::sendReply(TerminalView&, std::span<const uint8_t> data) { process->sendReply(data); }

void LocalProcessTerminalView::requestOpenLink(TerminalView& source, const std::string& link,
                                               const std::map<std::string, std::string>& params) {
  TerminalViewDelegate::requestOpenLink(source, link, params);
}

void LocalProcessTerminalView::clipboardCopy(TerminalView&, std::span<const uint8_t> content) {
  std::string text(content.begin(), content.end());
  if (!g_utf8_validate(text.data(), gssize(text.size()), nullptr)) return;
  putTextOnClipboard(*get_clipboard(), text);
}

std::optional<std::vector<uint8_t>> LocalProcessTerminalView::clipboardRead(TerminalView&) {
  // Reading another application's clipboard is asynchronous under GTK; the terminal asks
  // synchronously, so only text this process placed there can be answered.
  auto clipboard = get_clipboard();
  if (!clipboard->is_local()) return std::nullopt;
  auto provider = clipboard->get_content();
  if (!provider) return std::nullopt;
  Glib::Value<Glib::ustring> value;
  value.init(Glib::Value<Glib::ustring>::value_type());
  try {
    provider->get_value(value);
  } catch (const Glib::Error&) {
    return std::nullopt;
  }
  std::string text = value.get();
  return std::vector<uint8_t>(text.begin(), text.end());
}

void LocalProcessTerminalView::processTerminated(LocalProcess&, std::optional<int32_t> exitCode) {
  if (processDelegate) processDelegate->processTerminated(*this, exitCode);
}

void LocalProcessTerminalView::dataReceived(std::span<const uint8_t> slice) { feed(slice); }

winsize LocalProcessTerminalView::getWindowSize() {
  ViewSize cell = cellDimension.value_or(ViewSize{0, 0});
  double scale = get_root() ? double(get_scale_factor()) : backingScaleFactor();
  return windowSizeFor(terminal->cols, terminal->rows, cell, scale);
}

}  // namespace vantrelle
