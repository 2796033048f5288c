#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Parser/QuickParse.h"
#include "engine/parser/RecordingHandler.h"

namespace vantrelle {
namespace {

using testing::RecordingHandler;

std::span<const uint8_t> bytes(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

struct Outcome {
  std::vector<std::string> events;
  int resets = 0;
  int errors = 0;
  ParserState state = ParserState::ground;
};

// The stream cut in two (a cut at the end means none), through the typed loop or the
// table-driven machine alone.
Outcome parsed(const std::string& stream, size_t cut, bool typed, bool abortOnError = false) {
  RecordingHandler h;
  h.abortOnError = abortOnError;
  Outcome out;
  {
    EscapeSequenceParser p(h);
    for (const std::string& chunk : {stream.substr(0, cut), stream.substr(cut)}) {
      if (typed) {
        p.parseWith(h, bytes(chunk));
      } else {
        p.parse(bytes(chunk));
      }
    }
    out.state = p.currentState;
  }
  out.events = h.events;
  out.resets = h.resets;
  out.errors = h.errors;
  return out;
}

void expectSame(const Outcome& a, const Outcome& b, const std::string& what) {
  EXPECT_EQ(a.events, b.events) << what;
  EXPECT_EQ(a.resets, b.resets) << what;
  EXPECT_EQ(a.errors, b.errors) << what;
  EXPECT_EQ(a.state, b.state) << what;
}

std::string shown(const std::string& stream) {
  std::string text;
  for (unsigned char c : stream) {
    if (c >= 0x20 && c < 0x7f) {
      text += char(c);
    } else {
      text.append("<").append(std::to_string(c)).append(">");
    }
  }
  return text;
}

// The typed loop takes text, controls in text and whole plain control sequences itself, and
// hands everything else to the machine: whole or cut anywhere, a stream must give the events
// the machine gives it cut in the same place.
TEST(QuickParse, TheTypedLoopReportsWhatTheMachineReports) {
  static const char* const pieces[] = {
      "\x1b[",  "\x1b[?", "\x1b[>",   "\x1b[=",
      "0",      "7",      "42",       "255",
      "65535",  "65536",  "99999999", ";",
      ":",      ";;",     "m",        "H",
      "h",      "@",      "~",        "?",
      " ",      "$",      "\x7f",     "\n",
      "\r",     "\x1b",   "\x18",     "\x1a",
      "\x85",   "\x9b",   "\x90",     "\xc3\xa9",
      "abc",    "<",      "\x1b]",    "\x07",
      "q",      "\x1b\\", "\x1bP",    "\x1b_",
      "\x1b(0", "\0337",  "\x01",     "\x1b[38;2;1;2;3m",
  };
  uint64_t state = 11;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  for (int round = 0; round < 600; ++round) {
    std::string stream;
    const size_t length = 1 + below(40);
    for (size_t i = 0; i < length; ++i) stream += pieces[below(std::size(pieces))];
    // Parameter lists at and past the limit on their count.
    if (round % 8 == 0) {
      stream += round % 16 ? "\x1b[" : "\x1b[?";
      for (size_t i = 20 + below(8); i > 0; --i) stream += below(2) ? "1;" : ":";
      stream += "2m";
    }
    for (const size_t cut : {stream.size(), below(stream.size() + 1)}) {
      const bool abort = round % 5 == 0;
      expectSame(parsed(stream, cut, true, abort), parsed(stream, cut, false, abort),
                 "cut at " + std::to_string(cut) + ": " + shown(stream));
    }
  }
}

// Cursor positions that follow others are read a word at a time when eight bytes follow the
// introducer: every count of digits on either side, the separators and finals that are not that
// form, and the word reaching past the sequence into text or the next sequence, must give the
// machine's events.
TEST(QuickParse, CursorPositionsOfEveryLengthReportWhatTheMachineReports) {
  static const char* const numbers[] = {"", "0", "1", "9", "10", "42", "99", "100", "255", "999", "1000", "65536"};
  static const char* const separators[] = {";", ":", ";;", ""};
  static const char* const finals[] = {"H", "f", "m", " H", "\x1b"};
  static const char* const after[] = {"", "H", "abcdefghij", "\x1b[5;6H1234567", "12345678H"};
  for (const char* row : numbers) {
    for (const char* separator : separators) {
      for (const char* col : numbers) {
        for (const char* final : finals) {
          for (const char* tail : after) {
            // A cursor position first, as a repaint has them one after another.
            const std::string stream = std::string("\x1b[2;3H\x1b[") + row + separator + col + final + tail;
            for (const size_t cut : {stream.size(), size_t(3), stream.size() / 2})
              expectSame(parsed(stream, cut, true), parsed(stream, cut, false),
                         "cut at " + std::to_string(cut) + ": " + shown(stream));
          }
        }
      }
    }
  }
}

// Parameters with room after them are read without checks on the end of the data: every count
// of fields up to past the limit, every count of digits in them, and the finals and bytes that are
// not that form must give the machine's events, whether the room runs to the end of the data or a
// cut falls inside the sequence.
TEST(QuickParse, RoomyParametersReportWhatTheMachineReports) {
  static const char* const fields[] = {"", "7", "42", "255", "9999", "65535", "123456", "1:2"};
  static const char* const finals[] = {"m", "H", "~", "$p", "?", "\x1b", "\n"};
  const std::string room(40, 'x');
  uint64_t state = 5;
  auto below = [&state](size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  };
  for (size_t count = 1; count <= 27; ++count) {
    for (int round = 0; round < 24; ++round) {
      std::string stream = round % 3 ? "\x1b[" : "\x1b[?";
      for (size_t i = 0; i < count; ++i) {
        if (i) stream += ';';
        // Mostly short fields, so the sequence fits in the window that is read at once.
        stream += fields[below(round % 2 ? 5 : std::size(fields))];
      }
      stream += finals[round % 6 ? 0 : below(std::size(finals))];
      stream += room;
      for (const size_t cut : {stream.size(), below(stream.size() + 1)})
        expectSame(parsed(stream, cut, true), parsed(stream, cut, false),
                   "cut at " + std::to_string(cut) + ": " + shown(stream));
    }
  }
}

}  // namespace
}  // namespace vantrelle
