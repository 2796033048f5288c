// Blanks inside a wrapped line copy the same at every width; only the end of the line is trimmed.
#include <gtest/gtest.h>

#include "Vantrelle/Text/SelectionService.h"
#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

struct Case {
  const char* name;
  const char* stream;  // on a 10-column screen
  const char* copied;  // what selecting all copies, before and after widening and narrowing back
};

TEST(WrappedBlanks, CopyKeepsBlanksInsideALineAtEveryWidth) {
  const Case cases[] = {
      {"the end of a wrapped row erased", "0123456789abc\x1b[1;9H\x1b[2X", "01234567  abc"},
      {"characters deleted from a wrapped row", "0123456789abc\x1b[1;5H\x1b[2P", "01236789  abc"},
      {"a whole wrapped row erased", "0123456789abcdefghijXY\x1b[2;1H\x1b[10X", "0123456789          XY"},
      // A line editor backspacing over the wrap leaves an empty row that is still a continuation:
      // the line ends before it, and gains no trailing spaces.
      {"an empty continuation row ends the line", "$ abcdefghij\r\x1b[2X\x1b[A\x1b[10G\x1b[X", "$ abcdefg"},
      {"a wide character moved on leaves no space", "abcdefghi\xe4\xb8\xad\x1b[2;3H\x1b[X", "abcdefghi\xe4\xb8\xad"},
  };
  for (const Case& c : cases) {
    for (size_t step : {std::string_view(c.stream).size(), size_t(1)}) {
      TestHost host;
      Terminal t(&host, sized(10, 4));
      SelectionService selection(t);
      testing::feedInSteps(t, c.stream, step);
      const std::string how = std::string(c.name) + (step == 1 ? ", fed a byte at a time" : "");
      selection.selectAll();
      EXPECT_EQ(selection.getSelectedText(), c.copied) << how;
      t.resize(20, 4);
      selection.selectAll();
      EXPECT_EQ(selection.getSelectedText(), c.copied) << how << ", widened";
      t.resize(10, 4);
      selection.selectAll();
      EXPECT_EQ(selection.getSelectedText(), c.copied) << how << ", narrowed back";
    }
  }
}

}  // namespace
}  // namespace vantrelle
