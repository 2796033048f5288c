#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Terminal/SelectGraphicRendition.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

struct Lcg {
  uint64_t state;
  size_t below(size_t n) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    return static_cast<size_t>(state >> 33) % n;
  }
};

std::string sequence(const std::vector<int>& pars, const std::vector<uint8_t>& separators) {
  std::string text = "\x1b[";
  for (size_t i = 0; i < pars.size(); ++i) {
    text += std::to_string(pars[i]);
    if (i < separators.size()) text += static_cast<char>(separators[i]);
  }
  return text + "m";
}

// SGR through the terminal takes quick forms for a lone colour, a style then a colour, and the
// common parameters; from any rendition, it must leave what the full rules leave.
TEST(QuickSequence, RenditionsMatchTheFullRules) {
  static const int values[] = {0,  1,  2,   3,  4,  5,  7,  9,  21,  22,  23, 24, 27,  28,  30,    37, 38,
                               38, 38, 39,  40, 47, 48, 48, 48, 49,  58,  59, 90, 97,  100, 107,   2,  2,
                               5,  5,  255, 6,  11, 12, 26, 29, 256, 300, 1,  3,  255, 0,   65535, 4,  23};
  Lcg r{5};
  auto randomPars = [&] {
    // Lone colours and a style before one, as colourful output sends them, among lists of any length.
    static const size_t lengths[] = {1, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 9};
    std::vector<int> pars(lengths[r.below(std::size(lengths))]);
    for (int& p : pars) p = values[r.below(std::size(values))];
    if (r.below(2)) {
      const size_t at = pars.size() >= 4 && r.below(2) ? 1 : 0;
      const bool indexed = r.below(2);
      if (pars.size() >= at + 2) {
        pars[at] = r.below(2) ? 38 : 48;
        pars[at + 1] = indexed ? 5 : 2;
      }
    }
    return pars;
  };
  for (int round = 0; round < 6000; ++round) {
    const std::vector<int> earlier = randomPars();
    const std::vector<int> pars = randomPars();
    std::vector<uint8_t> separators(pars.size() - 1, ';');
    if (round % 4 == 0 && !separators.empty()) separators[r.below(separators.size())] = ':';
    const std::vector<uint8_t> plain(earlier.size() - 1, ';');

    Attribute expected = Terminal::defaultAttribute();
    sgr::apply(expected, earlier, plain, 0, nullptr);
    sgr::apply(expected, pars, separators, 0, nullptr);
    TestHost host;
    Terminal t(&host, sized(10, 2));
    t.feed(sequence(earlier, plain) + sequence(pars, separators));
    ASSERT_EQ(t.currentAttribute(), expected) << sequence(earlier, plain) << sequence(pars, separators);
  }
}

// A stream of the kind full-screen programs send: renditions before cells, runs placed with
// CUP, modes set and reset, the odd sequence the quick paths leave to the general ones. Fed whole
// it takes the quick paths; a byte at a time, or in chunks that cut sequences, it takes the general
// ones. Every cell with its rendition, the cursor and the rendition must come out the same.
TEST(QuickSequence, ColourfulRepaintsLeaveWhatTheGeneralPathsLeave) {
  static const char* const odd[] = {"\x1b[?25l",
                                    "\x1b[?25h",
                                    "\x1b[2 q",
                                    "\x1b[1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25m",
                                    "\x1b[K",
                                    "\x1b[?7l",
                                    "\x1b[?7h",
                                    "\x1b[4:3m",
                                    "\x1b[38:2::10:20:30m",
                                    "\x1b[99999;99999H",
                                    "\x1b[;H",
                                    "\x1b[3\n;4H",
                                    "\r\n",
                                    "\x1b[>1m",
                                    "\x1b(0",
                                    "\x1b(B"};
  Lcg r{9};
  std::string stream;
  while (stream.size() < 6000) {
    switch (r.below(6)) {
      case 0:
        stream += "\x1b[" + std::to_string(1 + r.below(12)) + ";" + std::to_string(1 + r.below(40)) + "H";
        break;
      case 1:
        stream += odd[r.below(std::size(odd))];
        break;
      default: {
        stream += "\x1b[";
        if (r.below(3) == 0) stream += std::to_string(r.below(30)) + ";";
        stream += r.below(2) ? "38" : "48";
        if (r.below(2)) {
          stream += ";5;" + std::to_string(r.below(300));
        } else {
          stream += ";2;" + std::to_string(r.below(256)) + ";" + std::to_string(r.below(256)) + ";" +
                    std::to_string(r.below(256));
        }
        stream += "m";
        for (size_t n = r.below(4); n > 0; --n) stream += static_cast<char>('a' + r.below(26));
      }
    }
  }
  TestHost host;
  Terminal whole(&host, sized(40, 12));
  whole.feed(stream);
  for (size_t chunk : {1, 2, 5, 13}) {
    Terminal cut(&host, sized(40, 12));
    for (size_t at = 0; at < stream.size(); at += chunk) cut.feed(std::string_view(stream).substr(at, chunk));
    ASSERT_EQ(cursor(whole), cursor(cut)) << "chunks of " << chunk;
    ASSERT_EQ(whole.currentAttribute(), cut.currentAttribute()) << "chunks of " << chunk;
    for (int row = 0; row < whole.buffer->lines().count(); ++row) {
      for (int col = 0; col < 40; ++col)
        ASSERT_EQ((*whole.buffer->lines()[row])[col], (*cut.buffer->lines()[row])[col])
            << "row " << row << " column " << col << ", chunks of " << chunk;
    }
  }
}

}  // namespace
}  // namespace vantrelle
