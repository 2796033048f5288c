// The find bar and moving between matches.
#include <cstdio>

#include "Vantrelle/View/TerminalView.h"

namespace vantrelle {

void TerminalView::setupFindBar() {}

TerminalFindBarView& TerminalView::ensureFindBar() {
  if (findState.findBar) return *findState.findBar;
  findState.findBar = std::make_unique<TerminalFindBarView>();
  findState.findBar->set_visible(false);
  findState.findBar->insert_at_end(*this);
  std::weak_ptr<TerminalView*> alive = lifetime;
  auto with = [alive](auto action) {
    return [alive, action](auto&&... args) {
      if (auto owner = alive.lock(); owner && *owner) action(**owner, args...);
    };
  };
  findState.findBar->onSearchChanged =
      with([](TerminalView& v, const std::string& term) { v.handleFindBarSearchChanged(term); });
  findState.findBar->onFindNext = with([](TerminalView& v) { v.performFind(true); });
  findState.findBar->onFindPrevious = with([](TerminalView& v) { v.performFind(false); });
  findState.findBar->onClose = with([](TerminalView& v) { v.hideFindBar(); });
  findState.findBar->onOptionsChanged = with([](TerminalView& v, const SearchOptions& options) {
    v.findState.findBarOptions = options;
    if (!v.findState.findBarTerm.empty()) v.findNext(v.findState.findBarTerm, options, true);
  });
  return *findState.findBar;
}

void TerminalView::showFindBar(bool prefillSelection) {
  TerminalFindBarView& bar = ensureFindBar();
  bar.set_visible(true);
  queue_allocate();
  std::optional<std::string> term;
  if (prefillSelection && selectionActive()) {
    std::string selected = selection->getSelectedText();
    if (!selected.empty()) term = selected;
  }
  if (!term) term = TerminalFindBarView::findPasteboard();
  if (term) {
    bar.setText(*term);
    handleFindBarSearchChanged(*term);
  }
  bar.searchField.grab_focus();
}

void TerminalView::hideFindBar() {
  if (findState.findBar) findState.findBar->set_visible(false);
  grab_focus();
}

void TerminalView::handleFindBarSearchChanged(const std::string& term) {
  findState.findBarTerm = term;
  if (term.empty()) {
    clearSearch();
    return;
  }
  TerminalFindBarView::findPasteboard() = term;
  findNext(term, findState.findBarOptions, true);
}

void TerminalView::performFind(bool next) {
  std::optional<std::string> term;
  if (findState.findBar && findState.findBar->get_visible()) {
    term = findState.findBar->text();
  } else {
    term = TerminalFindBarView::findPasteboard();
  }
  if (!term || term->empty()) return;
  TerminalFindBarView::findPasteboard() = *term;
  SearchOptions options = findState.findBar ? findState.findBar->options() : SearchOptions();
  if (next) {
    findNext(*term, options, true);
  } else {
    findPrevious(*term, options, true);
  }
}

void TerminalView::setFindPasteboardFromSelection() {
  if (!selectionActive()) return;
  std::string selected = selection->getSelectedText();
  if (!selected.empty()) TerminalFindBarView::findPasteboard() = selected;
}

void TerminalView::performFindPanelAction(int tag) {
  switch (tag) {
    case 1:
      showFindBar(true);
      break;
    case 2:
      performFind(true);
      break;
    case 3:
      performFind(false);
      break;
    case 7:
      setFindPasteboardFromSelection();
      showFindBar(true);
      break;
    default:
      break;
  }
}

void TerminalView::performTextFinderAction(int tag) {
  if (tag == 11) {
    hideFindBar();
    return;
  }
  performFindPanelAction(tag);
}

bool TerminalView::validateUserInterfaceItem(const std::string& action, int tag) const {
  bool finder = action == "performTextFinderAction:";
  if (finder || action == "performFindPanelAction:") {
    switch (tag) {
      case 1:
      case 2:
      case 3:
        return true;
      case 7:
        return selectionActive();
      case 11:
      case 12:
      case 13:
        return finder;
      default:
        return false;
    }
  }
  if (action == "paste:" || action == "selectAll:") return true;
  if (action == "copy:") return selectionActive();
  std::printf("Validating User Interface Item: %s\n", action.c_str());
  std::fflush(stdout);
  return false;
}

bool TerminalView::findStep(const std::string& term, const SearchOptions& options, bool scrollToResult, bool forward) {
  if (!search || !selection) return false;
  if (selection->active()) {
    Position a = selection->start(), b = selection->end();
    bool ordered = a.row < b.row || (a.row == b.row && a.col <= b.col);
    search->lastSelection = ordered ? SearchSelection{a, b} : SearchSelection{b, a};
  } else {
    search->lastSelection.reset();
  }
  auto result = forward ? search->findNext(term, options) : search->findPrevious(term, options);
  if (!result) {
    if (selection->active()) deactivateSelection();
    return false;
  }
  int64_t width = std::max(terminal->cols, 1);
  Position start(result->col, result->row);
  Position end = start;
  if (result->size != 0) {
    int64_t p = result->row * width + result->col + result->size;
    end = Position(p % width, p / width);
  }
  selection->setSelection(start, end);
  if (scrollToResult) scrollToReveal(result->row);
  return true;
}

bool TerminalView::findNext(const std::string& term, const SearchOptions& options, bool scrollToResult) {
  return findStep(term, options, scrollToResult, true);
}

bool TerminalView::findPrevious(const std::string& term, const SearchOptions& options, bool scrollToResult) {
  return findStep(term, options, scrollToResult, false);
}

void TerminalView::clearSearch() {
  if (search) search->reset();
  if (selection && selection->active()) deactivateSelection();
}

std::pair<int, int> TerminalView::searchMatchSummary(const std::string& term, const SearchOptions& options, int limit) {
  if (!search) return {0, 0};
  auto all = search->findAll(term, options, limit);
  int current = 0;
  if (search->lastResult) {
    for (size_t i = 0; i < all.size(); i++) {
      if (all[i].col == search->lastResult->col && all[i].row == search->lastResult->row) {
        current = int(i) + 1;
        break;
      }
    }
  }
  return {current, int(all.size())};
}

void TerminalView::scrollToReveal(int64_t row) {
  if (terminal->isCurrentBufferAlternate() || terminal->rows < 1) return;
  Buffer& buffer = *terminal->buffer;
  int rows = terminal->rows;
  if (row >= buffer.yDisp && row <= buffer.yDisp + rows - 1) return;
  int64_t top = row - rows / 2;
  int64_t highest = buffer.lines().count() - rows;
  top = std::max<int64_t>(0, std::min(top, highest));
  scrollTo(int(top), true);
}

}  // namespace vantrelle
