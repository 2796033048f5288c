#pragma once
// The terminal view joined to a child process on a pseudo-terminal: its own host (what the
// terminal sends goes to the child) and the process's delegate (the child's output is fed to the
// terminal). Its owner starts and stops the child and hears of it through the delegate below.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Vantrelle/Process/LocalProcess.h"
#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

class LocalProcessTerminalView;

class LocalProcessTerminalViewDelegate {
 public:
  virtual ~LocalProcessTerminalViewDelegate() = default;
  virtual void sizeChanged(LocalProcessTerminalView& source, int newCols, int newRows) = 0;
  virtual void setTerminalTitle(LocalProcessTerminalView& source, const std::string& title) = 0;
  virtual void hostCurrentDirectoryUpdate(TerminalView& source, const std::optional<std::string>& directory) = 0;
  // The raw wait status, not decoded.
  virtual void processTerminated(TerminalView& source, std::optional<int32_t> exitCode) = 0;
};

class LocalProcessTerminalView : public TerminalView, public TerminalViewDelegate, public LocalProcessDelegate {
 public:
  explicit LocalProcessTerminalView(std::optional<Pango::FontDescription> font = std::nullopt);
  ~LocalProcessTerminalView() override;

  // A view already in a window that has not laid it out yet starts the child once it has its
  // size, so that the child's first look at its terminal finds the grid it is shown at.
  virtual void startProcess(const std::string& executable = "/bin/bash", const std::vector<std::string>& args = {},
                            const std::optional<std::vector<std::string>>& environment = std::nullopt,
                            const std::optional<std::string>& execName = std::nullopt,
                            const std::optional<std::string>& currentDirectory = std::nullopt);
  virtual void terminate();
  virtual void setHostLogging(std::optional<std::string> directory);

  // TerminalViewDelegate
  void sizeChanged(TerminalView& source, int newCols, int newRows) override;
  void setTerminalTitle(TerminalView& source, const std::string& title) override;
  void hostCurrentDirectoryUpdate(TerminalView& source, const std::optional<std::string>& directory) override;
  void send(TerminalView& source, std::span<const uint8_t> data) override;
  void sendReply(TerminalView& source, std::span<const uint8_t> data) override;
  void scrolled(TerminalView& source, double position) override {}
  void rangeChanged(TerminalView& source, int startY, int endY) override {}
  void requestOpenLink(TerminalView& source, const std::string& link,
                       const std::map<std::string, std::string>& params) override;
  void clipboardCopy(TerminalView& source, std::span<const uint8_t> content) override;
  std::optional<std::vector<uint8_t>> clipboardRead(TerminalView& source) override;

  // LocalProcessDelegate
  void processTerminated(LocalProcess& source, std::optional<int32_t> exitCode) override;
  void dataReceived(std::span<const uint8_t> slice) override;
  winsize getWindowSize() override;
  uint64_t deliveryDeadlineNs() override { return nextFrameDueNs(); }
  bool deliveryDeadlineReached() override { return drawAheadOfFrame(); }
  void deliverWaitingOutput() override { process->deliverPendingNow(); }

  using TerminalView::clipboardCopy;
  using TerminalView::clipboardRead;
  using TerminalView::scrolled;
  using TerminalView::send;
  using TerminalView::setTerminalTitle;
  using TerminalView::sizeChanged;

  std::shared_ptr<LocalProcess> process;
  LocalProcessTerminalViewDelegate* processDelegate = nullptr;

  // A start asked for before the view had its size, not yet made.
  bool startPending() const { return pendingStart.has_value(); }

 protected:
  void size_allocate_vfunc(int width, int height, int baseline) override;

 private:
  struct StartRequest {
    std::string executable;
    std::vector<std::string> args;
    std::optional<std::vector<std::string>> environment;
    std::optional<std::string> execName;
    std::optional<std::string> currentDirectory;
  };
  void startPendingProcess();
  std::optional<StartRequest> pendingStart;
  bool laidOut = false;

  // The process holds its delegate weakly; this non-owning handle expires with the view.
  std::shared_ptr<LocalProcessDelegate> selfHandle;
};

// The window size of a grid of cells for a pseudo-terminal: pixel sizes in device pixels, every
// field bounded to what winsize can hold.
winsize windowSizeFor(int cols, int rows, ViewSize cell, double scale);

}  // namespace vantrelle
