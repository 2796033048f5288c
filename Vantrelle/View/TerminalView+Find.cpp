// The find bar and moving between matches.
#include <chrono>
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
    if (!v.findState.findBarTerm.empty()) v.startFindStep(v.findState.findBarTerm, options, true);
  });
  return *findState.findBar;
}

void TerminalView::showFindBar(bool prefillSelection) {
  TerminalFindBarView& bar = ensureFindBar();
  bar.set_visible(true);
  findState.placedFor = {};
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
  cancelPendingFind();
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
  startFindStep(term, findState.findBarOptions, true);
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
  startFindStep(*term, options, next);
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

// The cell after a match's last cell. A match that ends at a row's last column ends at that row's
// column count rather than at the start of the next row: the selection then holds no line break
// that the match does not, and one on the buffer's last row does not point past the buffer.
Position TerminalView::matchEnd(const SearchResult& result) const {
  const int64_t width = std::max(terminal->cols, 1);
  if (result.size == 0) return Position(result.col, result.row);
  const int64_t p = result.row * width + result.col + result.size;
  if (p % width == 0 && result.size > 0) return Position(width, p / width - 1);
  return Position(p % width, p / width);
}

// The search starts from the selection, which is the current match unless the user moved it.
void TerminalView::searchFromSelection() {
  if (selection->active()) {
    Position a = selection->start(), b = selection->end();
    bool ordered = a.row < b.row || (a.row == b.row && a.col <= b.col);
    search->lastSelection = ordered ? SearchSelection{a, b} : SearchSelection{b, a};
  } else {
    search->lastSelection = shownMatchPlace();
  }
}

// Where the match last shown is now, when output ended its selection. Each line fed ends the
// selection while mouse reports are allowed, so under running output every step started again
// from the top and went to the first match each time. Without output since, a selection the user
// changed, or a match whose text left the scrollback, there is none: the step starts from the
// top as it would.
std::optional<SearchSelection> TerminalView::shownMatchPlace() const {
  const auto& shown = findState.shownMatch;
  if (!shown) return std::nullopt;
  const BufferMark now = BufferMark::of(*terminal);
  const auto dropped = now.linesDroppedSince(shown->mark);
  const bool lineFed = now.linesDropped != shown->mark.linesDropped || now.yBase != shown->mark.yBase ||
                       terminal->buffer->y != shown->cursorRow;
  if (!dropped || !lineFed) return std::nullopt;
  // The selection moved with its text for as long as it stayed active, by up to `dropped` rows.
  const Position& start = selection->start();
  const Position& end = selection->end();
  const int64_t moved = shown->start.row - start.row;
  const bool untouched = start.col == shown->start.col && end.col == shown->end.col &&
                         end.row - start.row == shown->end.row - shown->start.row && moved >= 0 && moved <= *dropped;
  if (!untouched || shown->start.row - *dropped < 0) return std::nullopt;
  return SearchSelection{Position(shown->start.col, shown->start.row - *dropped),
                         Position(shown->end.col, shown->end.row - *dropped)};
}

bool TerminalView::findStep(const std::string& term, const SearchOptions& options, bool scrollToResult, bool forward) {
  cancelPendingFind();
  if (!search || !selection) return false;
  searchFromSelection();
  auto result = forward ? search->findNext(term, options) : search->findPrevious(term, options);
  return showFindResult(result, scrollToResult);
}

bool TerminalView::showFindResult(const std::optional<SearchResult>& result, bool scrollToResult) {
  if (!result) {
    findState.shownMatch.reset();
    if (selection->active()) deactivateSelection();
    // The bar kept off the match that is gone, and may go back to where it would rather lie.
    placeFindBar();
    return false;
  }
  selection->setSelection(Position(result->col, result->row), matchEnd(*result));
  findState.shownMatch =
      FindState::ShownMatch{selection->start(), selection->end(), BufferMark::of(*terminal), terminal->buffer->y};
  if (scrollToResult) revealMatch(selection->start(), selection->end());
  return true;
}

// What the find bar starts (each key typed, Return, the arrows, an option) runs a slice at a
// time: over a big scrollback, reading every line at once held up typing for most of a second.
// The first slice runs at once, so a match near the start shows without a turn of the main loop;
// the rest runs between the loop's other work, and the next search started replaces it.
void TerminalView::startFindStep(const std::string& term, const SearchOptions& options, bool forward) {
  cancelPendingFind();
  if (!search || !selection) return;
  if (term.empty()) {
    findStep(term, options, true, forward);
    return;
  }
  searchFromSelection();
  findState.pendingFind.emplace(
      FindState::PendingFind{search->beginStep(term, options, forward), true, BufferMark::of(*terminal)});
  if (continueFindStep()) scheduleFindStep();
}

void TerminalView::scheduleFindStep() {
  std::weak_ptr<TerminalView*> alive = lifetime;
  auto* holder = new std::weak_ptr<TerminalView*>(alive);
  // After drawing, so the field shows each key as it is typed while the search goes on.
  findState.pendingFindSource.reset(g_idle_add_full(
      G_PRIORITY_HIGH_IDLE + 30,
      [](gpointer data) -> gboolean {
        auto owner = static_cast<std::weak_ptr<TerminalView*>*>(data)->lock();
        if (!owner || !*owner) return G_SOURCE_REMOVE;
        TerminalView& view = **owner;
        if (view.continueFindStep()) return G_SOURCE_CONTINUE;
        // Unless what the step's end set off started another search in its place.
        platform::SourceId& source = view.findState.pendingFindSource;
        if (source.get() == g_source_get_id(g_main_current_source())) source.release();
        return G_SOURCE_REMOVE;
      },
      holder, [](gpointer data) { delete static_cast<std::weak_ptr<TerminalView*>*>(data); }));
}

// Runs one slice; true while the step goes on.
bool TerminalView::continueFindStep() {
  auto& pending = findState.pendingFind;
  if (!pending || !search || !selection) return false;
  const BufferMark mark = BufferMark::of(*terminal);
  if (auto dropped = mark.linesDroppedSince(pending->mark)) {
    pending->step.linesDropped(*dropped);
  } else {
    // Another screen, a reflow or erased scrollback: the rows the step went through are not the
    // rows there now, so it begins again from the selection, which stayed on its text.
    searchFromSelection();
    const SearchStep& old = pending->step;
    pending.emplace(
        FindState::PendingFind{search->beginStep(old.term, old.options.value_or(SearchOptions()), old.forward),
                               pending->scrollToResult, mark});
  }
  pending->mark = mark;
  if (!pending->step.advance(search->engine, SearchStep::Clock::now() + findState.sliceLength)) return true;
  auto result = search->finishStep(pending->step);
  const bool scroll = pending->scrollToResult;
  pending.reset();
  showFindResult(result, scroll);
  return false;
}

void TerminalView::cancelPendingFind() {
  findState.pendingFindSource.reset();
  findState.pendingFind.reset();
}

bool TerminalView::findNext(const std::string& term, const SearchOptions& options, bool scrollToResult) {
  return findStep(term, options, scrollToResult, true);
}

bool TerminalView::findPrevious(const std::string& term, const SearchOptions& options, bool scrollToResult) {
  return findStep(term, options, scrollToResult, false);
}

void TerminalView::clearSearch() {
  cancelPendingFind();
  findState.shownMatch.reset();
  if (search) search->reset();
  if (selection && selection->active()) deactivateSelection();
  placeFindBar();
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
