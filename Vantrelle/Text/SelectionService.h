#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "Vantrelle/Buffer/Position.h"

namespace vantrelle {

class Buffer;
class Terminal;
struct CharData;

// The text selection of one terminal view, in buffer coordinates of the active buffer. `start`
// and `end` are not kept in order; text extraction treats `end` as exclusive.
class SelectionService {
 public:
  enum class SelectionMode { character, word, row };

  struct WordAnchor {
    Position start;
    Position end;
    bool operator==(const WordAnchor&) const = default;
  };

  explicit SelectionService(Terminal& terminal) : terminal(terminal) {}

  bool active() const { return _active; }
  void setActive(bool value);
  bool hasSelectionRange() const { return _hasSelectionRange; }
  const Position& start() const { return _start; }
  const Position& end() const { return _end; }

  Position clamp(const Buffer& buffer, Position position) const;
  void setSelection(Position start, Position end);
  void startSelection();
  void setSoftStart(Position bufferPosition);
  void shiftExtend(Position bufferPosition);
  void dragExtend(Position bufferPosition);
  void selectAll();
  void select(int64_t row);
  void balancedSearchForward(Position from, Buffer& buffer);
  void balancedSearchBackward(Position from, Buffer& buffer);
  // direction < 0 scans backward to the run's first column; otherwise forward to the column
  // just past the run.
  Position extendToWordBoundary(Position position, Buffer& buffer, int direction);
  void selectWordOrExpression(Position at, Buffer& buffer);
  void selectNone();
  std::string getSelectedText();
  std::string debugDescription() const;

  Terminal& terminal;
  std::optional<Position> pivot = Position(0, 0);
  std::optional<WordAnchor> wordSelectionAnchor;
  bool selectingRows = false;
  SelectionMode selectionMode = SelectionMode::character;
  static constexpr char32_t nullChar = 0;

 private:
  enum class RunClass { none, null, space, word };
  std::u32string shownScalars(const CharData& cell) const;
  std::u32string characterAt(Buffer& buffer, Position at) const;
  std::u32string shownCharacterAt(Buffer& buffer, Position at) const;
  RunClass runClassAt(Buffer& buffer, Position at) const;
  std::optional<int64_t> wrappedEnd(Buffer& buffer, int64_t row) const;
  bool inRun(RunClass run, const std::u32string& character) const;
  void activateAndNotify();
  void notify();

  bool _active = false;
  bool _hasSelectionRange = false;
  Position _start;
  Position _end;
};

}  // namespace vantrelle
